#include <gtest/gtest.h>

#include "Wire.h"

using namespace halvern::sim;

namespace {
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
const Bytes kOpenUpload = {0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x14,
                           0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x1D};
}  // namespace

TEST(ProjectorSimWire, RequestAndReplyBytes) {
    EXPECT_EQ(encode_request('Q', 0), (Bytes{0xA5, 0x3C, 0x51, 0x00, 0x00, 0x32}));
    EXPECT_EQ(encode_request('I', 255), (Bytes{0xA5, 0x3C, 0x49, 0xFF, 0x00, 0x29}));

    const Bytes six = {0xA5, 0x3C, 0x53, 0x07, 0x00, 0x3B};
    auto r = decode_request(six.data());
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0x53);
    EXPECT_EQ(r->number, 7);
    const Bytes bad = {0xA5, 0x3C, 0x53, 0x07, 0x00, 0x3C};
    EXPECT_FALSE(decode_request(bad.data()));

    Bytes block(256, 0);
    block[16] = 1;
    block[19] = 2;
    block[20] = 0x01;
    block[21] = 0x80;
    const Bytes reply = encode_reply(*r, 0x01, block);
    ASSERT_EQ(reply.size(), 263u);
    EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 5), (Bytes{0xA5, 0xC3, 0x53, 0x07, 0x01}));
    EXPECT_EQ(Bytes(reply.begin() + 5, reply.begin() + 261), block);
    // A5 + C3 + 53 + 07 + 01 + 01 + 02 + 01 + 80 = 0x247
    EXPECT_EQ(reply[261], 0x02);
    EXPECT_EQ(reply[262], 0x47);
}

TEST(ProjectorSimWire, MessagesAndFramesByteForByte) {
    EXPECT_EQ(encode_message({1, 0, {}}), kOpenUpload);
    EXPECT_EQ(encode_message({13, 0, {}}),
              (Bytes{0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x14, 0x0D, 0x00, 0x00, 0x00,
                     0x00, 0x00, 0x00, 0x00, 0x00, 0x29}));
    // Data a, b, c: length 23, data count 3, data checksum 0x126, header checksum over 0..17.
    EXPECT_EQ(encode_message({5, 2, {'a', 'b', 'c'}}),
              (Bytes{0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x17, 0x05, 0x02, 0x00, 0x00,
                     0x00, 0x03, 0x01, 0x26, 0x00, 0x50, 'a', 'b', 'c'}));

    const auto frames = frames_of_message(kOpenUpload);
    ASSERT_EQ(frames.size(), 3u);
    const Bytes data_frame = cat({{0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x2F, 0x02, 0x01,
                                   0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x14, 0x01, 0x9E},
                                  kOpenUpload,
                                  {0x00, 0x3A, 0x7A, 0xCE}});
    EXPECT_EQ(encode_frame(frames[1]), data_frame);
    // A begin frame with sequence 3: 27 bytes, data count 0, header checksum 0x164.
    Frame begin = frames[0];
    begin.sequence = 3;
    EXPECT_EQ(encode_frame(begin),
              (Bytes{0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1B, 0x01, 0x01, 0x03, 0x01,
                     0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x64, 0x00, 0x00, 0x7A, 0xCE}));
    EXPECT_EQ(frames[2].kind, kEnd);

    auto decoded = decode_frame(data_frame, nullptr);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->data, kOpenUpload);
    auto m = decode_message(decoded->data, nullptr);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->code, 1);
}

TEST(ProjectorSimWire, MessagesAreCutAtTheFrameDataLimit) {
    const struct { std::size_t length; std::size_t frames; std::size_t last; } cases[] = {
        {20, 1, 20}, {16357, 1, 16357}, {16358, 2, 1}, {16384, 2, 27}, {3 * 16357 + 5, 4, 5}};
    for (const auto& c : cases) {
        const auto frames = frames_of_message(Bytes(c.length, 0xAB));
        ASSERT_EQ(frames.size(), c.frames + 2) << c.length;
        for (std::size_t k = 1; k <= c.frames; ++k) {
            EXPECT_EQ(frames[k].frame_count, c.frames);
            EXPECT_EQ(frames[k].frame_number, k);
        }
        EXPECT_EQ(frames[c.frames].data.size(), c.last) << c.length;
        EXPECT_LE(encode_frame(frames[1]).size(), kMaxFrameSize);
    }
}

