#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <iterator>

#include "Device.h"

using namespace halvern::sim;

namespace {

// The system's side of the link, driven by hand: it feeds frames to the device and takes
// the device's frames apart.
struct Bench {
    explicit Bench(DeviceConfig cfg) : device(std::move(cfg), [this](const std::string& s) { log.push_back(s); }),
                                       link(device, [this](const std::string& s) { log.push_back(s); }) {}

    // Feeds one raw frame, returns the frames the device sent in answer.
    std::vector<Frame> feed(const Bytes& raw) {
        link.receive(raw.data(), raw.size(), now);
        return drain();
    }
    std::vector<Frame> drain() {
        const Bytes out = link.take_output();
        link.output_drained(now);
        std::vector<Frame> frames;
        std::size_t at = 0;
        while (at < out.size()) {
            const std::size_t length = get_be(out, at + 8, 2);
            Bytes raw(out.begin() + at, out.begin() + at + length);
            auto f = decode_frame(raw, nullptr);
            EXPECT_TRUE(f) << "device sent a malformed frame";
            if (f) frames.push_back(*f);
            at += length;
        }
        return frames;
    }

    // Sends a whole message as the system does and checks every acknowledgement; returns
    // the device's first answer to the end frame (its reply's begin frame, if any).
    std::vector<Frame> send(const Message& m) {
        std::vector<Frame> after_end;
        for (Frame f : frames_of_message(encode_message(m))) {
            f.sequence = 0;
            auto answer = feed(encode_frame(f));
            EXPECT_GE(answer.size(), 1u);
            if (answer.empty()) return {};
            EXPECT_EQ(answer[0].kind, f.kind);
            EXPECT_EQ(answer[0].role, kAcknowledgement);
            EXPECT_EQ(answer[0].sequence, 0);
            EXPECT_TRUE(answer[0].data.empty());
            if (f.kind == kEnd) after_end.assign(answer.begin() + 1, answer.end());
        }
        return after_end;
    }

    // Receives the device's reply, acknowledging each frame; the reply message bytes.
    Bytes receive(std::vector<Frame> pending) {
        Bytes message;
        for (int guard = 0; guard < 10 && !pending.empty(); ++guard) {
            const Frame f = pending.front();
            EXPECT_EQ(f.role, kTransmission);
            if (f.kind == kData) message.insert(message.end(), f.data.begin(), f.data.end());
            auto next = feed(encode_frame(Frame{f.kind, kAcknowledgement, f.sequence, 1, 1, {}}));
            if (f.kind == kEnd) {
                EXPECT_TRUE(next.empty());
                return message;
            }
            pending = next;
        }
        ADD_FAILURE() << "reply did not end with an end frame";
        return message;
    }

    Bytes exchange(const Message& m) { return receive(send(m)); }

