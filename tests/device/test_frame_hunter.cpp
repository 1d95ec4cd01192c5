// The reader of upload frames over byte streams as they arrive: what it takes, what it passes
// over, and how many bytes it waits for.

#include "device/FrameHunter.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <string>
#include <vector>

namespace halvern {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const char* text) {
    const QByteArray raw = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    return Bytes(raw.begin(), raw.end());
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The acknowledgement of a data frame with sequence byte 0, and the data frame of the message
// with code 1: the worked examples of the frame format.
const Bytes kAck = hex("E3 57 01 01 01 03 01 01 00 1B 02 02 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE");
const Bytes kData = hex("E3 57 01 01 01 03 01 01 00 2F 02 01 00 01 01 00 00 00 14 00 14 01 9E"
                        "01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D 00 3A 7A CE");

Bytes changed(Bytes f, std::size_t at, std::uint8_t value) {
    f[at] = value;
    return f;
}

// A frame with N data bytes of value v, every field right.
Bytes frame_of(std::size_t n, std::uint8_t v) {
    Bytes f(n + 27, 0);
    std::copy(kAck.begin(), kAck.begin() + 8, f.begin());
    f[8] = static_cast<std::uint8_t>((n + 27) >> 8);
    f[9] = static_cast<std::uint8_t>(n + 27);
    f[10] = 2;
    f[11] = 1;
    f[15] = static_cast<std::uint8_t>(n >> 24);
    f[16] = static_cast<std::uint8_t>(n >> 16);
    f[17] = static_cast<std::uint8_t>(n >> 8);
    f[18] = static_cast<std::uint8_t>(n);
    f[19] = static_cast<std::uint8_t>(n >> 8);
    f[20] = static_cast<std::uint8_t>(n);
    std::uint32_t h = 0, d = 0;
    for (int i = 0; i < 21; ++i) h += f[static_cast<std::size_t>(i)];
    f[21] = static_cast<std::uint8_t>(h >> 8);
    f[22] = static_cast<std::uint8_t>(h);
    for (std::size_t i = 0; i < n; ++i) d += f[23 + i] = v;
    f[23 + n] = static_cast<std::uint8_t>(d >> 8);
    f[24 + n] = static_cast<std::uint8_t>(d);
    f[25 + n] = 0x7A;
    f[26 + n] = 0xCE;
    return f;
}

TEST(FrameHunter, TakesSoundFramesAndPassesOverDamagedOnes) {
    const Bytes largest = frame_of(16384 - 27, 0xFF);
    struct Row {
        const char* name;
        Bytes bytes;
        std::size_t capacity;
        FrameHunt expected;  // discard, frame, need, rejected
    };
    const std::vector<Row> rows = {
        {"acknowledgement", kAck, 16385, {0, 27, 0, 0}},
        {"data frame", kData + kAck, 16385, {0, 47, 0, 0}},
        {"largest frame", largest, 16385, {0, 16384, 0, 0}},
        {"noise first", hex("00 E3 E3 12 57 57") + kAck, 16385, {6, 27, 0, 0}},
        {"lead-in E3 57 and a wrong sixth byte", changed(kAck, 5, 0x02) + kData, 16385, {27, 47, 0, 1}},
        {"length under 27", changed(kAck, 9, 26) + kData, 16385, {27, 47, 0, 1}},
        {"length over 16,384", changed(changed(kAck, 8, 0x40), 9, 0x01) + kData, 16385, {27, 47, 0, 1}},
        {"longer than the caller's buffer", kData + kAck, 46, {47, 27, 0, 1}},
        {"length field one too long", changed(kAck, 9, 28) + kData, 16385, {27, 47, 0, 1}},
        {"data count of bytes 15 to 18 wrong", changed(kData, 18, 0x15) + kAck, 16385, {47, 27, 0, 1}},
        {"data count of bytes 19 to 20 wrong", changed(kData, 20, 0x13) + kAck, 16385, {47, 27, 0, 1}},
        {"header checksum wrong", changed(kAck, 22, 0x64) + kAck, 16385, {27, 27, 0, 1}},
        {"header byte changed", changed(kAck, 12, 0x01) + kAck, 16385, {27, 27, 0, 1}},
        {"data byte changed", changed(kData, 33, 0x02) + kAck, 16385, {47, 27, 0, 1}},
        {"data checksum wrong", changed(kData, 44, 0x3B) + kAck, 16385, {47, 27, 0, 1}},
        {"trailer wrong", changed(kAck, 26, 0xCF) + kAck, 16385, {27, 27, 0, 1}},
        // Waiting for more.
        {"nothing", {}, 16385, {0, 0, 2, 0}},
        {"noise only", hex("01 02 03"), 16385, {3, 0, 2, 0}},
        {"lone E3 at the end", hex("01 02 E3"), 16385, {2, 0, 2, 0}},
        {"lead-in without its length", hex("99") + Bytes(kAck.begin(), kAck.begin() + 9), 16385, {1, 0, 10, 0}},
        {"header not complete", Bytes(kAck.begin(), kAck.begin() + 15), 16385, {0, 0, 23, 0}},
        {"data not complete", Bytes(kData.begin(), kData.begin() + 40), 16385, {0, 0, 47, 0}},
        {"damaged, then the start of a sound one", changed(kAck, 21, 0) + hex("E3"), 16385, {27, 0, 2, 1}},
    };
    for (const Row& row : rows) {
        const FrameHunt h = hunt_frame(row.bytes, row.capacity);
        EXPECT_EQ(h.discard, row.expected.discard) << row.name;
        EXPECT_EQ(h.frame, row.expected.frame) << row.name;
        EXPECT_EQ(h.need, row.expected.need) << row.name;
        EXPECT_EQ(h.rejected, row.expected.rejected) << row.name;
    }
}

// A frame whose data holds a whole sound frame, with its own data checksum broken: the outer
// frame is passed over and the inner one taken.
TEST(FrameHunter, FrameInsideTheDataOfADamagedOne) {
    const Bytes inner = kAck;
    Bytes outer = frame_of(inner.size(), 0);
    std::copy(inner.begin(), inner.end(), outer.begin() + 23);
    outer[23 + inner.size()] ^= 0x01;  // data checksum no longer right
    const FrameHunt h = hunt_frame(outer, 16385);
    EXPECT_EQ(h.discard, 23u);
    EXPECT_EQ(h.frame, 27u);
    EXPECT_EQ(h.rejected, 1);
}

// Fed one byte at a time, as a slow line delivers them, the hunt asks for more until the
// frame is whole and never for bytes it already has.
TEST(FrameHunter, ByteByByte) {
    const Bytes stream = hex("00 11 E3") + changed(kAck, 21, 0x00) + kData;
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
            frames.emplace_back(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.frame));
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(h.frame));
        }
    }
    EXPECT_EQ(frames, std::vector<Bytes>{kData});
    EXPECT_TRUE(pending.empty());
}

}  // namespace
}  // namespace halvern
