// The simulator's side of upload mode: messages taken frame by frame and answered, only
// flashed blocks in the image it dumps, and the faults it puts on what it sends and replies.

#include "Device.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

using namespace halvern::sim;

namespace {

DeviceConfig faulty(const char* fault, DeviceConfig cfg = {}) {
    EXPECT_TRUE(parse_fault(fault, &cfg.faults, nullptr)) << fault;
    return cfg;
}
Bytes command(std::uint8_t kind, std::uint8_t role, std::uint8_t seq, const Bytes& data = {}) {
    return encode_frame(Frame{kind, role, seq, 1, 1, data});
}
const std::vector<Frame> kOpenUploadFrames = frames_of_message(encode_message({1, 0, {}}));

// The system's side of the link, driven by hand: it feeds frames to the device and takes
// the device's frames apart.
struct Bench {
    explicit Bench(DeviceConfig cfg = {}) : device(std::move(cfg), nullptr), link(device, nullptr) {}

    // Feeds raw bytes at `now`; what the device sent in answer, as written to the line.
    Bytes put(const Bytes& raw) {
        link.receive(raw.data(), raw.size(), now);
        return drained();
    }
    Bytes drained() {
        const Bytes out = link.take_output();
        link.output_drained(now);
        return out;
    }
    std::vector<Frame> feed(const Bytes& raw) { return frames(put(raw)); }
    static std::vector<Frame> frames(const Bytes& out) {
        std::vector<Frame> frames;
        for (std::size_t at = 0; at < out.size();) {
            const std::size_t length = get_be(out, at + 8, 2);
            auto f = decode_frame(Bytes(out.begin() + at, out.begin() + at + length), nullptr);
            EXPECT_TRUE(f) << "device sent a malformed frame";
            if (f) frames.push_back(*f);
            at += length;
        }
        return frames;
    }

