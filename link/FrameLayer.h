#pragma once
// The frame layer of the upload link. While the projector is in upload mode everything said
// on the line is a message (a 20-byte envelope and its data) carried in frames: a begin
// frame, data frames of at most 16,357 bytes and an end frame, each acknowledged by the other
// side with a command frame that echoes the frame's sequence byte. Retries live here and
// nowhere else; their counting is what the projector expects and must not be changed.

#include "device/DeviceLibrary.h"
#include "device/FrameFormat.h"
#include "common/Reporter.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace halvern {

using Bytes = std::vector<std::uint8_t>;

// A received frame's data must end inside the receive buffer: at most 16,362 bytes.
inline constexpr int kReceivedFrameDataMax = kReceiveBufferSize - kFrameHeaderSize;
inline constexpr int kMessageBufferSize = 327681;    // indices 0 to 327,680
inline constexpr int kMaxMessageFrames = 255;
inline constexpr int kMessageHeaderSize = 20;

// Writes value into count bytes from start, most significant first; every byte is written.
void put_big_endian(std::span<std::uint8_t> buffer, std::int64_t start, std::int64_t value, int count);
// Sum of the bytes from..to inclusive modulo 65,536; 0 when from exceeds to.
std::int32_t compute_checksum(std::span<const std::uint8_t> buffer, std::int64_t from, std::int64_t to);
// Frame bytes 0 to 7: E3 57 01 01 01 03 01 01.
void build_frame_header(std::span<std::uint8_t> buffer);
// Message bytes 0 to 5: 01 01 01 03 01 01.
void build_message_header(std::span<std::uint8_t> buffer);

class FrameLayer {
public:
    // Milliseconds on any monotonic scale.
    using Clock = std::function<std::int64_t()>;

    // handle is the application's serial_handle: every exchange uses its current value.
    FrameLayer(DeviceLibrary& library, const std::int32_t& handle, Reporter& reporter);

    // The clock that bounds the wait for an acknowledgement while frames with another
    // sequence byte keep arriving (the steady clock unless a test sets another): each
    // transmission of a phase may wait one read time-out of the port, counted from when the
    // phase began, so that such frames end a phase no later than silence would.
    void set_clock(Clock clock);

    // Told of every frame transmitted again (a retry): the frame ("begin frame", "data frame
    // 2 of 5", "end frame") and the transmission it is, from 2. Nothing by default.
    using RetryObserver = std::function<void(const QString& frame, int transmission)>;
    void set_retry_observer(RetryObserver observer) { retry_observer_ = std::move(observer); }

    // The receive buffer: the frame read last, from index 0, in 16,385 bytes.
    const Bytes& frame_buffer() const { return frame_buffer_; }
    // The message built last (exactly as long as the message), or after receive_message the
    // 327,681-byte buffer holding the reply from index 0.
    const Bytes& message_buffer() const { return message_buffer_; }

    // Bytes cleared so far: every read and every received message start from a buffer of
    // zeros, and only what the last use wrote is cleared again.
    std::uint64_t bytes_zeroed() const { return bytes_zeroed_; }

    // Fills message_buffer with one message: envelope code and parameter byte, the data, its
    // length and both checksums (the header checksum covers the data checksum).
    void build_message(std::uint8_t code, std::uint8_t parameter, std::span<const std::uint8_t> data);

    // A 27-byte command frame in frame_buffer, transmitted. True when send_data reports it sent.
    bool send_command_frame(std::uint8_t kind, std::uint8_t role, std::int16_t sequence);
    // A data frame carrying source[first..last] (count bytes), transmitted.
    bool send_data_frame(std::span<const std::uint8_t> source, std::int64_t first, std::int64_t last, std::int64_t count,
                         std::int32_t frame_count, std::int32_t frame_number, std::int16_t sequence);

    // Sends message_buffer as one message: begin frame, data frames, end frame, each until
    // acknowledged or out of retries. Shows its own box on most failures.
    bool send_message();
    // Receives one message of the device into message_buffer (327,681 bytes, the message from
    // index 0), acknowledging each frame. Gives up silently when the device does not answer.
    bool receive_message();

private:
    struct Phase;
    // Transmits a phase's frame until the device acknowledges it or the retries run out.
    bool transmit_until_acknowledged(const Phase& phase);
    // The read time-out the port was opened with (the library's answer for the handle).
    std::int64_t read_timeout_ms() const;
    // Clears frame_buffer to 16,385 zero bytes and reads one frame into it.
    bool read_frame();
    // Reads one more frame into frame_buffer as it stands.
    bool read_again();
    // frame_buffer as 16,385 zero bytes: only the bytes the last reads may have written are
    // cleared.
    void clear_frame();
    // buffer as size zero bytes: when it has that size already, only its first used bytes
    // are cleared. used becomes 0.
    void clear(Bytes& buffer, std::size_t size, std::size_t& used);
    bool send_frame();
    std::int64_t now() const { return clock_(); }

    DeviceLibrary& library_;
    const std::int32_t& handle_;
    Reporter& reporter_;
    Clock clock_;
    RetryObserver retry_observer_;
    // Frames read from the line, and how many of its leading bytes may not be zero.
    Bytes frame_buffer_;
    std::size_t frame_used_ = 0;
    // The frame being sent: every byte is written, so it is never cleared.
    Bytes send_buffer_;
    // Two buffers take turns as message_buffer: the message being sent, and the receive
    // buffer, which keeps its 327,681 bytes between replies so that only the reply_used_ bytes
    // the last reply wrote need clearing.
    Bytes message_buffer_;
    Bytes other_message_buffer_;
    bool holds_reply_ = false;
    std::size_t reply_used_ = 0;
    std::uint64_t bytes_zeroed_ = 0;
};

}  // namespace halvern
