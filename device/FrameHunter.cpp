#include "device/FrameHunter.h"

#include <algorithm>

namespace halvern {

namespace {

constexpr std::uint8_t kLeadIn[8] = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01};
constexpr std::size_t kLengthEnd = 10;   // bytes 8 and 9: the frame length
constexpr std::size_t kHeaderSize = 23;  // up to and including the header checksum
constexpr std::size_t kOverhead = 27;
constexpr std::size_t kLongest = 16384;

std::uint32_t be(std::span<const std::uint8_t> b, std::size_t at, int count) {
    std::uint32_t v = 0;
    for (int k = 0; k < count; ++k) v = (v << 8) | b[at + static_cast<std::size_t>(k)];
    return v;
}

std::uint32_t sum16(std::span<const std::uint8_t> b, std::size_t from, std::size_t count) {
    std::uint32_t s = 0;
    for (std::size_t i = from; i < from + count; ++i) s += b[i];
    return s & 0xFFFF;
}

enum class Verdict { kSound, kDamaged, kNeedMore };

// The candidate that starts at bytes[0] with E3 57. need is set for kNeedMore.
Verdict judge(std::span<const std::uint8_t> c, std::size_t capacity, std::size_t& need) {
    const std::size_t have = c.size();
    for (std::size_t i = 2; i < sizeof kLeadIn && i < have; ++i)
        if (c[i] != kLeadIn[i]) return Verdict::kDamaged;
    if (have < kLengthEnd) {
        need = kLengthEnd;
        return Verdict::kNeedMore;
    }
    const std::size_t length = be(c, 8, 2);
    if (length < kOverhead || length > kLongest || length > capacity) return Verdict::kDamaged;
    if (have < kHeaderSize) {
        need = kHeaderSize;
        return Verdict::kNeedMore;
    }
    const std::size_t n = length - kOverhead;
    if (be(c, 15, 4) != n || be(c, 19, 2) != n || sum16(c, 0, 21) != be(c, 21, 2)) return Verdict::kDamaged;
    if (have < length) {
        need = length;
        return Verdict::kNeedMore;
    }
    if (sum16(c, kHeaderSize, n) != be(c, kHeaderSize + n, 2) || c[25 + n] != 0x7A || c[26 + n] != 0xCE)
        return Verdict::kDamaged;
    return Verdict::kSound;
}

}  // namespace

FrameHunt hunt_frame(std::span<const std::uint8_t> bytes, std::size_t capacity) {
    FrameHunt h;
    std::size_t from = 0;
    for (;;) {
        // The next E3 57; a lone E3 at the very end may be the first half of one.
        std::size_t at = from;
        while (at + 1 < bytes.size() && !(bytes[at] == 0xE3 && bytes[at + 1] == 0x57)) ++at;
        if (at + 1 >= bytes.size()) {
            const bool half = at < bytes.size() && bytes[at] == 0xE3;
            h.discard = half ? at : bytes.size();
            h.need = 2;
            return h;
        }
        std::size_t need = 0;
        switch (judge(bytes.subspan(at), capacity, need)) {
        case Verdict::kSound:
            h.discard = at;
            h.frame = be(bytes, at + 8, 2);
            return h;
        case Verdict::kNeedMore:
            h.discard = at;
            h.need = need;
            return h;
        case Verdict::kDamaged:
            ++h.rejected;
            from = at + 2;
            break;
        }
    }
}

}  // namespace halvern
