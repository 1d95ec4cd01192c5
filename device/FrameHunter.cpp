#include "device/FrameHunter.h"

#include "device/FrameFormat.h"

#include <algorithm>

namespace halvern {

namespace {

std::uint32_t be(std::span<const std::uint8_t> b, std::size_t at, int count) {
    std::uint32_t v = 0;
    for (int k = 0; k < count; ++k) v = (v << 8) | b[at + static_cast<std::size_t>(k)];
    return v;
}

constexpr std::size_t kHeaderSize = kFrameHeaderSize;
constexpr std::size_t kShortest = kMinFrameLength;
constexpr std::size_t kLongest = kMaxFrameLength;

enum class Verdict { kSound, kDamaged, kNeedMore };

// The candidate that starts at bytes[0] with E3 57. need is set for kNeedMore.
Verdict judge(std::span<const std::uint8_t> c, std::size_t capacity, std::size_t& need) {
    const std::size_t have = c.size();
    for (std::size_t i = 2; i < kFrameLeadInBytes.size() && i < have; ++i)
        if (c[i] != kFrameLeadInBytes[i]) return Verdict::kDamaged;
    constexpr std::size_t kLengthEnd = kFrameLengthAt + 2;
    if (have < kLengthEnd) {
        need = kLengthEnd;
        return Verdict::kNeedMore;
    }
    const std::size_t length = be(c, kFrameLengthAt, 2);
    if (length < kShortest || length > kLongest || length > capacity) return Verdict::kDamaged;
    if (have < kHeaderSize) {
        need = kHeaderSize;
        return Verdict::kNeedMore;
    }
    const std::size_t n = length - static_cast<std::size_t>(kFrameOverhead);
    if (be(c, kFrameDataCountAt, 4) != n || be(c, kFrameDataCount2At, 2) != n ||
        frame_sum(c.first(kFrameHeaderSumAt)) != be(c, kFrameHeaderSumAt, 2))
        return Verdict::kDamaged;
    if (have < length) {
        need = length;
        return Verdict::kNeedMore;
    }
    const std::size_t data_sum_at = kHeaderSize + n;
    if (frame_sum(c.subspan(kHeaderSize, n)) != be(c, data_sum_at, 2) ||
        c[data_sum_at + 2] != kFrameTrailer[0] || c[data_sum_at + 3] != kFrameTrailer[1])
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
        while (at + 1 < bytes.size() && !(bytes[at] == kFrameLeadInBytes[0] && bytes[at + 1] == kFrameLeadInBytes[1])) ++at;
        if (at + 1 >= bytes.size()) {
            const bool half = at < bytes.size() && bytes[at] == kFrameLeadInBytes[0];
            h.discard = half ? at : bytes.size();
            h.need = 2;
            return h;
        }
        std::size_t need = 0;
        switch (judge(bytes.subspan(at), capacity, need)) {
        case Verdict::kSound:
            h.discard = at;
            h.frame = be(bytes, at + kFrameLengthAt, 2);
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
