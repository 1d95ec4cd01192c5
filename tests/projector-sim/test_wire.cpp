// The simulator's byte layouts against worked examples, its stream scanner and its line pace.

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

    const Bytes six = hex_bytes("A5 3C 53 07 00 3B");
    auto r = decode_request(six.data());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0x53);
    EXPECT_EQ(r->number, 7);
    EXPECT_FALSE(decode_request(hex_bytes("A5 3C 53 07 00 3C").data()));
    auto decoded = decode_frame(cases[6].want, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->data, open_upload);
    auto m = decode_message(decoded->data, nullptr);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->code, 1);
}

TEST(ProjectorSimWire, MessagesAreCutAtTheFrameDataLimit) {
    const struct { std::size_t length; std::size_t frames; std::size_t last; } cases[] = {
        {20, 1, 20}, {16357, 1, 16357}, {16358, 2, 1}, {16384, 2, 27}, {3 * 16357 + 5, 4, 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.length);
        const auto frames = frames_of_message(Bytes(c.length, 0xAB));
        ASSERT_EQ(frames.size(), c.frames + 2);
        for (std::size_t k = 1; k <= c.frames; ++k) {
            EXPECT_EQ(frames[k].frame_count, c.frames);
            EXPECT_EQ(frames[k].frame_number, k);
        }
        EXPECT_EQ(frames[c.frames].data.size(), c.last);
        EXPECT_LE(encode_frame(frames[1]).size(), kMaxFrameSize);
    }
}

TEST(ProjectorSimWire, DecodeRejectsEachDamagedField) {
    const Bytes frame = encode_frame(Frame{kData, kTransmission, 0, 1, 1, {1, 2, 3, 4}});
    const Bytes message = encode_message({7, 1, {9, 9}});
    const struct { bool in_message; std::size_t at; const char* why; } cases[] = {
        {false, 2, "bad lead-in"},       {false, 9, "length field"},         {false, 18, "data count"},
        {false, 20, "data count"},       {false, 22, "header checksum"},     {false, 24, "data checksum"},
        {false, 28, "data checksum"},    {false, 29, "trailer"},             {false, 30, "trailer"},
        {true, 0, "bad message lead-in"}, {true, 9, "message length field"}, {true, 15, "message data count"},
        {true, 17, "message data checksum"}, {true, 20, "message data checksum"},
        {true, 19, "message header checksum"}};
    for (const auto& c : cases) {
        Bytes bad = c.in_message ? message : frame;
        bad[c.at] ^= 0x01;
        std::string why;
        EXPECT_FALSE(c.in_message ? bool(decode_message(bad, &why)) : bool(decode_frame(bad, &why))) << c.at;
        EXPECT_EQ(why, c.why) << c.at;
    }
}

TEST(ProjectorSimWire, ScannerSplitsTheStreamLikeTheSystemsReader) {
    using Item = StreamScanner::Item;
    const Bytes request = encode_request('Q', 4);
    const Bytes frame = encode_frame(Frame{kBegin, kTransmission, 0, 1, 1, {}});
    // Noise, a request, a lead-in with an impossible length, a frame split over three feeds.
    const Bytes noise = {0x00, 0xA5, 0x11};
    const Bytes bogus = hex_bytes("E3 57 01 01 01 03 01 01 00 1A");
    const Bytes all = cat({noise, request, bogus, frame});
    StreamScanner s;
    std::vector<Item> items;
    std::size_t at = 0;
    for (std::size_t cut : {std::size_t(3), std::size_t(7), std::size_t(20), all.size()}) {
        s.feed(all.data() + at, cut - at);
        at = cut;
        while (auto item = s.next()) items.push_back(*item);
    }
    // The hunt restarts right after the lead-in of the bad length and finds the frame behind it.
    const std::pair<Item::Type, Bytes> want[] = {{Item::kSkipped, noise},
                                                 {Item::kRequestItem, request},
                                                 {Item::kSkipped, {0xE3, 0x57}},
                                                 {Item::kSkipped, Bytes(bogus.begin() + 2, bogus.end())},
                                                 {Item::kFrameItem, frame}};
    ASSERT_EQ(items.size(), std::size(want));
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].type, want[i].first) << i;
        EXPECT_EQ(items[i].bytes, want[i].second) << i;
    }
    EXPECT_FALSE(s.has_partial());

    const Bytes wrong_check = hex_bytes("A5 3C 51 00 00 33");
    s.feed(wrong_check.data(), wrong_check.size());
    auto item = s.next();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->type, Item::kBadRequest);
}

TEST(ProjectorSimWire, LinePaceIsAUartClock) {
    const double rate = 1000;  // a byte every millisecond
    LinePace line;
    line.start(10.0);
    struct Step { double now; std::size_t due; } burst[] = {
        {10.0, 0}, {10.0009, 0}, {10.001, 1}, {10.0049, 4}, {10.010, 10},
    };
    for (const Step& s : burst) EXPECT_EQ(line.due(s.now, rate), s.due) << s.now;

    // Bytes taken late are still counted from the line's own clock: no allowance is lost or
    // restarted when the reader wakes up late or in small steps.
    line.take(3, rate);
    EXPECT_EQ(line.due(10.010, rate), 7u);
    EXPECT_DOUBLE_EQ(line.ready_at(7, rate), 10.010);
    line.take(7, rate);

    // A new burst on a line that is still busy follows the last byte at once; start() does
    // not move the clock.
    line.start(10.020);
    EXPECT_EQ(line.due(10.020, rate), 10u);
    line.take(10, rate);
    EXPECT_DOUBLE_EQ(line.ready_at(0, rate), 10.020);

    // After the line went idle, a byte handed over later starts when it is handed over.
    line.idle();
    line.start(11.0);
    EXPECT_EQ(line.due(11.0, rate), 0u);
    EXPECT_EQ(line.due(11.0025, rate), 2u);
    EXPECT_DOUBLE_EQ(line.ready_at(1, rate), 11.001);

    // An idle line restarted before its clock (its last byte still crossing) keeps its clock.
    LinePace busy;
    busy.start(5.0);
    busy.take(100, rate);  // ends at 5.1
    busy.idle();
    busy.start(5.05);
    EXPECT_DOUBLE_EQ(busy.ready_at(1, rate), 5.101);
}
