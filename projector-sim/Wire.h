#pragma once
// Byte layouts of the serial line as the projector sees them: device command requests and
// replies, upload frames, message envelopes, and the scanner that cuts the incoming byte
// stream into requests and frames.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvern::sim {

using Bytes = std::vector<std::uint8_t>;

// Numbers on the line are big-endian.
void put_be(Bytes& b, std::size_t at, std::uint32_t value, int count);
std::uint32_t get_be(const Bytes& b, std::size_t at, int count);
// Sum of b[from..to] modulo 65,536; 0 when from > to.
std::uint32_t sum16(const Bytes& b, std::size_t from, std::size_t to);

// ---- Device commands -------------------------------------------------------------------
constexpr std::size_t kRequestSize = 6;
constexpr std::size_t kReplySize = 263;
constexpr std::size_t kReplyBlockSize = 256;

struct Request {
    std::uint8_t code = 0;
    std::uint8_t number = 0;
};

// The request in 6 bytes starting with A5 3C; nullopt when its check byte is wrong.
std::optional<Request> decode_request(const std::uint8_t* six);
Bytes encode_request(std::uint8_t code, std::uint8_t number);
// The 263-byte reply: lead-in A5 C3, echo, device result, the block, checksum.
Bytes encode_reply(const Request& r, std::uint8_t result, const Bytes& block256);

// ---- Upload frames -----------------------------------------------------------------------
constexpr std::size_t kFrameOverhead = 27;
constexpr std::size_t kMaxFrameSize = 16384;
constexpr std::size_t kMaxFrameData = kMaxFrameSize - kFrameOverhead;   // 16,357

enum FrameKind : std::uint8_t { kBegin = 1, kData = 2, kEnd = 3 };
enum FrameRole : std::uint8_t { kTransmission = 1, kAcknowledgement = 2 };

struct Frame {
    std::uint8_t kind = 0;
    std::uint8_t role = 0;
    std::uint8_t sequence = 0;
    std::uint8_t frame_count = 1;
    std::uint8_t frame_number = 1;
    Bytes data;
};

Bytes encode_frame(const Frame& f);
// Checks every field the device can check (length fields, both checksums, trailer).
// Returns the frame, or nullopt with the reason in *why.
std::optional<Frame> decode_frame(const Bytes& raw, std::string* why);
// Cuts a message into a begin frame, data frames of at most 16,357 bytes and an end frame.
std::vector<Frame> frames_of_message(const Bytes& message);

// ---- Message envelope --------------------------------------------------------------------
constexpr std::size_t kEnvelopeSize = 20;

struct Message {
    std::uint8_t code = 0;
    std::uint8_t parameter = 0;
    Bytes data;
};

Bytes encode_message(const Message& m);
std::optional<Message> decode_message(const Bytes& raw, std::string* why);

// ---- Incoming stream ---------------------------------------------------------------------
// Splits what the system writes into device command requests (A5 3C ...) and raw upload
// frames (E3 57 ...), the way the system's own reader hunts for a lead-in: bytes before a
// lead-in are skipped, and a frame length outside 27..16,384 restarts the hunt after the
// lead-in that was found.
class StreamScanner {
public:
    struct Item {
        enum Type { kRequestItem, kFrameItem, kBadRequest, kSkipped } type;
        Bytes bytes;   // the 6 request bytes, the whole raw frame, or the bytes skipped
    };
    void feed(const std::uint8_t* p, std::size_t n);
    // Next complete item, or nullopt when more bytes are needed.
    std::optional<Item> next();
    // Throws away a partial request or frame (the sender stopped in the middle).
    void discard_partial();
    bool has_partial() const { return !buf_.empty(); }

private:
    Bytes buf_;
};

std::string hex(const Bytes& b, std::size_t max = 32);

// ---- Line pace ---------------------------------------------------------------------------
// One direction of a serial line as a UART moves it: ten bits a byte, so each byte takes
// 1 / rate seconds (rate in bytes a second), one right after the other for as long as the
// sender keeps the line busy. A byte handed to an idle line starts when it is handed over.
// Times are in seconds on any clock that does not run backwards.
class LinePace {
public:
    // The sender has nothing more for the line: the next byte starts when it is handed over.
    void idle() { idle_ = true; }
    // Bytes are waiting at `now`: an idle line starts them now; a busy line goes on at its
    // own clock.
    void start(double now);
    // How many of the waiting bytes have fully crossed the line by `now`.
    std::size_t due(double now, double rate) const;
    // n bytes have been passed on.
    void take(std::size_t n, double rate);
    // When n more bytes will have fully crossed the line.
    double ready_at(std::size_t n, double rate) const;

private:
    double clock_ = 0;   // when the last byte passed on ended
    bool idle_ = true;
};

}  // namespace halvern::sim
