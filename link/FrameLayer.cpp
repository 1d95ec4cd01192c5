#include "link/FrameLayer.h"

#include "image/VersionControl.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <array>

namespace halvern {

namespace {

const QString kCommandNotSent = QStringLiteral("Unable to transmit command to device.");
const QString kDataNotSent = QStringLiteral("Unable to transmit data to device.");
const QString kOutOfRetries = QStringLiteral("Unable to communicate with device.  Maximum number of retries reached.");
const QString kAckNotSent = QStringLiteral("Unable to communicate with device.");

constexpr std::uint8_t kFrameLeadIn[8] = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01};
constexpr std::uint8_t kMessageLeadIn[6] = {0x01, 0x01, 0x01, 0x03, 0x01, 0x01};

// The four retries of a phase: an acknowledgement counts while the counter is 0 to 3; the
// sixth transmission (counter 5) is never read.
constexpr int kLastCountedRetry = 4;
constexpr int kLastTransmission = 4;

}  // namespace

void put_big_endian(std::span<std::uint8_t> buffer, std::int64_t start, std::int64_t value, int count) {
    // Index start holds the most significant byte; zero bytes are written too.
    for (int k = 0; k < count; ++k) {
        const std::int64_t index = start + k;
        if (index >= 0 && index < static_cast<std::int64_t>(buffer.size()))
            buffer[static_cast<std::size_t>(index)] = static_cast<std::uint8_t>((value >> (8 * (count - 1 - k))) & 0xFF);
    }
}