    double now = 0;
    std::vector<std::string> log;
    Projector device;
    DeviceLink link;
};

// The 16-bit form of a version control file as the system sends it: each byte followed by 0.
Bytes wide(const Bytes& file) {
    Bytes out;
    for (auto b : file) {
        out.push_back(b);
        out.push_back(0);
    }
    return out;
}

Bytes version_file(const std::string& version) {
    Bytes f(768, 0);
    for (int i = 0; i < 4; ++i) f[32 + i] = static_cast<std::uint8_t>(version[i]);
    return f;
}

Bytes read_file(const QString& path) {
    std::ifstream in(path.toStdString(), std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

TEST(ProjectorSimLink, WholeUploadAssemblesFlashesAndDumpsTheImage) {
    QTemporaryDir dir;
    DeviceConfig cfg;
    cfg.state = Power::kStandby;
    cfg.version = "0100";
    cfg.block_message_size = 20 + 6;   // six image bytes a block
    cfg.dump_dir = dir.path().toStdString();
    Bench b(cfg);

    EXPECT_EQ(b.exchange({1, 0, {}}), encode_message({2, 0, {}}));
    EXPECT_EQ(b.device.power(0), Power::kUpload);

    // Reply to the version message: code 4, the block message size in data bytes 0..3.
    EXPECT_EQ(b.exchange({3, 0, wide(version_file("0105"))}),
              (Bytes{0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x18, 0x04, 0x00, 0x00, 0x00,
                     0x00, 0x04, 0x00, 0x1A, 0x00, 0x42, 0x00, 0x00, 0x00, 0x1A}));

    EXPECT_EQ(b.exchange({5, 3, {'A', 'B', 'C', '.', 'm', 'o', 't'}}), encode_message({6, 0, {}}));
    // Blocks 1 and 3 are flashed; block 2 is sent but never flashed, and so stays FF.
    const Bytes blocks[] = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}, {13, 14, 15, 16, 17, 18}};
    for (std::uint8_t n = 1; n <= 3; ++n) {
        EXPECT_EQ(b.exchange({7, n, blocks[n - 1]}), encode_message({8, 0, {}}));
        if (n != 2) {
            EXPECT_EQ(b.exchange({9, n, {}}), encode_message({10, 0, {}}));
        }
    }
    const Bytes image = {1, 2, 3, 4, 5, 6, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 13, 14, 15, 16, 17, 18};
    EXPECT_EQ(b.device.images().at("ABC.mot"), image);
    EXPECT_EQ(b.exchange({11, 0, {}}), encode_message({12, 0, {}}));
    EXPECT_EQ(read_file(dir.filePath("ABC.bin")), image);

    EXPECT_EQ(b.exchange({13, 0, {}}), encode_message({14, 0, {}}));
    EXPECT_FALSE(b.link.reset_seen());
    EXPECT_TRUE(b.send({15, 0, {}}).empty()) << "no reply to the reset";
    EXPECT_TRUE(b.link.reset_seen());
    EXPECT_EQ(b.device.power(0), Power::kStandby);
    EXPECT_EQ(b.device.version(), "0105");
    EXPECT_EQ(b.device.uploads_completed(), 1);
}

TEST(ProjectorSimLink, LongMessagesTravelInSeveralFramesBothWays) {
    DeviceConfig cfg;
    cfg.block_message_size = 16384;
    Bench b(cfg);
    b.exchange({5, 2, {'B', '.', 'm', 'o', 't'}});
    // A 32,768-byte block message needs three data frames from the system.
    Bytes block(32768 - 20);
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7);
    const auto frames = frames_of_message(encode_message({7, 1, block}));
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(b.exchange({7, 1, block}), encode_message({8, 0, {}}));
    b.exchange({9, 1, {}});
    EXPECT_EQ(Bytes(b.device.images().at("B.mot").begin(), b.device.images().at("B.mot").begin() + 16364),
              Bytes(block.begin(), block.begin() + 16364));
}

