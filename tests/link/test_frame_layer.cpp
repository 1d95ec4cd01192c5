// The frame layer against the worked examples, byte for byte, and its retry counting.

#include "link/FrameLayer.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace halvern;
using namespace halvern::test;

namespace {

Frame hex(const char* text) {
    Frame out;
    unsigned v = 0;
    int digits = 0;
    for (const char* p = text; *p; ++p) {
        const char c = *p;
        if (c == ' ') continue;
        v = v * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits == 2) {
            out.push_back(static_cast<std::uint8_t>(v));
            v = 0;
            digits = 0;
        }
    }
    return out;
}

const QString kOutOfRetries = "Unable to communicate with device.  Maximum number of retries reached.";

struct FrameLayerTest : ::testing::Test {
    ScriptedDeviceLibrary lib;
    RecordingReporter reporter;
    std::int32_t handle = 7;
    FrameLayer layer{lib, handle, reporter};

    void message(std::uint8_t code, std::size_t data_bytes = 0) {
        layer.build_message(code, 0, Frame(data_bytes, 0xAB));
    }
    std::vector<int> sequences(std::uint8_t kind) const {
        std::vector<int> out;
        for (const Frame& f : lib.sent_frames)
            if (f[10] == kind && f[11] == 1) out.push_back(f[12]);
        return out;
    }
    void read(const Frame& f) { lib.reads.push_back({kOk, f}); }
    void timeout(int n = 1) {
        for (int i = 0; i < n; ++i) lib.reads.push_back({kTimeout, {}});
    }
};

}  // namespace

TEST(FrameLayerNumbers, BigEndianAndChecksum) {
    Frame b(6, 0xEE);
    put_big_endian(b, 1, 0x0001A2B3, 4);
    EXPECT_EQ(b, hex("EE 00 01 A2 B3 EE"));
    put_big_endian(b, 0, 0, 2);
    EXPECT_EQ(b, hex("00 00 01 A2 B3 EE"));

    const Frame ff(300, 0xFF);
    struct Case { std::int64_t from, to; std::int32_t sum; } cases[] = {
        {0, 299, 10964},  // 76,500 - 65,536 = 2A D4
        {0, 0, 255},
        {5, 4, 0},        // first index beyond the last
    };
    for (const Case& c : cases) EXPECT_EQ(compute_checksum(ff, c.from, c.to), c.sum) << c.from << ".." << c.to;
}

TEST_F(FrameLayerTest, CommandFramesAreTheWorkedExamples) {
    ASSERT_TRUE(layer.send_command_frame(1, 1, 0));
    ASSERT_TRUE(layer.send_command_frame(1, 1, 1));
    ASSERT_TRUE(layer.send_command_frame(2, 2, 0));
    ASSERT_EQ(lib.sent_frames.size(), 3u);
    EXPECT_EQ(lib.sent_frames[0], hex("E3 57 01 01 01 03 01 01 00 1B 01 01 00 01 01 00 00 00 00 00 00 01 61 00 00 7A CE"));
    EXPECT_EQ(lib.sent_frames[1], hex("E3 57 01 01 01 03 01 01 00 1B 01 01 01 01 01 00 00 00 00 00 00 01 62 00 00 7A CE"));
    EXPECT_EQ(lib.sent_frames[2], hex("E3 57 01 01 01 03 01 01 00 1B 02 02 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE"));
}

