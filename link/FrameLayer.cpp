#include "link/FrameLayer.h"

#include "image/VersionControl.h"

#include <QString>

#include <algorithm>
#include <chrono>
#include <array>
#include <functional>

namespace halvern {

namespace {

const QString kCommandNotSent = QStringLiteral("Unable to transmit command to device.");
const QString kDataNotSent = QStringLiteral("Unable to transmit data to device.");
const QString kOutOfRetries = QStringLiteral("Unable to communicate with device.  Maximum number of retries reached.");
const QString kAckNotSent = QStringLiteral("Unable to communicate with device.");

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
    if (from > to) return 0;
    return static_cast<std::int32_t>(
        frame_sum(buffer.subspan(static_cast<std::size_t>(from), static_cast<std::size_t>(to - from + 1))));
}

void build_frame_header(std::span<std::uint8_t> buffer) {
    std::copy(kFrameLeadInBytes.begin(), kFrameLeadInBytes.end(), buffer.begin());
}

void build_message_header(std::span<std::uint8_t> buffer) {
    std::copy(std::begin(kMessageLeadIn), std::end(kMessageLeadIn), buffer.begin());
}

FrameLayer::FrameLayer(DeviceLibrary& library, const std::int32_t& handle, Reporter& reporter)
    : library_(library), handle_(handle), reporter_(reporter), clock_([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {}

void FrameLayer::set_clock(Clock clock) { clock_ = std::move(clock); }

std::int64_t FrameLayer::read_timeout_ms() const {
    // A library that cannot tell is given the longest time-out a port is opened with.
    const std::int32_t given = library_.read_timeout_ms(handle_);
    return given > 0 ? given : kLongestReadTimeoutMs;
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
    put_big_endian(frame, kFrameLengthAt, kFrameOverhead, 2);
    frame[kFrameKindAt] = kind;
    frame[kFrameRoleAt] = role;
    frame[kFrameSequenceAt] = static_cast<std::uint8_t>(sequence);
    frame[kFrameCountAt] = 1;
    frame[kFrameNumberAt] = 1;
    put_big_endian(frame, kFrameHeaderSumAt, compute_checksum(frame, 0, kFrameHeaderSumAt - 1), 2);
    std::copy(kFrameTrailer.begin(), kFrameTrailer.end(), frame.end() - 2);
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
    put_big_endian(header, kFrameLengthAt, count + kFrameOverhead, 2);
    header[kFrameKindAt] = kDataFrame;
    header[kFrameRoleAt] = kTransmission;
    header[kFrameSequenceAt] = static_cast<std::uint8_t>(sequence);
    header[kFrameCountAt] = static_cast<std::uint8_t>(frame_count);
    header[kFrameNumberAt] = static_cast<std::uint8_t>(frame_number);
    put_big_endian(header, kFrameDataCountAt, count, 4);
    put_big_endian(header, kFrameDataCount2At, n, 2);
    put_big_endian(header, kFrameHeaderSumAt, compute_checksum(header, 0, kFrameHeaderSumAt - 1), 2);
    const std::int32_t data_sum = compute_checksum(source, first, last);
    const std::uint8_t trailer[4] = {static_cast<std::uint8_t>(data_sum >> 8), static_cast<std::uint8_t>(data_sum & 0xFF),
                                     kFrameTrailer[0], kFrameTrailer[1]};
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

// One phase of sending a message: the frame it transmits and how it treats what comes back.
struct FrameLayer::Phase {
    std::function<bool(std::int16_t sequence)> transmit;
    const QString& not_sent;  // the box when the frame cannot be transmitted
    // For the retry observer: "begin frame", "end frame", or "data frame" with its number
    // and the message's frame count.
    QLatin1String name;
    std::int64_t number = 0;
    std::int64_t count = 0;
    // Data frames: a frame with another sequence byte has the same frame sent again (counter
    // unchanged). Begin and end frames: it is passed over and the next frame read.
    bool resend_on_mismatch = false;
    // End frame: an acknowledgement to the fifth transmission still counts, any frame read
    // counts as delivery, and running out of retries shows no box.
    bool closing = false;
};

bool FrameLayer::transmit_until_acknowledged(const Phase& phase) {
    // The counter goes out as the sequence byte and moves on after a failed read, or once
    // its read time-out is over while only frames with another sequence byte arrive. Those
    // time-outs are laid end to end from the start of the phase, so that a device that keeps
    // sending such frames fails the phase after as many time-outs as a silent one.
    const std::int64_t timeout = read_timeout_ms();
    std::int64_t deadline = now() + timeout;
    bool delivered = false;
    std::int16_t counter = 0;
    int transmissions = 1;
    if (!phase.transmit(counter)) {
        reporter_.message_box(phase.not_sent);
        return false;
    }
    for (;;) {
        if (counter > kLastTransmission) {
            if (!phase.closing) reporter_.message_box(kOutOfRetries);
            return delivered;
        }
        bool next_counter = true;
        if (read_frame()) {
            delivered = phase.closing;
            if (frame_buffer_[kFrameSequenceAt] == counter) {
                if (phase.closing || counter < kLastCountedRetry) return true;
                reporter_.message_box(kOutOfRetries);
                return false;
            }
            next_counter = now() >= deadline;
            if (next_counter) deadline += timeout;
            else if (!phase.resend_on_mismatch) continue;  // not ours: read the next frame
        } else {
            deadline = now() + timeout;
        }
        if (next_counter) ++counter;
        if (retry_observer_)
            retry_observer_(phase.number > 0 ? QStringLiteral("%1 %2 of %3").arg(phase.name).arg(phase.number).arg(phase.count)
                                             : QString(phase.name),
                            ++transmissions);
        if (!phase.transmit(counter)) {
            reporter_.message_box(phase.not_sent);
            return delivered;
        }
    }
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

    const Phase begin{[&](std::int16_t sequence) { return send_command_frame(kBeginFrame, kTransmission, sequence); },
                      kCommandNotSent, QLatin1String("begin frame")};
    if (!transmit_until_acknowledged(begin)) return false;

    std::int64_t first = 0;
    const std::int64_t highest = length - 1;
    for (std::int64_t n = 1; n <= frames; ++n) {
        const std::int64_t last = std::min(first + kFrameDataMax - 1, highest);
        const Phase data{[&](std::int16_t sequence) {
                             return send_data_frame(message, first, last, last - first + 1,
                                                    static_cast<std::int32_t>(frames), static_cast<std::int32_t>(n),
                                                    sequence);
                         },
                         kDataNotSent, QLatin1String("data frame"), n, frames, true};
        if (!transmit_until_acknowledged(data)) return false;
        first = last + 1;
    }

    // The end frame goes out with sequence byte 0 first, like every phase.
    const Phase end{[&](std::int16_t sequence) { return send_command_frame(kEndFrame, kTransmission, sequence); },
                    kCommandNotSent, QLatin1String("end frame"), 0, 0, false, true};
    return transmit_until_acknowledged(end);
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
        if (read && frame_buffer_[kFrameKindAt] == kBeginFrame && frame_buffer_[kFrameRoleAt] == kTransmission) break;
        ++counter;
        read = read_again();
    }
    if (!send_command_frame(kBeginFrame, kAcknowledgement, frame_buffer_[kFrameSequenceAt])) {
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
            if (read && frame_buffer_[kFrameKindAt] == kDataFrame && frame_buffer_[kFrameRoleAt] == kTransmission) break;
            ++counter;
            read_again();  // one further frame, discarded
        }
        const std::int64_t length = get_big_endian(std::span<const std::uint8_t>(frame_buffer_), kFrameDataCount2At, 2);
        total = frame_buffer_[kFrameCountAt];
        // A frame or a message that would not fit its buffer fails the exchange.
        if (length > kReceivedFrameDataMax || position + static_cast<std::size_t>(length) > message_buffer_.size())
            return false;
        std::copy_n(frame_buffer_.begin() + kFrameHeaderSize, length, message_buffer_.begin() + static_cast<std::ptrdiff_t>(position));
        position += static_cast<std::size_t>(length);
        reply_used_ = position;
        if (!send_command_frame(kDataFrame, kAcknowledgement, frame_buffer_[kFrameSequenceAt])) {
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
        if (read && frame_buffer_[kFrameKindAt] == kEndFrame && frame_buffer_[kFrameRoleAt] == kTransmission) break;
        ++counter;
        read = read_again();
    }
    if (!send_command_frame(kEndFrame, kAcknowledgement, frame_buffer_[kFrameSequenceAt])) {
        reporter_.message_box(kAckNotSent);
        return false;
    }
    return true;
}

}  // namespace halvern
