// The frame layer against the worked examples, byte for byte, and its retry counting.

#include "link/FrameLayer.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kOutOfRetries = "Unable to communicate with device.  Maximum number of retries reached.";
const QString kNoCommand = "Unable to transmit command to device.";
const QString kNoData = "Unable to transmit data to device.";

struct FrameLayerTest : ::testing::Test {
    ScriptedDeviceLibrary lib;
    RecordingReporter reporter;
    std::int32_t handle = 7;
    FrameLayer layer{lib, handle, reporter};

    void message(std::uint8_t code, std::size_t data_bytes = 0) { layer.build_message(code, 0, Frame(data_bytes, 0xAB)); }
    std::vector<int> sequences(std::uint8_t kind) const {
        std::vector<int> out;
        for (const Frame& f : lib.sent_frames)
            if (f[10] == kind && f[11] == 1) out.push_back(f[12]);
        return out;
    }
    void read(const Frame& f) { lib.reads.push_back({kOk, f}); }
    void timeout(int n = 1) { lib.reads.insert(lib.reads.end(), n, {kTimeout, {}}); }
    void acknowledge_one_message() {
        for (std::uint8_t kind = 1; kind <= 3; ++kind) read(ack(kind, 0));
    }
    // A message of the device: begin frame, the given data frames, end frame.
    void reply(const std::vector<Frame>& data_frames) {
        read(device_frame(1, 1, 0));
        for (const Frame& f : data_frames) read(f);
        read(device_frame(3, 1, 0));
    }
    void start_over() {
        lib.sent_frames.clear();
        lib.reads.clear();
        lib.calls.clear();
        reporter.events.clear();
    }
};

}  // namespace

TEST(FrameLayerNumbers, BigEndianAndChecksum) {
    Frame b(6, 0xEE);
    put_big_endian(b, 1, 0x0001A2B3, 4);
    EXPECT_EQ(b, hex_bytes("EE 00 01 A2 B3 EE"));
    put_big_endian(b, 0, 0, 2);
    EXPECT_EQ(b, hex_bytes("00 00 01 A2 B3 EE"));

    const Frame ff(300, 0xFF);
    EXPECT_EQ(compute_checksum(ff, 0, 299), 10964);  // 76,500 - 65,536 = 2A D4
    EXPECT_EQ(compute_checksum(ff, 0, 0), 255);
    EXPECT_EQ(compute_checksum(ff, 5, 4), 0);  // first index beyond the last
}

