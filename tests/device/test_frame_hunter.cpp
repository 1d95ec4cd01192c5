// The reader of upload frames over byte streams as they arrive: what it takes, what it passes
// over, and how many bytes it waits for.

#include "device/FrameHunter.h"
#include "tests/support/LinkPeer.h"

#include <gtest/gtest.h>

#include <QByteArray>

namespace halvern {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::hex_bytes;
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes changed(Bytes f, std::size_t at, std::uint8_t value) {
    f[at] = value;
    return f;
}
Bytes head(const Bytes& f, std::size_t n) { return Bytes(f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n)); }

// The acknowledgement of a data frame with sequence byte 0, and the data frame of the message
// with code 1: the worked examples of the frame format.
const Bytes kAck = hex_bytes("E3 57 01 01 01 03 01 01 00 1B 02 02 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE");
const Bytes kData = hex_bytes("E3 57 01 01 01 03 01 01 00 2F 02 01 00 01 01 00 00 00 14 00 14 01 9E"
                        "01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D 00 3A 7A CE");

// A frame whose data holds a whole sound frame, with its own data checksum broken.
Bytes ack_inside_a_damaged_frame() {
    Bytes outer = test::device_frame(2, 1, 0, kAck);
    outer[23 + kAck.size()] ^= 0x01;
    return outer;
}

TEST(FrameHunter, TakesSoundFramesAndPassesOverDamagedOnes) {
    const Bytes largest = test::device_frame(2, 1, 0, Bytes(16384 - 27, 0xFF));
    ASSERT_EQ(test::device_frame(2, 2, 0), kAck);
    struct Row {
        const char* name;
        Bytes bytes;
        FrameHunt expected;  // discard, frame, need, rejected
        std::size_t capacity = 16385;
    };
    const Row rows[] = {
        {"acknowledgement", kAck, {0, 27, 0, 0}},
        {"data frame", kData + kAck, {0, 47, 0, 0}},
        {"largest frame", largest, {0, 16384, 0, 0}},
        {"noise first", hex_bytes("00 E3 E3 12 57 57") + kAck, {6, 27, 0, 0}},
        // Damaged: passed over, and the next sound frame taken.
        {"lead-in E3 57 and a wrong sixth byte", changed(kAck, 5, 0x02) + kData, {27, 47, 0, 1}},
        {"length under 27", changed(kAck, 9, 26) + kData, {27, 47, 0, 1}},
        {"length over 16,384", changed(changed(kAck, 8, 0x40), 9, 0x01) + kData, {27, 47, 0, 1}},
        {"longer than the caller's buffer", kData + kAck, {47, 27, 0, 1}, 46},
        {"length field one too long", changed(kAck, 9, 28) + kData, {27, 47, 0, 1}},
        {"data count of bytes 15 to 18 wrong", changed(kData, 18, 0x15) + kAck, {47, 27, 0, 1}},
        {"data count of bytes 19 to 20 wrong", changed(kData, 20, 0x13) + kAck, {47, 27, 0, 1}},
        {"header checksum wrong", changed(kAck, 22, 0x64) + kAck, {27, 27, 0, 1}},
        {"data checksum wrong", changed(kData, 44, 0x3B) + kAck, {47, 27, 0, 1}},
        {"trailer wrong", changed(kAck, 26, 0xCF) + kAck, {27, 27, 0, 1}},
        {"sound frame inside the data of a damaged one", ack_inside_a_damaged_frame(), {23, 27, 0, 1}},
        // Waiting for more.
        {"nothing", {}, {0, 0, 2, 0}},
        {"noise only", hex_bytes("01 02 03"), {3, 0, 2, 0}},
        {"lone E3 at the end", hex_bytes("01 02 E3"), {2, 0, 2, 0}},
        {"lead-in without its length", hex_bytes("99") + head(kAck, 9), {1, 0, 10, 0}},
        {"header not complete", head(kAck, 15), {0, 0, 23, 0}},
        {"data not complete", head(kData, 40), {0, 0, 47, 0}},
        {"damaged, then the start of a sound one", changed(kAck, 21, 0) + hex_bytes("E3"), {27, 0, 2, 1}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const FrameHunt h = hunt_frame(row.bytes, row.capacity);
        EXPECT_EQ(h.discard, row.expected.discard);
        EXPECT_EQ(h.frame, row.expected.frame);
        EXPECT_EQ(h.need, row.expected.need);
        EXPECT_EQ(h.rejected, row.expected.rejected);
    }
}

// Fed one byte at a time, as a slow line delivers them, the hunt asks for more until the
// frame is whole and never for bytes it already has.
TEST(FrameHunter, ByteByByte) {
    const Bytes stream = hex_bytes("00 11 E3") + changed(kAck, 21, 0x00) + kData;
    Bytes pending;
    std::vector<Bytes> frames;
    for (std::uint8_t b : stream) {
        pending.push_back(b);
        for (;;) {
            const FrameHunt h = hunt_frame(pending, 16385);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.discard));
            if (h.frame == 0) {
                EXPECT_GT(h.need, pending.size());
                break;
            }
            frames.push_back(head(pending, h.frame));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.frame));
        }
    }
    EXPECT_EQ(frames, std::vector<Bytes>{kData});
    EXPECT_TRUE(pending.empty());
}

}  // namespace
}  // namespace halvern