TEST(ProjectorSimLink, SystemRetransmissionsAfterDroppedCorruptedOrMisacknowledgedFrames) {
    // Frame k counts the system's transmissions: message 1 is frames 1 (begin), 2 (data), 3 (end).
    struct Case {
        const char* fault;
        int frame;              // which of the three frames of message 1 is hit
        bool acknowledged;      // whether the first transmission gets an acknowledgement
        std::uint8_t ack_seq;   // its sequence byte
    };
    const Case cases[] = {
        {"drop-frame:1", 1, false, 0},
        {"drop-frame:2", 2, false, 0},
        {"corrupt-frame:1", 1, false, 0},
        {"corrupt-frame:2", 2, false, 0},
        {"corrupt-frame:3", 3, false, 0},
        {"wrong-seq:2", 2, true, 1},
        {"wrong-seq:3", 3, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        DeviceConfig cfg;
        ASSERT_TRUE(parse_fault(c.fault, &cfg.faults, nullptr));
        Bench b(cfg);
        const auto frames = frames_of_message(encode_message({1, 0, {}}));
        std::vector<Frame> after_end;
        for (int k = 1; k <= 3; ++k) {
            Frame f = frames[k - 1];
            f.sequence = 0;
            auto answer = b.feed(encode_frame(f));
            auto keep_transmissions = [&](const std::vector<Frame>& frames) {
                for (const Frame& x : frames)
                    if (x.role == kTransmission) after_end.push_back(x);
            };
            if (k == c.frame) {
                keep_transmissions(answer);
                if (c.acknowledged) {
                    ASSERT_GE(answer.size(), 1u);
                    EXPECT_EQ(answer[0].sequence, c.ack_seq);
                } else {
                    EXPECT_TRUE(answer.empty());
                }
                // The system sends the same frame again with the counter one up.
                f.sequence = 1;
                answer = b.feed(encode_frame(f));
                ASSERT_GE(answer.size(), 1u);
                EXPECT_EQ(answer[0].kind, f.kind);
                EXPECT_EQ(answer[0].sequence, 1);
            }
            ASSERT_GE(answer.size(), 1u);
            if (k == 3) keep_transmissions(answer);
        }
        // The reply's begin frame goes out once, right after the first acknowledgement of the end.
        ASSERT_EQ(after_end.size(), 1u);
        // The message was taken once, whole, and is answered once.
        EXPECT_EQ(b.receive(after_end), encode_message({2, 0, {}}));
        EXPECT_TRUE(b.drain().empty());
    }
}

TEST(ProjectorSimLink, DeviceRetransmitsUnacknowledgedFramesThenGivesUp) {
    Bench b(DeviceConfig{});
    const auto first = b.send({13, 0, {}});
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].kind, kBegin);
    EXPECT_EQ(first[0].sequence, 0);

    // No acknowledgement: the clock starts when the frame has left, and runs ~1 s per try.
    b.now = 0.9;
    b.link.poll(b.now);
    EXPECT_TRUE(b.drain().empty());
    for (int seq = 1; seq <= 4; ++seq) {
        b.now += 1.0;
        b.link.poll(b.now);
        const auto again = b.drain();
        ASSERT_EQ(again.size(), 1u) << seq;
        EXPECT_EQ(again[0].kind, kBegin);
        EXPECT_EQ(again[0].sequence, seq);
    }
    // An acknowledgement of an old transmission is not taken for the current one.
    EXPECT_TRUE(b.feed(encode_frame(Frame{kBegin, kAcknowledgement, 2, 1, 1, {}})).empty());
    b.now += 1.0;
    b.link.poll(b.now);
    EXPECT_TRUE(b.drain().empty()) << "five transmissions, then the reply is abandoned";
    EXPECT_FALSE(b.link.next_deadline());

    // A late acknowledgement of the third transmission still moves the reply on.
    Bench c(DeviceConfig{});
    c.send({13, 0, {}});
    c.now = 1.0;
    c.link.poll(c.now);
    const auto second = c.drain();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(c.receive(second), encode_message({14, 0, {}}));
}

TEST(ProjectorSimLink, ReplyFaults) {
    {
        DeviceConfig cfg;
        ASSERT_TRUE(parse_fault("no-reply:7", &cfg.faults, nullptr));
        Bench b(cfg);
        EXPECT_TRUE(b.send({7, 1, {1, 2}}).empty());
        EXPECT_FALSE(b.send({9, 1, {}}).empty());
    }
    {
        DeviceConfig cfg;
        ASSERT_TRUE(parse_fault("block-size-zero", &cfg.faults, nullptr));
        Bench b(cfg);
        const Bytes reply = b.exchange({3, 0, {}});
        ASSERT_EQ(reply.size(), 24u);
        EXPECT_EQ(get_be(reply, 20, 4), 0u);
    }
    {
        DeviceConfig cfg;
        cfg.state = Power::kUpload;
        ASSERT_TRUE(parse_fault("silent", &cfg.faults, nullptr));
        Bench b(cfg);
        for (const Frame& f : frames_of_message(encode_message({1, 0, {}})))
            EXPECT_TRUE(b.feed(encode_frame(f)).empty());
        const Bytes q = encode_request('Q', 0);
        b.link.receive(q.data(), q.size(), 0);
        EXPECT_TRUE(b.link.take_output().empty());
    }
    {
        // A message whose envelope checksum is wrong is acknowledged frame by frame but not answered.
        Bench b(DeviceConfig{});
        Bytes bad = encode_message({1, 0, {}});
        bad[19] ^= 1;
        std::vector<Frame> after_end;
        for (const Frame& f : frames_of_message(bad)) after_end = b.feed(encode_frame(f));
        ASSERT_EQ(after_end.size(), 1u);
        EXPECT_EQ(after_end[0].role, kAcknowledgement);
    }
}