TEST_F(FrameLayerTest, FramesAreTheWorkedExamples) {
    LinkPeer peer(lib);
    message(1);
    ASSERT_TRUE(layer.send_message());
    ASSERT_TRUE(layer.send_command_frame(1, 1, 1));
    ASSERT_TRUE(layer.send_command_frame(2, 2, 0));
    const char* const want[] = {
        // message 1 without data: begin, data and end frame
        "E3 57 01 01 01 03 01 01 00 1B 01 01 00 01 01 00 00 00 00 00 00 01 61 00 00 7A CE",
        "E3 57 01 01 01 03 01 01 00 2F 02 01 00 01 01 00 00 00 14 00 14 01 9E"
        "01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D 00 3A 7A CE",
        "E3 57 01 01 01 03 01 01 00 1B 03 01 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE",
        // command frames
        "E3 57 01 01 01 03 01 01 00 1B 01 01 01 01 01 00 00 00 00 00 00 01 62 00 00 7A CE",
        "E3 57 01 01 01 03 01 01 00 1B 02 02 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE",
    };
    ASSERT_EQ(lib.sent_frames.size(), std::size(want));
    for (std::size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(lib.sent_frames[i], hex_bytes(want[i])) << i;
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(FrameLayerTest, MessagesAreCutIntoFramesOf16357Bytes) {
    struct Case { std::size_t length; std::vector<std::size_t> frames; } cases[] = {
        {16357, {16357}},
        {16358, {16357, 1}},
        {2 * 16357 + 5, {16357, 16357, 5}},
    };
    for (const Case& c : cases) {
        start_over();
        LinkPeer peer(lib);
        message(7, c.length - 20);
        ASSERT_TRUE(layer.send_message());
        std::vector<std::size_t> carried;
        Frame joined;
        for (const Frame& f : lib.sent_frames)
            if (f[10] == 2) {
                carried.push_back(f.size() - 27);
                EXPECT_EQ(f[13], c.frames.size());
                EXPECT_EQ(f[14], carried.size());
                joined.insert(joined.end(), f.begin() + 23, f.end() - 4);
            }
        EXPECT_EQ(carried, c.frames) << c.length;
        EXPECT_EQ(joined, layer.message_buffer());
    }
}

// Retry counting in each phase of sending a message, on a line where a frame takes a second
// and a time-out thirty: the sequence byte of each phase's transmissions, the result, the box.
TEST_F(FrameLayerTest, RetryCounting) {
    lib.read_ms = 1000;
    layer.set_clock([this] { return lib.now_ms; });
    const std::vector<int> none, once{0}, six{0, 1, 2, 3, 4, 5};
    struct Read { int kind, sequence; };  // kind 0: a read that times out
    const Read T{0, 0}, B{1, 0}, D{2, 0}, E{3, 0};
    struct Case {
        const char* what;
        std::vector<Read> reads;  // then nothing but time-outs
        bool result;
        std::vector<int> begin, data, end;
        bool out_of_retries;
    } cases[] = {
        {"begin: no answer", {}, false, six, none, none, true},
        {"begin: the match to the fifth transmission is too late", {T, T, T, T, {1, 4}}, false, {0, 1, 2, 3, 4}, none,
         none, true},
        {"begin: mismatches are skipped without a transmission", {{1, 9}, {1, 0x77}, B, D, E}, true, once, once, once,
         false},
        {"data: a mismatch sends the same frame, a time-out counts", {B, {2, 3}, T, {2, 1}, E}, true, once, {0, 0, 1},
         once, false},
        {"data: no answer", {B}, false, once, six, none, true},
        {"end: the fifth transmission still counts", {B, D, T, T, T, T, {3, 4}}, true, once, once, {0, 1, 2, 3, 4},
         false},
        {"end: any frame is delivery", {B, D, {3, 0x77}, E}, true, once, once, once, false},
        {"end: a frame was read before the time-outs", {B, D, {3, 9}, T, T, T, T, T}, true, once, once, six, false},
        {"end: nothing read, and no box either", {B, D}, false, once, once, six, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start_over();
        for (const Read& r : c.reads)
            r.kind ? read(ack(static_cast<std::uint8_t>(r.kind), static_cast<std::uint8_t>(r.sequence))) : timeout();
        message(1);
        EXPECT_EQ(layer.send_message(), c.result);
        EXPECT_EQ(sequences(1), c.begin);
        EXPECT_EQ(sequences(2), c.data);
        EXPECT_EQ(sequences(3), c.end);
        EXPECT_EQ(reporter.boxes(), c.out_of_retries ? QStringList{kOutOfRetries} : QStringList{});
        for (const Frame& f : lib.sent_frames) {
            if (f[10] == 2) {
                EXPECT_EQ(Frame(f.begin() + 23, f.end() - 4), layer.message_buffer());
            }
        }
    }
}

// A device or a line that keeps producing frames with a sequence byte nobody sent: every read
// brings one of them a second after the last. The wait for the right acknowledgement must end
// after one read time-out per transmission, in the retries box, within about six time-outs.
TEST_F(FrameLayerTest, BabbleEndsInRetriesWithinSixTimeOuts) {
    lib.read_ms = 1000;
    layer.set_clock([this] { return lib.now_ms; });
    struct Case { std::uint8_t babble_from; bool result; QStringList boxes; } cases[] = {
        {1, false, {kOutOfRetries}},
        {2, false, {kOutOfRetries}},
        {3, true, {}},  // in the end phase any frame read counts as delivery
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.babble_from);
        start_over();
        // The babble stops after an hour of it, so that a layer that would wait for ever
        // fails here rather than hangs.
        int babbled = 0;
        lib.on_send = [&](ScriptedDeviceLibrary& l, const Frame& f) {
            if (f[10] < c.babble_from) {
                l.reads.push_back({kOk, ack(f[10], f[12])});
            } else {
                for (; l.reads.size() < 40 && babbled < 3600; ++babbled) l.reads.push_back({kOk, ack(f[10], 0x77)});
            }
        };
        message(1);
        const std::int64_t start = lib.now_ms;
        EXPECT_EQ(layer.send_message(), c.result);
        EXPECT_GE(lib.now_ms - start, 5 * 30000);
        EXPECT_LE(lib.now_ms - start, 6 * 30000 + 2000);
        EXPECT_EQ(reporter.boxes(), c.boxes);
        // The counter moved once per time-out: the phase's sequence bytes rise from 0 to 5.
        std::vector<int> seen = sequences(c.babble_from);
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
    lib.on_send = nullptr;
}

// A device that stops acknowledging in the middle of a message: silent, or sending a frame
// with another sequence byte every 0.8 read time-outs. The read time-out is the one the port
// was opened with (300 ms here). Either way the second data frame goes out with sequence
// bytes 0 to 5 and the message fails after five time-outs, within the sixth.
TEST_F(FrameLayerTest, AFloodMidMessageFailsAsSoonAsSilence) {
    ASSERT_EQ(lib.init_port_timeouts(handle, "COM1", 38400, 300), kOk);
    layer.set_clock([this] { return lib.now_ms; });
    lib.read_ms = 240;
    for (const bool flood : {false, true}) {
        SCOPED_TRACE(flood);
        start_over();
        int floods = 0;
        std::int64_t start = -1;  // when the second data frame first went out
        lib.on_send = [&](ScriptedDeviceLibrary& l, const Frame& f) {
            if (f[10] != 2 || f[14] == 1) return l.reads.push_back({kOk, ack(f[10], f[12])});
            if (start < 0) start = l.now_ms;
            for (; flood && l.reads.size() < 40 && floods < 1000; ++floods) l.reads.push_back({kOk, ack(2, 0x77)});
        };
        message(7, 16357 * 2);  // three data frames
        EXPECT_FALSE(layer.send_message());
        const std::int64_t took = lib.now_ms - start;
        EXPECT_GE(took, 5 * 300);
        EXPECT_LT(took, 6 * 300);
        EXPECT_EQ(reporter.boxes(), QStringList{kOutOfRetries});
        std::vector<int> seen;
        for (const Frame& f : lib.sent_frames)
            if (f[10] == 2 && f[14] == 2 && (seen.empty() || seen.back() != f[12])) seen.push_back(f[12]);
        EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4, 5}));
    }
    lib.on_send = nullptr;
}