TEST_F(FrameLayerTest, MessageWithoutDataTravelsAsBeginDataEnd) {
    LinkPeer peer(lib);
    message(1);
    ASSERT_TRUE(layer.send_message());
    ASSERT_EQ(lib.sent_frames.size(), 3u);
    EXPECT_EQ(lib.sent_frames[0][10], 1);
    EXPECT_EQ(lib.sent_frames[1], hex("E3 57 01 01 01 03 01 01 00 2F 02 01 00 01 01 00 00 00 14 00 14 01 9E"
                                      "01 01 01 03 01 01 00 00 00 14 01 00 00 00 00 00 00 00 00 1D"
                                      "00 3A 7A CE"));
    EXPECT_EQ(lib.sent_frames[2], hex("E3 57 01 01 01 03 01 01 00 1B 03 01 00 01 01 00 00 00 00 00 00 01 63 00 00 7A CE"));
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(FrameLayerTest, MessagesAreCutIntoFramesOf16357Bytes) {
    struct Case { std::size_t length; std::vector<std::size_t> frames; } cases[] = {
        {16357, {16357}},
        {16358, {16357, 1}},
        {2 * 16357 + 5, {16357, 16357, 5}},
    };
    for (const Case& c : cases) {
        lib.sent_frames.clear();
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

TEST_F(FrameLayerTest, BeginPhaseRetries) {
    // Five failed reads: six begin frames, sequence bytes 0 to 5, then the retries box.
    timeout(5);
    message(1);
    EXPECT_FALSE(layer.send_message());
    EXPECT_EQ(sequences(1), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(reporter.boxes(), QStringList{kOutOfRetries});

    // A matching acknowledgement to the fifth transmission still runs out of retries.
    lib.sent_frames.clear();
    reporter.events.clear();
    timeout(4);
    read(ack(1, 4));
    EXPECT_FALSE(layer.send_message());
    EXPECT_EQ(sequences(1), (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_EQ(reporter.boxes(), QStringList{kOutOfRetries});

    // A mismatched acknowledgement is skipped without a new transmission.
    lib.sent_frames.clear();
    reporter.events.clear();
    read(ack(1, 9));
    read(ack(1, 0));
    read(ack(2, 0));
    read(ack(3, 0));
    EXPECT_TRUE(layer.send_message());
    EXPECT_EQ(sequences(1), (std::vector<int>{0}));
    EXPECT_TRUE(reporter.events.isEmpty());
}

TEST_F(FrameLayerTest, DataPhaseRetransmitsTheSameFrame) {
    read(ack(1, 0));
    read(ack(2, 3));  // mismatch: same frame again, counter unchanged
    timeout();        // counter 1
    read(ack(2, 1));
    read(ack(3, 0));
    message(1);
    EXPECT_TRUE(layer.send_message());
    EXPECT_EQ(sequences(2), (std::vector<int>{0, 0, 1}));
    for (const Frame& f : lib.sent_frames) {
        if (f[10] == 2) {
            EXPECT_EQ(Frame(f.begin() + 23, f.end() - 4), layer.message_buffer());
        }
    }

    // Out of retries in the data phase.
    lib.sent_frames.clear();
    read(ack(1, 0));
    timeout(5);
    EXPECT_FALSE(layer.send_message());
    EXPECT_EQ(sequences(2), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(reporter.boxes(), QStringList{kOutOfRetries});
}

TEST_F(FrameLayerTest, EndPhaseCountsAnyFrameAsDelivery) {
    struct Case { std::vector<int> reads; bool result; std::vector<int> end_sequences; } cases[] = {
        {{0}, true, {0}},
        {{-1, -1, -1, -1, 4}, true, {0, 1, 2, 3, 4}},   // counter 4 still counts here
        {{9, -1, -1, -1, -1, -1}, true, {0, 1, 2, 3, 4, 5}},  // a frame was read: delivered
        {{-1, -1, -1, -1, -1}, false, {0, 1, 2, 3, 4, 5}},    // nothing read: no box either
    };
    for (const Case& c : cases) {
        lib.sent_frames.clear();
        reporter.events.clear();
        read(ack(1, 0));
        read(ack(2, 0));
        for (int r : c.reads) r < 0 ? timeout() : read(ack(3, static_cast<std::uint8_t>(r)));
        message(13);
        EXPECT_EQ(layer.send_message(), c.result);
        EXPECT_EQ(sequences(3), c.end_sequences);
        EXPECT_TRUE(reporter.events.isEmpty());
        lib.reads.clear();
    }
}

TEST_F(FrameLayerTest, FramesThatCannotBeSent) {
    struct Case { std::vector<std::int32_t> sends; QString box; } cases[] = {
        {{0}, "Unable to transmit command to device."},
        {{1, 0}, "Unable to transmit data to device."},
        {{1, 1, 0}, "Unable to transmit command to device."},
    };
    for (const Case& c : cases) {
        reporter.events.clear();
        lib.send_results.assign(c.sends.begin(), c.sends.end());
        read(ack(1, 0));
        read(ack(2, 0));
        message(1);
        EXPECT_FALSE(layer.send_message());
        EXPECT_EQ(reporter.boxes(), QStringList{c.box});
        lib.reads.clear();
    }
}

TEST_F(FrameLayerTest, MessageOfMoreThan255FramesIsNotSent) {
    message(7, 255 * 16357 + 1 - 20);
    EXPECT_FALSE(layer.send_message());
    EXPECT_TRUE(lib.sent_frames.empty());
    EXPECT_EQ(reporter.boxes(), QStringList{"Unable to transmit data to device."});
}

TEST_F(FrameLayerTest, ReceiveMessageAcknowledgesEveryFrame) {
    const Frame reply = device_message(2, Frame{1, 2, 3, 4});
    read(device_frame(1, 1, 5));
    read(device_frame(2, 1, 6, reply));
    read(device_frame(3, 1, 7));
    ASSERT_TRUE(layer.receive_message());
    ASSERT_EQ(layer.message_buffer().size(), 327681u);
    EXPECT_EQ(Frame(layer.message_buffer().begin(), layer.message_buffer().begin() + 24), reply);
    EXPECT_EQ(layer.message_buffer()[24], 0);
    ASSERT_EQ(lib.sent_frames.size(), 3u);
    EXPECT_EQ(lib.sent_frames[0], ack(1, 5));
    EXPECT_EQ(lib.sent_frames[1], ack(2, 6));
    EXPECT_EQ(lib.sent_frames[2], ack(3, 7));
}

TEST_F(FrameLayerTest, ReceiveMessageJoinsDataFramesAndTrustsByte13) {
    // Two data frames in arrival order; then a frame count of 0 still counts as one frame.
    read(device_frame(1, 1, 0));
    read(device_frame(2, 1, 0, {0xA1, 0xA2}, 2, 1));
    read(device_frame(2, 1, 1, {0xB1}, 2, 2));
    read(device_frame(3, 1, 0));
    ASSERT_TRUE(layer.receive_message());
    EXPECT_EQ(Frame(layer.message_buffer().begin(), layer.message_buffer().begin() + 4), (Frame{0xA1, 0xA2, 0xB1, 0}));

    read(device_frame(1, 1, 0));
    read(device_frame(2, 1, 0, {0xC1}, 0, 1));
    read(device_frame(3, 1, 0));
    EXPECT_TRUE(layer.receive_message());
    EXPECT_EQ(layer.message_buffer()[0], 0xC1);
}

TEST_F(FrameLayerTest, ReceiveMessageGivesUpSilently) {
    const Frame data = device_frame(2, 1, 0, {1});
    struct Case { const char* what; std::vector<Frame> frames; int reads; } cases[] = {
        // begin phase: four frames examined, a fifth read
        {"no begin frame", {}, 5},
        {"data frames instead of a begin frame", {data, data, data, data, data}, 5},
        // data phase: four attempts of a read and a discarded read
        {"no data frame", {device_frame(1, 1, 0)}, 1 + 8},
        // end phase: three frames examined, a fourth read
        {"no end frame", {device_frame(1, 1, 0), data, data, data, data, data}, 1 + 1 + 4},
    };
    for (const Case& c : cases) {
        lib.reads.clear();
        lib.calls.clear();
        for (const Frame& f : c.frames) read(f);
        EXPECT_FALSE(layer.receive_message()) << c.what;
        EXPECT_EQ(std::count(lib.calls.begin(), lib.calls.end(), "get_data"), c.reads) << c.what;
        EXPECT_TRUE(reporter.events.isEmpty()) << c.what;
    }
}

TEST_F(FrameLayerTest, ReceivedFramesAndMessagesThatDoNotFitFail) {
    // A data count past the receive buffer.
    Frame big = device_frame(2, 1, 0, {1});
    put_be(big, 19, 16363, 2);
    read(device_frame(1, 1, 0));
    read(big);
    EXPECT_FALSE(layer.receive_message());

    // Twenty-one full frames are more than the message buffer holds.
    lib.reads.clear();
    read(device_frame(1, 1, 0));
    const Frame full(16362, 0x5A);
    for (int n = 1; n <= 21; ++n) read(device_frame(2, 1, 0, full, 21, static_cast<std::uint8_t>(n)));
    read(device_frame(3, 1, 0));
    EXPECT_FALSE(layer.receive_message());
    EXPECT_EQ(layer.message_buffer().size(), 327681u);
}

TEST_F(FrameLayerTest, AcknowledgementsThatCannotBeSent) {
    struct Case { std::vector<std::int32_t> sends; QString box; } cases[] = {
        {{0}, "Unable to transmit command to device."},
        {{1, 0}, "Unable to communicate with device."},
        {{1, 1, 0}, "Unable to communicate with device."},
    };
    for (const Case& c : cases) {
        reporter.events.clear();
        lib.reads.clear();
        lib.send_results.assign(c.sends.begin(), c.sends.end());
        read(device_frame(1, 1, 0));
        read(device_frame(2, 1, 0, {1}));
        read(device_frame(3, 1, 0));
        EXPECT_FALSE(layer.receive_message());
        EXPECT_EQ(reporter.boxes(), QStringList{c.box});
    }
}

// A device or a line that keeps producing frames with a sequence byte nobody sent: every read
// brings one of them a second after the last. The wait for the right acknowledgement must end
// after one read time-out per transmission, in the retries box, within about six time-outs.
TEST_F(FrameLayerTest, BabbleEndsInRetriesWithinSixTimeOuts) {
    lib.read_ms = 1000;
    layer.set_clock([this] { return lib.now_ms; }, 30000);
    enum Phase { kBegin = 1, kData = 2, kEnd = 3 };
    struct Case { Phase babble_from; bool result; QStringList boxes; std::vector<int> last_sequences; } cases[] = {
        {kBegin, false, {kOutOfRetries}, {0, 1, 2, 3, 4, 5}},
        {kData, false, {kOutOfRetries}, {0, 1, 2, 3, 4, 5}},
        // In the end phase any frame read counts as delivery: no box, as without the babble.
        {kEnd, true, {}, {0, 1, 2, 3, 4, 5}},
    };
    for (const Case& c : cases) {
        lib.sent_frames.clear();
        lib.reads.clear();
        reporter.events.clear();
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
        EXPECT_EQ(layer.send_message(), c.result) << c.babble_from;
        const std::int64_t took = lib.now_ms - start;
        EXPECT_GE(took, 5 * 30000) << c.babble_from;
        EXPECT_LE(took, 6 * 30000 + 2000) << c.babble_from;
        EXPECT_EQ(reporter.boxes(), c.boxes) << c.babble_from;
        // The counter moved once per time-out: the sequence bytes of the phase's frames rise
        // from 0 to 5 and never fall back.
        std::vector<int> seen = sequences(static_cast<std::uint8_t>(c.babble_from));
        seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
        EXPECT_EQ(seen, c.last_sequences) << c.babble_from;
    }
    lib.on_send = nullptr;
}

// One stray frame before the right acknowledgement changes nothing: the begin and end phases
// skip it, the data phase sends the same frame once more with the same sequence byte.
TEST_F(FrameLayerTest, OccasionalStrayFrameChangesNothing) {
    lib.read_ms = 1000;
    layer.set_clock([this] { return lib.now_ms; }, 30000);
    for (int phase = 1; phase <= 3; ++phase) {
        lib.sent_frames.clear();
        reporter.events.clear();
        for (int kind = 1; kind <= 3; ++kind) {
            if (kind == phase) read(ack(static_cast<std::uint8_t>(kind), 0x77));
            read(ack(static_cast<std::uint8_t>(kind), 0));
        }
        message(1);
        EXPECT_TRUE(layer.send_message()) << phase;
        EXPECT_TRUE(reporter.events.isEmpty()) << phase;
        EXPECT_EQ(sequences(1), std::vector<int>{0}) << phase;
        EXPECT_EQ(sequences(2), (phase == 2 ? std::vector<int>{0, 0} : std::vector<int>{0})) << phase;
        EXPECT_EQ(sequences(3), std::vector<int>{0}) << phase;
    }
}

TEST_F(FrameLayerTest, EveryReadAndEveryReplyStartsFromZeros) {
    // What an earlier use left in a buffer never shows through: not the sent message, not a
    // longer reply, not a longer frame. A short data frame whose data count claims more than
    // it carries must read zeros for the rest. The buffers are cleared by what was used,
    // and by all of it when the library does not say how much it wrote.
    for (const bool reports : {true, false}) {
        lib.reports_written = reports;
        lib.reads.clear();
        message(7, 3000);  // 3,020 bytes of AB in the message buffer, sent and acknowledged
        read(ack(1, 0));
        read(ack(2, 0));
        read(ack(3, 0));
        ASSERT_TRUE(layer.send_message());

        const Frame long_reply = device_message(8, Frame(5000, 0xCD));
        read(device_frame(1, 1, 0, Frame(900, 0xEE)));  // a begin frame with stray bytes after it
        read(device_frame(2, 1, 0, long_reply));
        read(device_frame(3, 1, 0));
        ASSERT_TRUE(layer.receive_message());
        EXPECT_EQ(Frame(layer.message_buffer().begin(), layer.message_buffer().begin() + 5020), long_reply);

        Frame short_frame = device_frame(2, 1, 0, {0x11, 0x22});
        put_be(short_frame, 19, 40, 2);  // claims 40 data bytes
        read(device_frame(1, 1, 0));
        read(device_frame(9, 1, 0, Frame(4000, 0x77)));  // not a data frame: counted, and the next discarded
        read(Frame(6000, 0x66));
        read(short_frame);
        read(device_frame(3, 1, 0));
        ASSERT_TRUE(layer.receive_message()) << reports;
        const Bytes& m = layer.message_buffer();
        ASSERT_EQ(m.size(), 327681u);
        // The 40 bytes from frame byte 23 on: the frame's own 6 bytes, then zeros.
        Frame claimed(short_frame.begin() + 23, short_frame.end());
        claimed.resize(40, 0);
        EXPECT_EQ(Frame(m.begin(), m.begin() + 40), claimed) << reports;
        EXPECT_EQ(std::count(m.begin() + 40, m.end(), 0), 327681 - 40) << reports;

        // A message built after a reply is exactly the message.
        message(9);
        EXPECT_EQ(layer.message_buffer().size(), 20u);
    }
}

TEST_F(FrameLayerTest, AReplyClearsAboutWhatItReceives) {
    // After the first exchange has sized the buffers, a reply clears what the one before it
    // wrote: the bytes it received, give or take a frame.
    const Frame reply = device_message(8);
    auto one_reply = [&] {
        read(device_frame(1, 1, 0));
        read(device_frame(2, 1, 0, reply));
        read(device_frame(3, 1, 0));
        return layer.receive_message();
    };
    ASSERT_TRUE(one_reply());
    for (int k = 0; k < 3; ++k) {
        message(9);
        read(ack(1, 0));
        read(ack(2, 0));
        read(ack(3, 0));
        ASSERT_TRUE(layer.send_message());
        const std::uint64_t before = layer.bytes_zeroed();
        ASSERT_TRUE(one_reply());
        const std::uint64_t received = 27 + (27 + reply.size()) + 27;
        EXPECT_LE(layer.bytes_zeroed() - before, 2 * received);
    }
}
