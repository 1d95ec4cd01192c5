// The reader of upload frames fed an arbitrary byte stream the way the serial library feeds
// it: in pieces as they arrive, dropping what the hunt discards and taking what it hands out.
// Every frame handed out must be sound and fit the buffer, and a hunt that hands out nothing
// must ask for more bytes than it has, or the library would wait for nothing.
//
// Input: byte 0 and 1 choose the buffer's capacity, byte 2 the size of the pieces; the rest is
// the stream.

#include "device/FrameHunter.h"
#include "projector-sim/Wire.h"

#include <cstdlib>
#include <vector>

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

std::uint32_t be(const std::uint8_t* p, int n) {
    std::uint32_t v = 0;
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
    return v;
}

// An independent reading of a sound frame: the simulated projector's.
bool sound(const std::uint8_t* f, std::size_t length) {
    return length <= 16384 && halvern::sim::decode_frame(halvern::sim::Bytes(f, f + length), nullptr).has_value();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::size_t capacity = be(data, 2) % 16400;
    const std::size_t piece = 1 + data[2] % 64;
    data += 3;
    size -= 3;

    std::vector<std::uint8_t> pending;
    std::size_t fed = 0;
    while (fed < size) {
        const std::size_t n = std::min(piece, size - fed);
        pending.insert(pending.end(), data + fed, data + fed + n);
        fed += n;
        for (;;) {
            const halvern::FrameHunt h = halvern::hunt_frame(pending, capacity);
            check(h.discard <= pending.size());
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.discard));
            if (h.frame == 0) {
                check(h.need > pending.size());
                break;
            }
            check(h.frame <= pending.size() && h.frame <= capacity);
            check(sound(pending.data(), h.frame));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.frame));
        }
    }
    return 0;
}