// Sending a message or acknowledging a received one when a frame cannot be sent, and a
// message of more than 255 frames, which is not sent at all.
TEST_F(FrameLayerTest, FramesThatCannotBeSent) {
    const QString kNoContact = "Unable to communicate with device.";
    struct Case { bool receiving; std::vector<std::int32_t> sends; std::size_t data_bytes; QString box; } cases[] = {
        {false, {0}, 0, kNoCommand},
        {false, {1, 0}, 0, kNoData},
        {false, {1, 1, 0}, 0, kNoCommand},
        {false, {}, 255 * 16357 + 1 - 20, kNoData},
        {true, {0}, 0, kNoCommand},
        {true, {1, 0}, 0, kNoContact},
        {true, {1, 1, 0}, 0, kNoContact},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.receiving << " " << c.sends.size() << " " << c.data_bytes);
        start_over();
        lib.send_results.assign(c.sends.begin(), c.sends.end());
        if (c.receiving) {
            reply({device_frame(2, 1, 0, {1})});
            EXPECT_FALSE(layer.receive_message());
        } else {
            acknowledge_one_message();
            message(1, c.data_bytes);
            EXPECT_FALSE(layer.send_message());
        }
        EXPECT_EQ(std::ssize(lib.sent_frames), std::count(c.sends.begin(), c.sends.end(), 1));
        EXPECT_EQ(reporter.boxes(), QStringList{c.box});
    }
}

// A received message is assembled from its data frames in arrival order, from index 0 of the
// 327,681-byte buffer; byte 13 (the frame count) is trusted, 0 counting as one. Every frame is
// acknowledged with its own kind and sequence byte.
TEST_F(FrameLayerTest, ReceivedMessages) {
    const Frame reply4 = device_message(2, Frame{1, 2, 3, 4});
    struct Case { std::vector<Frame> frames; Frame message; } cases[] = {
        {{device_frame(1, 1, 5), device_frame(2, 1, 6, reply4), device_frame(3, 1, 7)}, reply4},
        {{device_frame(1, 1, 0), device_frame(2, 1, 0, {0xA1, 0xA2}, 2, 1), device_frame(2, 1, 1, {0xB1}, 2, 2),
          device_frame(3, 1, 0)},
         {0xA1, 0xA2, 0xB1}},
        {{device_frame(1, 1, 0), device_frame(2, 1, 0, {0xC1}, 0, 1), device_frame(3, 1, 0)}, {0xC1}},
    };
    for (const Case& c : cases) {
        start_over();
        for (const Frame& f : c.frames) read(f);
        ASSERT_TRUE(layer.receive_message());
        const Bytes& m = layer.message_buffer();
        ASSERT_EQ(m.size(), 327681u);
        EXPECT_EQ(Frame(m.begin(), m.begin() + c.message.size()), c.message);
        EXPECT_EQ(std::count(m.begin() + c.message.size(), m.end(), 0), std::ssize(m) - std::ssize(c.message));
        ASSERT_EQ(lib.sent_frames.size(), c.frames.size());
        for (std::size_t i = 0; i < c.frames.size(); ++i) EXPECT_EQ(lib.sent_frames[i], ack(c.frames[i][10], c.frames[i][12]));
        EXPECT_TRUE(reporter.events.isEmpty());
    }
}

