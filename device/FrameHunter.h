#pragma once
// The link library's reader of upload frames, as a pure function over the bytes received so
// far: it finds the first frame that is whole and sound and says which bytes before it can
// never start one. A frame is sound when its eight lead-in bytes are E3 57 01 01 01 03 01 01,
// its length lies in 27..16,384 and fits the caller's buffer, both data counts agree with the
// length, both checksums are right and it ends in 7A CE. Any other candidate is passed over
// and the hunt goes on two bytes after its E3 57.

#include <cstddef>
#include <cstdint>
#include <span>

namespace halvern {

struct FrameHunt {
    // Bytes at the front that start no sound frame: drop them.
    std::size_t discard = 0;
    // Nonzero: a sound frame of this length follows the discarded bytes.
    std::size_t frame = 0;
    // Otherwise: the hunt can go on once this many bytes follow the discarded ones.
    std::size_t need = 0;
    // Candidates (lead-ins) passed over as damaged or too long on the way.
    int rejected = 0;
};

FrameHunt hunt_frame(std::span<const std::uint8_t> bytes, std::size_t capacity);

}  // namespace halvern