TEST(ProjectorSimWire, DecodeRejectsEachDamagedField) {
    const Bytes good = encode_frame(Frame{kData, kTransmission, 0, 1, 1, {1, 2, 3, 4}});
    const struct { std::size_t at; const char* why; } cases[] = {
        {2, "bad lead-in"},      {9, "length field"},    {18, "data count"},  {20, "data count"},
        {22, "header checksum"}, {24, "data checksum"},  {28, "data checksum"}, {29, "trailer"},
        {30, "trailer"}};
    for (const auto& c : cases) {
        Bytes bad = good;
        bad[c.at] ^= 0x01;
        std::string why;
        EXPECT_FALSE(decode_frame(bad, &why)) << c.at;
        EXPECT_EQ(why, c.why) << c.at;
    }
    Bytes msg = encode_message({7, 1, {9, 9}});
    const struct { std::size_t at; const char* why; } mcases[] = {
        {0, "bad message lead-in"}, {9, "message length field"}, {15, "message data count"},
        {17, "message data checksum"}, {20, "message data checksum"}, {19, "message header checksum"}};
    for (const auto& c : mcases) {
        Bytes bad = msg;
        bad[c.at] ^= 0x01;
        std::string why;
        EXPECT_FALSE(decode_message(bad, &why)) << c.at;
        EXPECT_EQ(why, c.why) << c.at;
    }
}

TEST(ProjectorSimWire, ScannerSplitsTheStreamLikeTheSystemsReader) {
    const Bytes request = encode_request('Q', 4);
    const Bytes frame = encode_frame(Frame{kBegin, kTransmission, 0, 1, 1, {}});
    // Noise, a request, a lead-in with an impossible length, a frame split over three feeds.
    const Bytes noise = {0x00, 0xA5, 0x11};
    const Bytes bogus = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1A};
    const Bytes all = cat({noise, request, bogus, frame});

    StreamScanner s;
    std::vector<StreamScanner::Item> items;
    const std::size_t cuts[] = {3, 7, 20, all.size()};
    std::size_t at = 0;
    for (std::size_t cut : cuts) {
        s.feed(all.data() + at, cut - at);
        at = cut;
        while (auto item = s.next()) items.push_back(*item);
    }
    ASSERT_EQ(items.size(), 5u);
    EXPECT_EQ(items[0].type, StreamScanner::Item::kSkipped);
    EXPECT_EQ(items[0].bytes, noise);
    EXPECT_EQ(items[1].type, StreamScanner::Item::kRequestItem);
    EXPECT_EQ(items[1].bytes, request);
    // The hunt restarts right after the lead-in of the bad length...
    EXPECT_EQ(items[2].type, StreamScanner::Item::kSkipped);
    EXPECT_EQ(items[2].bytes, (Bytes{0xE3, 0x57}));
    EXPECT_EQ(items[3].type, StreamScanner::Item::kSkipped);
    EXPECT_EQ(items[3].bytes.size(), bogus.size() - 2);
    // ...and finds the real frame behind it.
    EXPECT_EQ(items[4].type, StreamScanner::Item::kFrameItem);
    EXPECT_EQ(items[4].bytes, frame);
    EXPECT_FALSE(s.has_partial());

    const Bytes wrong_check = {0xA5, 0x3C, 0x51, 0x00, 0x00, 0x33};
    s.feed(wrong_check.data(), wrong_check.size());
    auto item = s.next();
    ASSERT_TRUE(item);
    EXPECT_EQ(item->type, StreamScanner::Item::kBadRequest);
}

TEST(ProjectorSimWire, LinePaceIsAUartClock) {
    // 1,000 bytes a second: a byte every millisecond.
    const double rate = 1000;
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

    // A new burst on a line that is still busy (never idle) follows the last byte at once;
    // start() does not move the clock.
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
