#include "Wire.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace halvern::sim {

namespace {
constexpr std::uint8_t kFrameLeadIn[8] = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01};
constexpr std::uint8_t kMessageLeadIn[6] = {0x01, 0x01, 0x01, 0x03, 0x01, 0x01};

void fail(std::string* why, const std::string& text) {
    if (why) *why = text;
}
}  // namespace

void put_be(Bytes& b, std::size_t at, std::uint32_t value, int count) {
    for (int k = count - 1; k >= 0; --k) {
        b[at + k] = static_cast<std::uint8_t>(value & 0xFF);
        value >>= 8;
    }
}

std::uint32_t get_be(const Bytes& b, std::size_t at, int count) {
    std::uint32_t v = 0;
    for (int k = 0; k < count; ++k) v = (v << 8) | b[at + k];
    return v;
}

std::uint32_t sum16(const Bytes& b, std::size_t from, std::size_t to) {
    if (from > to) return 0;
    std::uint32_t s = 0;
    for (std::size_t i = from; i <= to; ++i) s += b[i];
    return s & 0xFFFF;
}

// ---- Device commands -------------------------------------------------------------------

std::optional<Request> decode_request(const std::uint8_t* six) {
    if (six[0] != 0xA5 || six[1] != 0x3C) return std::nullopt;
    unsigned sum = 0;
    for (int i = 0; i < 5; ++i) sum += six[i];
    if ((sum & 0xFF) != six[5]) return std::nullopt;
    return Request{six[2], six[3]};
}

Bytes encode_request(std::uint8_t code, std::uint8_t number) {
    Bytes b = {0xA5, 0x3C, code, number, 0x00, 0x00};
    b[5] = static_cast<std::uint8_t>((b[0] + b[1] + b[2] + b[3] + b[4]) & 0xFF);
    return b;
}

Bytes encode_reply(const Request& r, std::uint8_t result, const Bytes& block256) {
    Bytes b(kReplySize, 0);
    b[0] = 0xA5;
    b[1] = 0xC3;
    b[2] = r.code;
    b[3] = r.number;
    b[4] = result;
    for (std::size_t i = 0; i < kReplyBlockSize && i < block256.size(); ++i) b[5 + i] = block256[i];
    put_be(b, 261, sum16(b, 0, 260), 2);
    return b;
}

// ---- Upload frames -----------------------------------------------------------------------

Bytes encode_frame(const Frame& f) {
    const std::size_t n = f.data.size();
    Bytes b(n + kFrameOverhead, 0);
    for (int i = 0; i < 8; ++i) b[i] = kFrameLeadIn[i];
    put_be(b, 8, static_cast<std::uint32_t>(n + kFrameOverhead), 2);
    b[10] = f.kind;
    b[11] = f.role;
    b[12] = f.sequence;
    b[13] = f.frame_count;
    b[14] = f.frame_number;
    put_be(b, 15, static_cast<std::uint32_t>(n), 4);
    put_be(b, 19, static_cast<std::uint32_t>(n), 2);
    put_be(b, 21, sum16(b, 0, 20), 2);
    for (std::size_t i = 0; i < n; ++i) b[23 + i] = f.data[i];
    put_be(b, 23 + n, n ? sum16(b, 23, 22 + n) : 0, 2);
    b[25 + n] = 0x7A;
    b[26 + n] = 0xCE;
    return b;
}

std::optional<Frame> decode_frame(const Bytes& raw, std::string* why) {
    if (raw.size() < kFrameOverhead) return fail(why, "short frame"), std::nullopt;
    for (int i = 0; i < 8; ++i)
        if (raw[i] != kFrameLeadIn[i]) return fail(why, "bad lead-in"), std::nullopt;
    if (get_be(raw, 8, 2) != raw.size()) return fail(why, "length field"), std::nullopt;
    const std::size_t n = raw.size() - kFrameOverhead;
    if (get_be(raw, 15, 4) != n || get_be(raw, 19, 2) != n)
        return fail(why, "data count"), std::nullopt;
    if (get_be(raw, 21, 2) != sum16(raw, 0, 20)) return fail(why, "header checksum"), std::nullopt;
    if (get_be(raw, 23 + n, 2) != (n ? sum16(raw, 23, 22 + n) : 0))
        return fail(why, "data checksum"), std::nullopt;
    if (raw[25 + n] != 0x7A || raw[26 + n] != 0xCE) return fail(why, "trailer"), std::nullopt;
    Frame f;
    f.kind = raw[10];
    f.role = raw[11];
    f.sequence = raw[12];
    f.frame_count = raw[13];
    f.frame_number = raw[14];
    f.data.assign(raw.begin() + 23, raw.begin() + 23 + n);
    return f;
}

std::vector<Frame> frames_of_message(const Bytes& message) {
    std::vector<Frame> out;
    const std::size_t count = (message.size() + kMaxFrameData - 1) / kMaxFrameData;
    out.push_back(Frame{kBegin, kTransmission, 0, 1, 1, {}});
    for (std::size_t k = 0; k < count; ++k) {
        Frame f{kData, kTransmission, 0, static_cast<std::uint8_t>(count),
                static_cast<std::uint8_t>(k + 1), {}};
        const std::size_t first = k * kMaxFrameData;
        const std::size_t last = std::min(message.size(), first + kMaxFrameData);
        f.data.assign(message.begin() + first, message.begin() + last);
        out.push_back(std::move(f));
    }
    out.push_back(Frame{kEnd, kTransmission, 0, 1, 1, {}});
    return out;
}

