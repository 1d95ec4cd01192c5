// The S-record reader on arbitrary text. The first eight bytes of an input give the window
// (start, then its span); the rest is NAME.mot. Whatever the text, the reader must end with
// one box exactly when it fails, keep the image buffer at its size, store nothing past the
// window, and on success give a summary that fits the window.
#include "fuzz/FuzzSupport.h"
#include "image/MotorolaReader.h"

#include <algorithm>
#include <cstdlib>

using namespace halvern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::int64_t start = 0, span = 0xFFFF;
    if (size >= 8) {
        start = (std::int64_t(data[0]) << 24) | (data[1] << 16) | (data[2] << 8) | data[3];
        // Mostly small windows, which keep an execution cheap; bit 7 of the fifth byte asks
        // for spans up to the whole buffer.
        span = ((std::int64_t(data[4]) << 24) | (data[5] << 16) | (data[6] << 8) | data[7]) &
               ((data[4] & 0x80) ? 0xFFFFF : 0xFFF);
        data += 8;
        size -= 8;
    }
    const QString& dir = fuzz::scratch_directory();
    fuzz::write_file(dir, QStringLiteral("IMG.mot"), fuzz::bytes_of(data, size));

    CollectingReporter reporter;
    ImageBuffer image;
    MotorolaFileSummary summary;
    const bool ok = read_motorola_file(QStringLiteral("IMG.mot"), dir, image, start, start + span, reporter, &summary);

    if (reporter.boxes.size() != (ok ? 0 : 1)) std::abort();
    if (!ok && !reporter.boxes[0].startsWith(QStringLiteral("Motorola format error.  "))) std::abort();
    if (image.size() != static_cast<std::size_t>(kImageBufferSize)) std::abort();
    if (std::any_of(image.begin() + span + 1, image.end(), [](std::uint8_t b) { return b != 0xFF; })) std::abort();
    if (ok && (summary.ff_filled < 0 || summary.ff_filled > span + 1 || summary.bytes_inside < span + 1 - summary.ff_filled))
        std::abort();
    return 0;
}