std::int32_t compute_checksum(std::span<const std::uint8_t> buffer, std::int64_t from, std::int64_t to) {
    if (from > to) return 0;
    from = std::max<std::int64_t>(from, 0);
    to = std::min<std::int64_t>(to, static_cast<std::int64_t>(buffer.size()) - 1);
    std::uint32_t sum = 0;
    for (std::int64_t i = from; i <= to; ++i) sum += buffer[static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(sum % 65536u);
}

void build_frame_header(std::span<std::uint8_t> buffer) { std::copy(std::begin(kFrameLeadIn), std::end(kFrameLeadIn), buffer.begin()); }

void build_message_header(std::span<std::uint8_t> buffer) {
    std::copy(std::begin(kMessageLeadIn), std::end(kMessageLeadIn), buffer.begin());
}

FrameLayer::FrameLayer(DeviceLibrary& library, const std::int32_t& handle, Reporter& reporter)
    : library_(library), handle_(handle), reporter_(reporter), clock_([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {}

void FrameLayer::set_clock(Clock clock, std::int32_t read_timeout_ms) {
    clock_ = std::move(clock);
    read_timeout_ms_ = read_timeout_ms;
}

void FrameLayer::build_message(std::uint8_t code, std::uint8_t parameter, std::span<const std::uint8_t> data) {
    // The envelope is built beside the buffer and the message appended whole: every byte is
    // written, so nothing needs clearing first.
    const std::int64_t d = static_cast<std::int64_t>(data.size());
    std::array<std::uint8_t, kMessageHeaderSize> envelope{};
    build_message_header(envelope);
    put_big_endian(envelope, 6, kMessageHeaderSize + d, 4);
    envelope[10] = code;
    envelope[11] = parameter;
    put_big_endian(envelope, 12, d, 4);
    put_big_endian(envelope, 16, d == 0 ? 0 : compute_checksum(data, 0, d - 1), 2);
    put_big_endian(envelope, 18, compute_checksum(envelope, 0, 17), 2);
    if (holds_reply_) {
        message_buffer_.swap(other_message_buffer_);
        holds_reply_ = false;
    }
    message_buffer_.clear();
    message_buffer_.insert(message_buffer_.end(), envelope.begin(), envelope.end());
    message_buffer_.insert(message_buffer_.end(), data.begin(), data.end());
}

bool FrameLayer::send_frame() {
    std::int32_t out = 0;
    return library_.send_data(handle_, send_buffer_, out) != 0;
}

bool FrameLayer::send_command_frame(std::uint8_t kind, std::uint8_t role, std::int16_t sequence) {
    std::array<std::uint8_t, kFrameOverhead> frame{};
    build_frame_header(frame);
    put_big_endian(frame, 8, kFrameOverhead, 2);
    frame[10] = kind;
    frame[11] = role;
    frame[12] = static_cast<std::uint8_t>(sequence);
    frame[13] = 1;
    frame[14] = 1;
    put_big_endian(frame, 21, compute_checksum(frame, 0, 20), 2);
    frame[25] = 0x7A;
    frame[26] = 0xCE;
    send_buffer_.assign(frame.begin(), frame.end());  // no allocation once the buffer has grown
    return send_frame();
}

bool FrameLayer::send_data_frame(std::span<const std::uint8_t> source, std::int64_t first, std::int64_t last,
                                 std::int64_t count, std::int32_t frame_count, std::int32_t frame_number,
                                 std::int16_t sequence) {
    const std::int64_t n = last - first + 1;
    if (first < 0 || n < 0 || n > kFrameDataMax || count != n || last >= static_cast<std::int64_t>(source.size()) ||
        frame_count < 0 || frame_count > 255 || frame_number < 0 || frame_number > 255)
        return false;
    // Header, data and trailer are appended in turn: every byte is written, none cleared.
    std::array<std::uint8_t, kFrameHeaderSize> header{};
    build_frame_header(header);
    put_big_endian(header, 8, count + kFrameOverhead, 2);
    header[10] = kDataFrame;
    header[11] = kTransmission;
    header[12] = static_cast<std::uint8_t>(sequence);
    header[13] = static_cast<std::uint8_t>(frame_count);
    header[14] = static_cast<std::uint8_t>(frame_number);
    put_big_endian(header, 15, count, 4);
    put_big_endian(header, 19, n, 2);
    put_big_endian(header, 21, compute_checksum(header, 0, 20), 2);
    const std::int32_t data_sum = compute_checksum(source, first, last);
    const std::uint8_t trailer[4] = {static_cast<std::uint8_t>(data_sum >> 8), static_cast<std::uint8_t>(data_sum & 0xFF),
                                     0x7A, 0xCE};
    send_buffer_.clear();
    send_buffer_.insert(send_buffer_.end(), header.begin(), header.end());
    send_buffer_.insert(send_buffer_.end(), source.begin() + first, source.begin() + first + n);
    send_buffer_.insert(send_buffer_.end(), std::begin(trailer), std::end(trailer));
    return send_frame();
}

void FrameLayer::clear(Bytes& buffer, std::size_t size, std::size_t& used) {
    if (buffer.size() != size) {
        buffer.assign(size, 0);
        bytes_zeroed_ += size;
    } else {
        std::fill_n(buffer.begin(), used, 0);
        bytes_zeroed_ += used;
    }
    used = 0;
}

void FrameLayer::clear_frame() { clear(frame_buffer_, kReceiveBufferSize, frame_used_); }

bool FrameLayer::read_frame() {
    clear_frame();
    return read_again();
}

bool FrameLayer::read_again() {
    if (frame_buffer_.size() != static_cast<std::size_t>(kReceiveBufferSize)) clear_frame();
    std::int32_t out = 0;
    const bool read = library_.get_data(handle_, frame_buffer_, out) == 0;
    // out is the number of bytes the library wrote from index 0; when it does not say, the
    // whole buffer may have been written.
    const std::size_t written =
        out > 0 && out <= kReceiveBufferSize ? static_cast<std::size_t>(out) : frame_buffer_.size();
    frame_used_ = std::max(frame_used_, written);
    return read;
}

bool FrameLayer::send_message() {
    const std::span<const std::uint8_t> message(message_buffer_);
    const std::int64_t length = static_cast<std::int64_t>(message.size());
    const std::int64_t frames = length / kFrameDataMax + (length % kFrameDataMax != 0 ? 1 : 0);
    if (frames > kMaxMessageFrames) {
        // The frame count is one byte: such a message cannot be framed at all.
        reporter_.message_box(kDataNotSent);
        return false;
    }

    // Frames whose sequence byte does not match are ignored, but only for one read time-out
    // after the present counter first went out: then the wait counts as a failed read, so that
    // a line that keeps producing such frames cannot hold the exchange for ever.
    std::int64_t sent_at = now();

    // Begin phase.
    std::int16_t counter = 0;
    if (!send_command_frame(kBeginFrame, kTransmission, counter)) {
        reporter_.message_box(kCommandNotSent);
        return false;
    }
    for (;;) {
        if (counter > kLastTransmission) {
            reporter_.message_box(kOutOfRetries);
            return false;
        }
        if (read_frame()) {
            if (frame_buffer_[12] == counter) break;
            if (!waited_out(sent_at)) continue;  // not ours: read the next frame
        }
        ++counter;
        sent_at = now();
        if (!send_command_frame(kBeginFrame, kTransmission, counter)) {
            reporter_.message_box(kCommandNotSent);
            return false;
        }
    }
    if (counter >= kLastCountedRetry) {
        reporter_.message_box(kOutOfRetries);
        return false;
    }

    // Data phase.
    std::int64_t first = 0;
    const std::int64_t highest = length - 1;
    for (std::int64_t n = 1; n <= frames; ++n) {
        std::int64_t last = first + kFrameDataMax - 1;
        if (last >= highest) last = highest;
        const std::int64_t count = last - first + 1;
        counter = 0;
        sent_at = now();
        auto transmit = [&] {
            return send_data_frame(message, first, last, count, static_cast<std::int32_t>(frames),
                                   static_cast<std::int32_t>(n), counter);
        };
        if (!transmit()) {
            reporter_.message_box(kDataNotSent);
            return false;
        }
        for (;;) {
            if (counter > kLastTransmission) {
                reporter_.message_box(kOutOfRetries);
                return false;
            }
            if (read_frame()) {
                if (frame_buffer_[12] == counter) {
                    if (counter >= kLastCountedRetry) {
                        reporter_.message_box(kOutOfRetries);
                        return false;
                    }
                    break;
                }
                // A mismatched acknowledgement: the same frame again, counter unchanged,
                // unless this counter has waited a whole read time-out already.
                if (waited_out(sent_at)) {
                    ++counter;
                    sent_at = now();
                }
            } else {
                ++counter;
                sent_at = now();
            }
            if (!transmit()) {
                reporter_.message_box(kDataNotSent);
                return false;
            }
        }
        first = last + 1;
    }

    // End phase: once any frame has been read after the end frame, the message counts as
    // delivered.
    bool result = false;
    counter = 0;
    sent_at = now();
    if (!send_command_frame(kEndFrame, kTransmission, 0)) {
        reporter_.message_box(kCommandNotSent);
        return false;
    }
    for (;;) {
        if (counter > kLastTransmission) return result;
        if (read_frame()) {
            result = true;
            if (frame_buffer_[12] == counter) return true;
            if (!waited_out(sent_at)) continue;
        }
        ++counter;
        sent_at = now();
        if (!send_command_frame(kEndFrame, kTransmission, counter)) {
            reporter_.message_box(kCommandNotSent);
            return result;
        }
    }
}

bool FrameLayer::receive_message() {
    clear_frame();
    if (!holds_reply_) {
        message_buffer_.swap(other_message_buffer_);
        holds_reply_ = true;
    }
    clear(message_buffer_, kMessageBufferSize, reply_used_);
    std::size_t position = 0;
    int frame_counter = 1;

    // Begin phase: four frames are examined for the device's begin frame.
    int counter = 0;
    bool read = read_again();
    for (;;) {
        if (counter >= kLastCountedRetry) return false;
        if (read && frame_buffer_[10] == kBeginFrame && frame_buffer_[11] == kTransmission) break;
        ++counter;
        read = read_again();
    }
    if (!send_command_frame(kBeginFrame, kAcknowledgement, frame_buffer_[12])) {
        reporter_.message_box(kCommandNotSent);
        return false;
    }

    // Data phase, once per data frame; the frame count is that of the latest data frame.
    int total = 0;
    do {
        counter = 0;
        for (;;) {
            if (counter >= kLastCountedRetry) return false;
            read = read_frame();
            if (read && frame_buffer_[10] == kDataFrame && frame_buffer_[11] == kTransmission) break;
            ++counter;
            read_again();  // one further frame, discarded
        }
        const std::int64_t length = get_big_endian(std::span<const std::uint8_t>(frame_buffer_), 19, 2);
        total = frame_buffer_[13];
        // A frame or a message that would not fit its buffer fails the exchange.
        if (length > kReceivedFrameDataMax || position + static_cast<std::size_t>(length) > message_buffer_.size())
            return false;
        std::copy_n(frame_buffer_.begin() + kFrameHeaderSize, length, message_buffer_.begin() + static_cast<std::ptrdiff_t>(position));
        position += static_cast<std::size_t>(length);
        reply_used_ = position;
        if (!send_command_frame(kDataFrame, kAcknowledgement, frame_buffer_[12])) {
            reporter_.message_box(kAckNotSent);
            return false;
        }
        ++frame_counter;
    } while (frame_counter <= total);

    // End phase: the cleared buffer is never the end frame, so three frames are examined.
    clear_frame();
    counter = 0;
    for (;;) {
        if (counter >= kLastCountedRetry) return false;
        if (read && frame_buffer_[10] == kEndFrame && frame_buffer_[11] == kTransmission) break;
        ++counter;
        read = read_again();
    }
    if (!send_command_frame(kEndFrame, kAcknowledgement, frame_buffer_[12])) {
        reporter_.message_box(kAckNotSent);
        return false;
    }
    return true;
}

}  // namespace halvern
