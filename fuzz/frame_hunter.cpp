// The reader of upload frames fed an arbitrary byte stream the way the serial library feeds
// it: in pieces as they arrive, dropping what the hunt discards and taking what it hands out.
// Every frame handed out must be sound and fit the buffer, and a hunt that hands out nothing
// must ask for more bytes than it has, or the library would wait for nothing.
//
// Input: byte 0 and 1 choose the buffer's capacity, byte 2 the size of the pieces; the rest is
// the stream.

#include "device/FrameHunter.h"

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

// An independent reading of a sound frame.
bool sound(const std::uint8_t* f, std::size_t length) {
    static const std::uint8_t lead[8] = {0xE3, 0x57, 1, 1, 1, 3, 1, 1};
    if (length < 27 || length > 16384 || be(f + 8, 2) != length) return false;
    for (int i = 0; i < 8; ++i)
        if (f[i] != lead[i]) return false;
    const std::size_t n = length - 27;
    if (be(f + 15, 4) != n || be(f + 19, 2) != n) return false;
    std::uint32_t h = 0, d = 0;
    for (int i = 0; i < 21; ++i) h += f[i];
    for (std::size_t i = 0; i < n; ++i) d += f[23 + i];
    return (h & 0xFFFF) == be(f + 21, 2) && (d & 0xFFFF) == be(f + 23 + n, 2) && f[25 + n] == 0x7A &&
           f[26 + n] == 0xCE;
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
