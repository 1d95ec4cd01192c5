// The simulator's byte layouts against worked examples: the system's tests build the device's
// frames and messages with these encoders.

#include "Wire.h"

#include <QByteArray>

#include <gtest/gtest.h>

using namespace halvern::sim;

namespace {
Bytes hex_bytes(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return Bytes(raw.begin(), raw.end());
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
}  // namespace

TEST(ProjectorSimWire, WorkedExamples) {
    const Bytes open_upload = hex_bytes("01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D");
    const auto frames = frames_of_message(open_upload);
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(frames[2].kind, kEnd);
    Frame begin = frames[0];
    begin.sequence = 3;
    Bytes block(256, 0);
    block[16] = 1;
    block[19] = 2;
    block[20] = 0x01;
    block[21] = 0x80;
    const struct { Bytes got, want; } cases[] = {
        {encode_request('Q', 0), hex_bytes("A5 3C 51 00 00 32")},
        {encode_request('I', 255), hex_bytes("A5 3C 49 FF 00 29")},
        // A5 + C3 + 53 + 07 + 01 + 01 + 02 + 01 + 80 = 0x247
        {encode_reply({0x53, 7}, 0x01, block), cat({hex_bytes("A5 C3 53 07 01"), block, hex_bytes("02 47")})},
        {encode_message({1, 0, {}}), open_upload},
        {encode_message({13, 0, {}}), hex_bytes("01 01 01 03 01 01 00 00 00 14 0D 00 00 00 00 00 00 00 00 29")},
        // Data a, b, c: length 23, data count 3, data checksum 0x126, header checksum over 0..17.
        {encode_message({5, 2, {'a', 'b', 'c'}}),
         hex_bytes("01 01 01 03 01 01 00 00 00 17 05 02 00 00 00 03 01 26 00 50 61 62 63")},
        {encode_frame(frames[1]),
         cat({hex_bytes("E3 57 01 01 01 03 01 01 00 2F 02 01 00 01 01 00 00 00 14 00 14 01 9E"), open_upload,
              hex_bytes("00 3A 7A CE")})},
        // A begin frame with sequence 3: data count 0, header checksum 0x164.
        {encode_frame(begin), hex_bytes("E3 57 01 01 01 03 01 01 00 1B 01 01 03 01 01 00 00 00 00 00 00 01 64 00 00 7A CE")},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) EXPECT_EQ(cases[i].got, cases[i].want) << i;
}