    // Sends a whole message as the system does and checks every acknowledgement; returns
    // what the device sent after acknowledging the end frame (its reply's begin frame, if any).
    std::vector<Frame> send(const Message& m) {
        std::vector<Frame> after_end;
        for (const Frame& f : frames_of_message(encode_message(m))) {
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
            auto next = feed(command(f.kind, kAcknowledgement, f.sequence));
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
    Projector device;
    DeviceLink link;
};

// The 16-bit form of a version control file as the system sends it: each byte followed by 0.
Bytes version_file_message(const std::string& version) {
    Bytes f(2 * 768, 0);
    for (int i = 0; i < 4; ++i) f[2 * (32 + i)] = static_cast<std::uint8_t>(version[i]);
    return f;
}

}  // namespace

TEST(ProjectorSimLink, WholeUploadAssemblesFlashesAndDumpsTheImage) {
    QTemporaryDir dir;
    DeviceConfig cfg;
    cfg.state = Power::kStandby;
    cfg.block_message_size = 20 + 6;  // six image bytes a block
    cfg.dump_dir = dir.path().toStdString();
    Bench b(cfg);

    EXPECT_EQ(b.exchange({1, 0, {}}), encode_message({2, 0, {}}));
    EXPECT_EQ(b.device.power(0), Power::kUpload);
    // Reply to the version message: code 4, the block message size in data bytes 0..3.
    EXPECT_EQ(b.exchange({3, 0, version_file_message("0105")}),
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
    QFile dump(dir.filePath("ABC.bin"));
    ASSERT_TRUE(dump.open(QIODevice::ReadOnly));
    EXPECT_EQ(dump.readAll(), QByteArray(reinterpret_cast<const char*>(image.data()), std::ssize(image)));

    EXPECT_EQ(b.exchange({13, 0, {}}), encode_message({14, 0, {}}));
    EXPECT_FALSE(b.link.reset_seen());
    EXPECT_TRUE(b.send({15, 0, {}}).empty()) << "no reply to the reset";
    EXPECT_TRUE(b.link.reset_seen());
    EXPECT_EQ(b.device.power(0), Power::kStandby);
    EXPECT_EQ(b.device.version(), "0105");
    EXPECT_EQ(b.device.uploads_completed(), 1);
}

TEST(ProjectorSimLink, ReplyFaults) {
    {
        Bench b(faulty("no-reply:7"));
        EXPECT_TRUE(b.send({7, 1, {1, 2}}).empty());
        EXPECT_FALSE(b.send({9, 1, {}}).empty());
    }
    {
        Bench b(faulty("block-size-zero"));
        EXPECT_EQ(b.exchange({3, 0, {}}), encode_message({4, 0, {0, 0, 0, 0}}));
    }
    {
        DeviceConfig upload;
        upload.state = Power::kUpload;
        Bench b(faulty("silent", upload));
        for (const Frame& f : kOpenUploadFrames) EXPECT_TRUE(b.put(encode_frame(f)).empty());
        EXPECT_TRUE(b.put(encode_request('Q', 0)).empty());
    }
}

// Faults on what the device sends. Of message 1 with its reply, the device sends frame 1 (the
// acknowledgement of the begin frame), 2 (of the data frame), 3 (of the end frame), then its
// reply's begin frame (4), and once that is acknowledged its data frame (5) and end frame (6).
TEST(ProjectorSimLink, FaultsOnWhatTheDeviceSends) {
    const Bytes reply = encode_message({2, 0, {}});
    const std::vector<Bytes> clean = {command(kBegin, kAcknowledgement, 0), command(kData, kAcknowledgement, 0),
                                      command(kEnd, kAcknowledgement, 0),   command(kBegin, kTransmission, 0),
                                      command(kData, kTransmission, 0, reply), command(kEnd, kTransmission, 0)};
    auto flipped = [](Bytes b, std::size_t at) {
        b[at] ^= 0x10;
        return b;
    };
    const struct { const char* fault; int frame; Bytes instead; } cases[] = {  // instead empty: nothing goes out
        {"drop-reply:2", 2, {}},
        {"drop-reply:4", 4, {}},
        {"corrupt-reply:1", 1, flipped(clean[0], 21)},
        {"corrupt-reply:5", 5, flipped(clean[4], 23 + 10)},
        {"wrong-seq-ack:3", 3, command(kEnd, kAcknowledgement, 1)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        Bench b(faulty(c.fault));
        std::vector<Bytes> sent;
        for (const Frame& f : kOpenUploadFrames) sent.push_back(b.put(encode_frame(f)));
        // sent[2] holds the acknowledgement of the end frame and the reply's begin frame.
        const Bytes third = sent[2];
        sent[2].resize(std::min<std::size_t>(27, third.size()));
        if (c.frame == 4) {
            EXPECT_EQ(third, clean[2]);
            // Not acknowledged: after the device's wait the begin frame goes out again, counter 1.
            b.link.poll(1.5);
            EXPECT_EQ(b.link.take_output(), command(kBegin, kTransmission, 1));
            continue;
        }
        sent.emplace_back(third.begin() + std::ssize(sent[2]), third.end());
        for (std::uint8_t kind : {kBegin, kData}) sent.push_back(b.put(command(kind, kAcknowledgement, 0)));
        ASSERT_EQ(sent.size(), clean.size());
        for (std::size_t i = 0; i < clean.size(); ++i)
            EXPECT_EQ(sent[i], static_cast<int>(i) + 1 == c.frame ? c.instead : clean[i]) << "frame " << i + 1;
    }
}

// Noise before a frame: the frame itself follows whole, after bytes that hold an E3 57 lead-in
// with a length but no sound header, and end in a lone E3.
TEST(ProjectorSimLink, GarbageBeforeASentFrame) {
    Bench b(faulty("garbage:2"));
    b.put(encode_frame(kOpenUploadFrames[0]));
    const Bytes out = b.put(encode_frame(kOpenUploadFrames[1]));
    const Bytes ack = command(kData, kAcknowledgement, 0);
    ASSERT_GT(out.size(), ack.size() + 10);
    EXPECT_EQ(Bytes(out.end() - std::ssize(ack), out.end()), ack);
    const Bytes noise(out.begin(), out.end() - std::ssize(ack));
    EXPECT_EQ(noise.back(), 0xE3);
    const Bytes lead = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1B};
    EXPECT_NE(std::search(noise.begin(), noise.end(), lead.begin(), lead.end()), noise.end());
}
