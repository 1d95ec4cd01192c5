// receive_message of the frame layer against a device that says whatever the input says.
// The input is a list of reads: a tag byte (low bit clear: the read times out; set: a frame
// follows), then for a frame two bytes of length and that many bytes (cut short at the end of
// the input). Bytes 10 and 11 of every frame are forced into 1..3 by the tag's other bits
// half the time, so that the exchange gets past its begin phase often enough to matter.
// Whatever arrives, the call must end, write nothing outside its buffers, and on success hold
// a message no longer than the message buffer.

#include "link/FrameLayer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    halvern::test::ScriptedDeviceLibrary lib;
    halvern::test::RecordingReporter reporter;
    std::int32_t handle = 1;
    halvern::FrameLayer layer(lib, handle, reporter);

    std::size_t at = 0;
    while (at < size) {
        const std::uint8_t tag = data[at++];
        if ((tag & 1) == 0) {
            lib.reads.push_back({halvern::kTimeout, {}});
            continue;
        }
        std::size_t length = 0;
        if (at + 2 <= size) length = (std::size_t(data[at]) << 8) | data[at + 1];
        at = std::min(size, at + 2);
        length = std::min(length, size - at);
        halvern::test::ScriptedDeviceLibrary::Frame frame(data + at, data + at + length);
        at += length;
        if ((tag & 2) != 0 && frame.size() > 11) {
            frame[10] = static_cast<std::uint8_t>(1 + (tag >> 2) % 3);
            frame[11] = static_cast<std::uint8_t>(1 + (tag >> 4) % 2);
        }
        lib.reads.push_back({halvern::kOk, std::move(frame)});
    }

    const bool received = layer.receive_message();
    if (layer.message_buffer().size() != static_cast<std::size_t>(halvern::kMessageBufferSize)) std::abort();
    if (received && lib.sent_frames.empty()) std::abort();  // every frame taken is acknowledged
    return 0;
}