// ---- Message envelope --------------------------------------------------------------------

Bytes encode_message(const Message& m) {
    const std::size_t d = m.data.size();
    Bytes b(kEnvelopeSize + d, 0);
    for (int i = 0; i < 6; ++i) b[i] = kMessageLeadIn[i];
    put_be(b, 6, static_cast<std::uint32_t>(kEnvelopeSize + d), 4);
    b[10] = m.code;
    b[11] = m.parameter;
    put_be(b, 12, static_cast<std::uint32_t>(d), 4);
    for (std::size_t i = 0; i < d; ++i) b[20 + i] = m.data[i];
    put_be(b, 16, d ? sum16(b, 20, 19 + d) : 0, 2);
    put_be(b, 18, sum16(b, 0, 17), 2);
    return b;
}

std::optional<Message> decode_message(const Bytes& raw, std::string* why) {
    if (raw.size() < kEnvelopeSize) return fail(why, "message shorter than its envelope"), std::nullopt;
    for (int i = 0; i < 6; ++i)
        if (raw[i] != kMessageLeadIn[i]) return fail(why, "bad message lead-in"), std::nullopt;
    if (get_be(raw, 6, 4) != raw.size()) return fail(why, "message length field"), std::nullopt;
    const std::size_t d = raw.size() - kEnvelopeSize;
    if (get_be(raw, 12, 4) != d) return fail(why, "message data count"), std::nullopt;
    if (get_be(raw, 16, 2) != (d ? sum16(raw, 20, 19 + d) : 0))
        return fail(why, "message data checksum"), std::nullopt;
    if (get_be(raw, 18, 2) != sum16(raw, 0, 17))
        return fail(why, "message header checksum"), std::nullopt;
    Message m;
    m.code = raw[10];
    m.parameter = raw[11];
    m.data.assign(raw.begin() + 20, raw.end());
    return m;
}

// ---- Incoming stream ---------------------------------------------------------------------

void StreamScanner::feed(const std::uint8_t* p, std::size_t n) { buf_.insert(buf_.end(), p, p + n); }

void StreamScanner::discard_partial() { buf_.clear(); }

std::optional<StreamScanner::Item> StreamScanner::next() {
    if (buf_.empty()) return std::nullopt;
    // Find the first lead-in; a lone A5 or E3 at the very end may be the start of one.
    std::size_t at = 0;
    for (; at < buf_.size(); ++at) {
        const std::uint8_t c = buf_[at];
        if (c != 0xA5 && c != 0xE3) continue;
        if (at + 1 == buf_.size()) break;
        const std::uint8_t d = buf_[at + 1];
        if ((c == 0xA5 && d == 0x3C) || (c == 0xE3 && d == 0x57)) break;
    }
    if (at > 0) {
        Item item{Item::kSkipped, Bytes(buf_.begin(), buf_.begin() + at)};
        buf_.erase(buf_.begin(), buf_.begin() + at);
        return item;
    }
    if (buf_.size() < 2) return std::nullopt;
    if (buf_[0] == 0xA5) {
        if (buf_.size() < kRequestSize) return std::nullopt;
        Bytes six(buf_.begin(), buf_.begin() + kRequestSize);
        buf_.erase(buf_.begin(), buf_.begin() + kRequestSize);
        const bool good = decode_request(six.data()).has_value();
        return Item{good ? Item::kRequestItem : Item::kBadRequest, std::move(six)};
    }
    if (buf_.size() < 10) return std::nullopt;
    const std::size_t length = get_be(buf_, 8, 2);
    if (length < kFrameOverhead || length > kMaxFrameSize) {
        Item item{Item::kSkipped, Bytes(buf_.begin(), buf_.begin() + 2)};
        buf_.erase(buf_.begin(), buf_.begin() + 2);
        return item;
    }
    if (buf_.size() < length) return std::nullopt;
    Item item{Item::kFrameItem, Bytes(buf_.begin(), buf_.begin() + length)};
    buf_.erase(buf_.begin(), buf_.begin() + length);
    return item;
}

std::string hex(const Bytes& b, std::size_t max) {
    std::string s;
    char tmp[4];
    for (std::size_t i = 0; i < b.size() && i < max; ++i) {
        std::snprintf(tmp, sizeof tmp, i ? " %02X" : "%02X", b[i]);
        s += tmp;
    }
    if (b.size() > max) s += " ...";
    return s;
}

void LinePace::start(double now) {
    if (!idle_) return;
    idle_ = false;
    if (now > clock_) clock_ = now;
}

std::size_t LinePace::due(double now, double rate) const {
    // A hair of slack, so that a wake-up at exactly ready_at() finds its bytes due.
    const double bytes = std::floor((now - clock_) * rate + 1e-6);
    return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

void LinePace::take(std::size_t n, double rate) { clock_ += static_cast<double>(n) / rate; }

double LinePace::ready_at(std::size_t n, double rate) const { return clock_ + static_cast<double>(n) / rate; }

}  // namespace halvern::sim