// A message of the device that does not come, or does not fit: receive_message gives up
// without a box, after so many reads, and the message buffer keeps its 327,681 bytes.
TEST_F(FrameLayerTest, ReceiveMessageGivesUpSilently) {
    const Frame begin = device_frame(1, 1, 0), data = device_frame(2, 1, 0, {1});
    Frame big = data;
    put_be(big, 19, 16363, 2);  // a data count past the receive buffer
    std::vector<Frame> too_many{begin};  // 21 full frames: more than the message buffer holds
    for (int n = 1; n <= 21; ++n) too_many.push_back(device_frame(2, 1, 0, Frame(16362, 0x5A), 21, static_cast<std::uint8_t>(n)));
    too_many.push_back(device_frame(3, 1, 0));
    struct Case { const char* what; std::vector<Frame> frames; int reads; } cases[] = {
        // begin phase: four frames examined, a fifth read
        {"no begin frame", {}, 5},
        {"data frames instead of a begin frame", {data, data, data, data, data}, 5},
        // data phase: four attempts of a read and a discarded read
        {"no data frame", {begin}, 1 + 8},
        {"a frame too long", {begin, big}, 2},
        {"a message too long", too_many, 1 + 21},
        // end phase: three frames examined, a fourth read
        {"no end frame", {begin, data, data, data, data, data}, 1 + 1 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start_over();
        for (const Frame& f : c.frames) read(f);
        EXPECT_FALSE(layer.receive_message());
        EXPECT_EQ(std::count(lib.calls.begin(), lib.calls.end(), "get_data"), c.reads);
        EXPECT_TRUE(reporter.events.isEmpty());
        EXPECT_EQ(layer.message_buffer().size(), 327681u);
    }
}

TEST_F(FrameLayerTest, EveryReadAndEveryReplyStartsFromZeros) {
    // What an earlier use left in a buffer never shows through: not the sent message, not a
    // longer reply, not a longer frame. A short data frame whose data count claims more than
    // it carries must read zeros for the rest. The buffers are cleared by what was used,
    // and by all of it when the library does not say how much it wrote.
    for (const bool reports : {true, false}) {
        SCOPED_TRACE(reports);
        lib.reports_written = reports;
        lib.reads.clear();
        message(7, 3000);  // 3,020 bytes of AB in the message buffer, sent and acknowledged
        acknowledge_one_message();
        ASSERT_TRUE(layer.send_message());

        const Frame long_reply = device_message(8, Frame(5000, 0xCD));
        read(device_frame(1, 1, 0, Frame(900, 0xEE)));  // a begin frame with stray bytes after it
        read(device_frame(2, 1, 0, long_reply));
        read(device_frame(3, 1, 0));
        ASSERT_TRUE(layer.receive_message());
        EXPECT_EQ(Frame(layer.message_buffer().begin(), layer.message_buffer().begin() + 5020), long_reply);

        Frame short_frame = device_frame(2, 1, 0, {0x11, 0x22});
        put_be(short_frame, 19, 40, 2);  // claims 40 data bytes
        // Not a data frame: counted, and the next read discarded.
        reply({device_frame(9, 1, 0, Frame(4000, 0x77)), Frame(6000, 0x66), short_frame});
        ASSERT_TRUE(layer.receive_message());
        const Bytes& m = layer.message_buffer();
        ASSERT_EQ(m.size(), 327681u);
        // The 40 bytes from frame byte 23 on: the frame's own 6 bytes, then zeros.
        Frame claimed(short_frame.begin() + 23, short_frame.end());
        claimed.resize(40, 0);
        EXPECT_EQ(Frame(m.begin(), m.begin() + 40), claimed);
        EXPECT_EQ(std::count(m.begin() + 40, m.end(), 0), 327681 - 40);

        message(9);  // a message built after a reply is exactly the message
        EXPECT_EQ(layer.message_buffer().size(), 20u);
    }
}