// Faults on what the device sends. Of message 1 with its reply, the device sends frame 1 (the
// acknowledgement of the begin frame), 2 (of the data frame), 3 (of the end frame), then its
// reply's begin frame (4), and once that is acknowledged its data frame (5) and end frame (6).
TEST(ProjectorSimLink, FaultsOnWhatTheDeviceSends) {
    const auto system_frames = frames_of_message(encode_message({1, 0, {}}));
    const Bytes reply = encode_message({2, 0, {}});
    auto sound = [](std::uint8_t kind, std::uint8_t role, std::uint8_t seq, const Bytes& data = {}) {
        return encode_frame(Frame{kind, role, seq, 1, 1, data});
    };
    // What the device sends when nothing goes wrong, frame by frame.
    const std::vector<Bytes> clean = {sound(kBegin, kAcknowledgement, 0), sound(kData, kAcknowledgement, 0),
                                      sound(kEnd, kAcknowledgement, 0),   sound(kBegin, kTransmission, 0),
                                      sound(kData, kTransmission, 0, reply), sound(kEnd, kTransmission, 0)};
    auto flipped = [](Bytes b, std::size_t at) {
        b[at] ^= 0x10;
        return b;
    };
    struct Case {
        const char* fault;
        int frame;       // which of the six is changed
        Bytes instead;   // what goes out in its place (empty: nothing)
    };
    const Case cases[] = {
        {"drop-reply:2", 2, {}},
        {"drop-reply:4", 4, {}},
        {"corrupt-reply:1", 1, flipped(clean[0], 21)},
        {"corrupt-reply:5", 5, flipped(clean[4], 23 + 10)},
        {"wrong-seq-ack:3", 3, sound(kEnd, kAcknowledgement, 1)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        DeviceConfig cfg;
        ASSERT_TRUE(parse_fault(c.fault, &cfg.faults, nullptr));
        std::vector<std::string> log;
        Projector device(cfg, [&](const std::string& s) { log.push_back(s); });
        DeviceLink link(device, [&](const std::string& s) { log.push_back(s); });
        std::vector<Bytes> sent;
        auto take = [&] {
            sent.push_back(link.take_output());
            link.output_drained(0);
        };
        for (Frame f : system_frames) {
            f.sequence = 0;
            const Bytes raw = encode_frame(f);
            link.receive(raw.data(), raw.size(), 0);
            take();
        }
        // sent[2] holds the acknowledgement of the end frame and the reply's begin frame.
        Bytes third = sent[2];
        sent[2] = Bytes(third.begin(), third.begin() + std::min<std::size_t>(27, third.size()));
        if (c.fault == std::string("drop-reply:4")) {
            EXPECT_EQ(third, clean[2]);
            // Not acknowledged: after the device's wait the begin frame goes out again, counter 1.
            link.poll(1.5);
            EXPECT_EQ(link.take_output(), sound(kBegin, kTransmission, 1));
            continue;
        }
        sent.push_back(Bytes(third.begin() + sent[2].size(), third.end()));
        for (std::uint8_t kind : {kBegin, kData}) {
            const Bytes ack = sound(kind, kAcknowledgement, 0);
            link.receive(ack.data(), ack.size(), 0);
            take();
        }
        ASSERT_EQ(sent.size(), clean.size());
        for (std::size_t i = 0; i < clean.size(); ++i)
            EXPECT_EQ(sent[i], static_cast<int>(i) + 1 == c.frame ? c.instead : clean[i]) << "frame " << i + 1;
    }
}

// Noise before a frame: the frame itself follows whole, after bytes that hold an E3 57 lead-in
// with a length but no sound header, and end in a lone E3.
TEST(ProjectorSimLink, GarbageBeforeASentFrame) {
    DeviceConfig cfg;
    ASSERT_TRUE(parse_fault("garbage:2", &cfg.faults, nullptr));
    Projector device(cfg, nullptr);
    DeviceLink link(device, nullptr);
    const auto frames = frames_of_message(encode_message({1, 0, {}}));
    Bytes out;
    for (int i = 0; i < 2; ++i) {
        const Bytes raw = encode_frame(frames[static_cast<std::size_t>(i)]);
        link.receive(raw.data(), raw.size(), 0);
        const Bytes o = link.take_output();
        if (i == 1) out = o;
    }
    const Bytes ack = encode_frame(Frame{kData, kAcknowledgement, 0, 1, 1, {}});
    ASSERT_GT(out.size(), ack.size() + 10);
    EXPECT_EQ(Bytes(out.end() - static_cast<std::ptrdiff_t>(ack.size()), out.end()), ack);
    const Bytes noise(out.begin(), out.end() - static_cast<std::ptrdiff_t>(ack.size()));
    EXPECT_EQ(noise.back(), 0xE3);
    const Bytes lead = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1B};
    EXPECT_NE(std::search(noise.begin(), noise.end(), lead.begin(), lead.end()), noise.end());
}
