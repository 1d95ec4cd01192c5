#pragma once
// The upload frame as it travels on the line, for both sides of the link: the link library's
// frame reader (device/FrameHunter.h) checks frames by it and the frame layer
// (link/FrameLayer.h) builds and reads them by it.
//
// A frame of N data bytes is N + 27 bytes long:
//   0  8  lead-in E3 57 01 01 01 03 01 01
//   8  2  frame length, N + 27
//  10  1  kind (FrameKind)          11  1  role (FrameRole)
//  12  1  sequence byte             13  1  frame count of the message
//  14  1  frame number              15  4  data count N
//  19  2  data count N              21  2  header checksum: sum of bytes 0 to 20
//  23  N  data                      23 + N  2  data checksum: sum of the N data bytes
//  25 + N  2  trailer 7A CE
// Numbers are big-endian; checksums are sums modulo 65,536.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace halvern {

inline constexpr std::array<std::uint8_t, 8> kFrameLeadInBytes = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01};
inline constexpr std::array<std::uint8_t, 2> kFrameTrailer = {0x7A, 0xCE};

// Field offsets.
inline constexpr int kFrameLengthAt = 8;        // 2 bytes
inline constexpr int kFrameKindAt = 10;
inline constexpr int kFrameRoleAt = 11;
inline constexpr int kFrameSequenceAt = 12;
inline constexpr int kFrameCountAt = 13;
inline constexpr int kFrameNumberAt = 14;
inline constexpr int kFrameDataCountAt = 15;    // 4 bytes
inline constexpr int kFrameDataCount2At = 19;   // 2 bytes
inline constexpr int kFrameHeaderSumAt = 21;    // 2 bytes

inline constexpr int kFrameHeaderSize = 23;     // up to and including the header checksum
inline constexpr int kFrameOverhead = 27;       // header 23, data checksum 2, trailer 2
inline constexpr int kMinFrameLength = kFrameOverhead;
inline constexpr int kMaxFrameLength = 16384;
inline constexpr int kFrameDataMax = kMaxFrameLength - kFrameOverhead;  // 16,357
// get_data's receive buffer: indices 0 to 16384, one more than the largest frame.
inline constexpr int kReceiveBufferSize = kMaxFrameLength + 1;

// Frame kinds (byte 10) and roles (byte 11).
enum FrameKind : std::uint8_t { kBeginFrame = 1, kDataFrame = 2, kEndFrame = 3 };
enum FrameRole : std::uint8_t { kTransmission = 1, kAcknowledgement = 2 };

// Sum of the bytes of a span modulo 65,536: both checksums of a frame.
inline std::uint32_t frame_sum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::uint8_t b : bytes) sum += b;
    return sum & 0xFFFF;
}

}  // namespace halvern
