// The serial library against a scripted peer on the master side of a pseudo-terminal: the
// device commands byte for byte, upload frames both ways, time-outs, framing faults, the
// handle table, exclusive use, port names and the line settings.

#include "device/SerialDeviceLibrary.h"

#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace halvern {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes hex(const char* text) {
    Bytes out;
    const QByteArray raw = QByteArray::fromHex(QByteArray(text).replace(' ', ""));
    for (char c : raw) out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A device reply: lead-in, echo, device result, block, 16-bit sum.
Bytes reply_bytes(std::uint8_t code, std::uint8_t number, std::uint8_t result, const DeviceReply& block) {
    Bytes r(263);
    r[0] = 0xA5;
    r[1] = 0xC3;
    r[2] = code;
    r[3] = number;
    r[4] = result;
    std::copy(block.begin(), block.end(), r.begin() + 5);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 261; ++i) sum += r[i];
    r[261] = static_cast<std::uint8_t>(sum >> 8);
    r[262] = static_cast<std::uint8_t>(sum);
    return r;
}

DeviceReply pattern_block(std::uint8_t seed) {
    DeviceReply block{};
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return block;
}

// An upload frame with n data bytes. The library checks no frame checksum, so the fields after
// the length only need the right size.
Bytes frame_bytes(std::size_t n, std::uint8_t fill = 0x11) {
    Bytes f = hex("E3 57 01 01 01 03 01 01");
    const std::size_t length = n + 27;
    f.resize(length, 0);
    auto put = [&f](std::size_t at, std::uint32_t v, int count) {
        for (int k = 0; k < count; ++k) f[at + k] = static_cast<std::uint8_t>(v >> (8 * (count - 1 - k)));
    };
    put(8, static_cast<std::uint32_t>(length), 2);
    f[10] = 2;
    f[11] = 1;
    f[13] = 1;
    f[14] = 1;
    put(15, static_cast<std::uint32_t>(n), 4);
    put(19, static_cast<std::uint32_t>(n), 2);
    std::uint32_t header = 0, data = 0;
    for (std::size_t i = 0; i < 21; ++i) header += f[i];
    put(21, header & 0xFFFF, 2);
    for (std::size_t i = 0; i < n; ++i) data += f[23 + i] = fill;
    put(23 + n, data & 0xFFFF, 2);
    f[25 + n] = 0x7A;
    f[26 + n] = 0xCE;
    return f;
}

// A pseudo-terminal pair. The test keeps its own slave descriptor (opened before the library
// takes the line) to read the line settings.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;
    Pty() {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Pty() {
        ::close(master);
        ::close(slave);
    }
};

// The peer on the master side, running a script on its own thread: read an expected number
// of bytes, write bytes (after a pause), or wait until the test says go.
class Peer {
public:
    struct Step {
        enum Kind { kExpect, kWrite, kWaitGo } kind;
        std::size_t count = 0;
        Bytes bytes;
        int delay_ms = 0;
    };
    static Step expect(std::size_t n) { return {Step::kExpect, n, {}, 0}; }
    static Step write(Bytes b, int delay_ms = 0) { return {Step::kWrite, 0, std::move(b), delay_ms}; }
    static Step wait_go() { return {Step::kWaitGo, 0, {}, 0}; }

    Peer(int fd, std::vector<Step> steps) : fd_(fd), steps_(std::move(steps)), thread_([this] { run(); }) {}
    ~Peer() { join(); }

    void go() {
        std::lock_guard lock(mutex_);
        ++go_;
        cv_.notify_all();
    }
    // Everything the peer read, in order; call after join().
    const Bytes& received() const { return received_; }
    void join() {
        if (thread_.joinable()) thread_.join();
    }

private:
    void run() {
        for (const Step& s : steps_) {
            switch (s.kind) {
            case Step::kExpect: read_exactly(s.count); break;
            case Step::kWrite:
                std::this_thread::sleep_for(std::chrono::milliseconds(s.delay_ms));
                for (std::size_t done = 0; done < s.bytes.size();) {
                    const ssize_t n = ::write(fd_, s.bytes.data() + done, s.bytes.size() - done);
                    if (n <= 0) return;
                    done += static_cast<std::size_t>(n);
                }
                break;
            case Step::kWaitGo: {
                std::unique_lock lock(mutex_);
                if (!cv_.wait_for(lock, std::chrono::seconds(5), [this] { return go_ > 0; })) return;
                --go_;
                break;
            }
            }
        }
    }
    void read_exactly(std::size_t count) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        std::size_t got = 0;
        while (got < count && std::chrono::steady_clock::now() < until) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t buf[4096];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got));
            if (n <= 0) return;
            received_.insert(received_.end(), buf, buf + n);
            got += static_cast<std::size_t>(n);
        }
    }

    int fd_;
    std::vector<Step> steps_;
    Bytes received_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int go_ = 0;
    std::thread thread_;
};

// A library with its own settings file and one pty.
struct Bench {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Halvern!.ini")};
    SerialDeviceLibrary library{settings};
    Pty pty;
    std::int32_t handle = 0;

    std::int32_t open(std::int32_t baud = 38400, std::int32_t timeout_ms = 200) {
        return library.init_port_timeouts(handle, pty.path.c_str(), baud, timeout_ms);
    }
};

using Command = std::int32_t (SerialDeviceLibrary::*)(std::int32_t, DeviceReply&);

TEST(SerialLibrary, DeviceCommandsSendTheirRequestsAndCopyTheBlock) {
    struct Row {
        const char* name;
        Command call;
        std::uint8_t code;
        const char* request;  // the request number counts up per handle: 0, 1, 2, 3
    };
    const Row rows[] = {
        {"query_upload_status", &SerialDeviceLibrary::query_upload_status, 0x51, "A5 3C 51 00 00 32"},
        {"request_standby_mode", &SerialDeviceLibrary::request_standby_mode, 0x53, "A5 3C 53 01 00 35"},
        {"request_upload_mode", &SerialDeviceLibrary::request_upload_mode, 0x55, "A5 3C 55 02 00 38"},
        {"get_proj_info", &SerialDeviceLibrary::get_proj_info, 0x49, "A5 3C 49 03 00 2D"},
    };
    std::vector<Peer::Step> script;
    for (std::uint8_t n = 0; n < 4; ++n) {
        script.push_back(Peer::expect(6));
        script.push_back(Peer::write(reply_bytes(rows[n].code, n, 0, pattern_block(rows[n].code))));
    }
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    Peer peer(bench.pty.master, script);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        DeviceReply reply;
        reply.fill(0xEE);
        EXPECT_EQ((bench.library.*row.call)(bench.handle, reply), kOk);
        EXPECT_EQ(reply, pattern_block(row.code));
    }
    peer.join();
    Bytes expected;
    for (const Row& row : rows) expected = expected + hex(row.request);
    EXPECT_EQ(peer.received(), expected);
}

TEST(SerialLibrary, FaultyRepliesAndRefusals) {
    const DeviceReply block = pattern_block(3);
    auto with = [](Bytes b, std::size_t at, std::uint8_t value) {
        b[at] = value;
        return b;
    };
    const Bytes good = reply_bytes(0x51, 0, 0, block);
    struct Row {
        const char* name;
        std::vector<Bytes> chunks;  // written one after another, 20 ms apart
        std::int32_t result;
        bool block_copied;
    };
    const Row rows[] = {
        {"accepted in pieces", {Bytes(good.begin(), good.begin() + 100), Bytes(good.begin() + 100, good.end())},
         kOk, true},
        {"bad checksum", {with(good, 262, good[262] ^ 1)}, kBadFrame, false},
        {"wrong lead-in", {with(good, 1, 0x3C)}, kBadFrame, false},
        {"wrong code echoed", {reply_bytes(0x53, 0, 0, block)}, kBadFrame, false},
        {"wrong number echoed", {reply_bytes(0x51, 1, 0, block)}, kBadFrame, false},
        {"refused: not possible now", {reply_bytes(0x51, 0, 1, block)}, 257, true},
        {"refused: busy", {reply_bytes(0x51, 0, 3, block)}, 259, true},
        {"refused: 255", {reply_bytes(0x51, 0, 255, block)}, 511, true},
        {"silence", {}, kTimeout, false},
        {"reply cut short", {Bytes(good.begin(), good.begin() + 200)}, kTimeout, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        ASSERT_EQ(bench.open(), kOk);
        std::vector<Peer::Step> script{Peer::expect(6)};
        for (const Bytes& c : row.chunks) script.push_back(Peer::write(c, 20));
        Peer peer(bench.pty.master, script);
        DeviceReply reply;
        reply.fill(0xEE);
        EXPECT_EQ(bench.library.query_upload_status(bench.handle, reply), row.result);
        if (row.block_copied) {
            EXPECT_EQ(reply, block);
        } else {
            DeviceReply untouched;
            untouched.fill(0xEE);
            EXPECT_EQ(reply, untouched);
        }
    }
}

TEST(SerialLibrary, InputPendingBeforeARequestIsDiscarded) {
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    // A late reply to an earlier request, already waiting on the line.
    const Bytes stale = reply_bytes(0x51, 9, 0, pattern_block(1));
    ASSERT_EQ(::write(bench.pty.master, stale.data(), stale.size()), static_cast<ssize_t>(stale.size()));
    pollfd p{bench.pty.slave, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 2000), 1);

    Peer peer(bench.pty.master, {Peer::expect(6), Peer::write(reply_bytes(0x51, 0, 0, pattern_block(2)))});
    DeviceReply reply{};
    EXPECT_EQ(bench.library.query_upload_status(bench.handle, reply), kOk);
    EXPECT_EQ(reply, pattern_block(2));
}

TEST(SerialLibrary, SendDataWritesTheFrameAsGiven) {
    struct Row {
        const char* name;
        Bytes frame;
        std::int32_t out;
    };
    const Row rows[] = {
        {"command frame", frame_bytes(0), kOk},
        {"data frame", frame_bytes(1000, 0x5A), kOk},
        {"largest frame", frame_bytes(16384 - 27, 0xA7), kOk},
        {"too short", Bytes(26, 0xE3), kInvalidParameter},
        {"too long", Bytes(16385, 0xE3), kInvalidParameter},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        ASSERT_EQ(bench.open(), kOk);
        const bool sent = row.out == kOk;
        Peer peer(bench.pty.master, {Peer::expect(sent ? row.frame.size() : 0)});
        std::int32_t out = -1;
        const std::int32_t r = bench.library.send_data(bench.handle, row.frame, out);
        EXPECT_EQ(r != 0, sent);
        EXPECT_EQ(out, row.out);
        peer.join();
        if (sent) {
            EXPECT_EQ(peer.received(), row.frame);
        }
    }
}

TEST(SerialLibrary, GetDataReadsOneFrameAtATime) {
    const Bytes a = frame_bytes(5, 0x21);
    const Bytes b = frame_bytes(40, 0x42);
    const Bytes largest = frame_bytes(16384 - 27, 0x63);
    auto damaged = [](Bytes f, std::size_t at) {
        f[at] ^= 0x01;
        return f;
    };
    auto with_length = [](std::uint16_t length) {
        Bytes f = frame_bytes(0);
        f[8] = static_cast<std::uint8_t>(length >> 8);
        f[9] = static_cast<std::uint8_t>(length);
        return f;
    };
    struct Outcome {
        std::int32_t result;
        Bytes frame;
    };
    struct Row {
        const char* name;
        std::vector<Peer::Step> script;  // wait_go steps are released after each get_data
        std::vector<Outcome> outcomes;
    };
    std::vector<Row> rows = {
        {"one frame", {Peer::write(a)}, {{kOk, a}}},
        {"garbage first", {Peer::write(hex("00 E3 E3 12 57 E3") + hex("12 57") + a)}, {{kOk, a}}},
        {"lead-in split across writes", {Peer::write(hex("E3")), Peer::write(Bytes(a.begin() + 1, a.end()), 30)},
         {{kOk, a}}},
        {"two frames in one write", {Peer::write(a + b)}, {{kOk, a}, {kOk, b}}},
        {"frame in slow pieces", {Peer::write(Bytes(a.begin(), a.begin() + 9)), Peer::write(Bytes(a.begin() + 9, a.end()), 50)},
         {{kOk, a}}},
        // Damaged frames are passed over within the same call.
        {"length over 16,384", {Peer::write(with_length(16385) + b)}, {{kOk, b}}},
        {"length under 27", {Peer::write(with_length(26) + b)}, {{kOk, b}}},
        {"data checksum wrong", {Peer::write(damaged(a, a.size() - 3) + b)}, {{kOk, b}}},
        {"header checksum wrong, trailer wrong", {Peer::write(damaged(a, 22) + damaged(b, b.size() - 1) + a)},
         {{kOk, a}}},
        {"nothing but damaged frames", {Peer::write(damaged(a, 30) + damaged(b, 12))}, {{kBadFrame, {}}}},
        {"largest frame", {Peer::write(largest)}, {{kOk, largest}}},
        {"silence", {}, {{kTimeout, {}}}},
        {"frame cut short, then a whole one",
         {Peer::write(Bytes(a.begin(), a.begin() + 15)), Peer::wait_go(), Peer::write(b)},
         {{kTimeout, {}}, {kOk, b}}},
    };
    // The whole frame must arrive within the time-out, not each byte: 30 bytes 20 ms apart.
    std::vector<Peer::Step> dribble;
    for (std::uint8_t byte : a) dribble.push_back(Peer::write({byte}, 20));
    rows.push_back({"frame slower than the time-out", dribble, {{kTimeout, {}}}});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bench bench;
        ASSERT_EQ(bench.open(), kOk);
        Peer peer(bench.pty.master, row.script);
        for (const Outcome& o : row.outcomes) {
            std::vector<std::uint8_t> buffer(kReceiveBufferSize, 0xEE);
            std::int32_t out = -1;
            EXPECT_EQ(bench.library.get_data(bench.handle, buffer, out), o.result);
            if (o.result == kOk) {
                EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + o.frame.size()), o.frame);
                EXPECT_TRUE(std::all_of(buffer.begin() + o.frame.size(), buffer.end(), [](auto v) { return v == 0xEE; }));
            }
            peer.go();
        }
    }
}

TEST(SerialLibrary, GetDataNeverWritesPastTheBuffer) {
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    const Bytes big = frame_bytes(100);
    const Bytes small = frame_bytes(2);
    Peer peer(bench.pty.master, {Peer::write(big + small)});
    std::vector<std::uint8_t> storage(64, 0xEE);
    std::int32_t out = 0;
    std::span<std::uint8_t> buffer(storage.data(), 40);
    // The frame that does not fit is passed over; the next one arrives in the same call.
    EXPECT_EQ(bench.library.get_data(bench.handle, buffer, out), kOk);
    EXPECT_EQ(Bytes(storage.begin(), storage.begin() + small.size()), small);
    EXPECT_EQ(storage[40], 0xEE);
}

TEST(SerialLibrary, HandleTable) {
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    EXPECT_EQ(bench.handle, 1);
    const std::int32_t first = bench.handle;
    for (std::int32_t stranger : {0, -1, 2, 12345, bench.pty.master, bench.pty.slave})
        EXPECT_EQ(bench.library.close_port(stranger), kInvalidHandle) << stranger;
    // The library's port is still held and working after those calls.
    Peer peer(bench.pty.master, {Peer::expect(6)});
    std::int32_t out = 0;
    EXPECT_NE(bench.library.send_data(first, frame_bytes(0), out), 0);
    peer.join();

    EXPECT_EQ(bench.library.close_port(first), kOk);
    EXPECT_EQ(bench.library.close_port(first), kInvalidHandle);
    DeviceReply reply{};
    EXPECT_EQ(bench.library.query_upload_status(first, reply), kInvalidHandle);
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    EXPECT_EQ(bench.library.get_data(first, buffer, out), kInvalidHandle);
    EXPECT_EQ(bench.library.send_data(first, frame_bytes(0), out), 0);
    EXPECT_EQ(out, kInvalidHandle);

    // Reopening gives the next number, never the old one.
    ASSERT_EQ(bench.open(), kOk);
    EXPECT_EQ(bench.handle, 2);
}

TEST(SerialLibrary, PortIsHeldForExclusiveUse) {
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    std::int32_t other = 0;
    EXPECT_EQ(bench.library.init_port_timeouts(other, bench.pty.path.c_str(), 38400, 200), kAccessDenied);
    SerialDeviceLibrary second(bench.settings);
    EXPECT_EQ(second.init_port_timeouts(other, bench.pty.path.c_str(), 38400, 200), kAccessDenied);
    EXPECT_EQ(other, 0);
    if (::geteuid() != 0) {  // the driver lets a privileged process through
        const int fd = ::open(bench.pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_LT(fd, 0);
        if (fd >= 0) ::close(fd);
    }
    // Once closed, the port can be opened again.
    EXPECT_EQ(bench.library.close_port(bench.handle), kOk);
    EXPECT_EQ(second.init_port_timeouts(other, bench.pty.path.c_str(), 38400, 200), kOk);
}

TEST(SerialLibrary, PortNamesAndParameters) {
    Bench bench;
    bench.settings.set("Ports", "COM2", QString::fromStdString(bench.pty.path));
    const QString regular_file = bench.dir.filePath("not-a-device");
    {
        QFile f(regular_file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const std::string file = regular_file.toStdString();
    struct Row {
        const char* name;
        const char* port;
        std::int32_t baud;
        std::int32_t timeout;
        std::int32_t result;
    };
    const Row rows[] = {
        {"COM2 from the settings", "COM2", 9600, 200, kOk},
        {"lower case", "com2", 9600, 200, kOk},
        {"COM4 default, no such device here", "COM4", 9600, 200, kPortNotFound},
        {"missing path", "/dev/halvern-no-such-port", 9600, 200, kPortNotFound},
        {"regular file", file.c_str(), 9600, 200, kPortNotFound},
        {"empty name", "", 9600, 200, kPortNotFound},
        {"no name", nullptr, 9600, 200, kInvalidParameter},
        {"baud rate 0", "COM2", 0, 200, kInvalidParameter},
        {"negative time-out", "COM2", 9600, -1, kInvalidParameter},
        {"time-out 0", "COM2", 9600, 0, kInvalidParameter},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::int32_t handle = -7;
        EXPECT_EQ(bench.library.init_port_timeouts(handle, row.port, row.baud, row.timeout), row.result);
        if (row.result == kOk) {
            EXPECT_GT(handle, 0);
            EXPECT_EQ(bench.library.close_port(handle), kOk);
        } else {
            EXPECT_EQ(handle, -7);
        }
    }
    // Defaults are written for the technician to find and edit; a set entry is left alone.
    EXPECT_EQ(bench.settings.get("Ports", "COM4"), "/dev/ttyS3");
    EXPECT_FALSE(bench.settings.contains("Ports", "COM1"));
    EXPECT_EQ(bench.settings.get("Ports", "COM2"), QString::fromStdString(bench.pty.path));
}

TEST(SerialLibrary, LineSettings) {
    const std::pair<std::int32_t, speed_t> rows[] = {{9600, B9600}, {19200, B19200}, {38400, B38400}};
    for (auto [baud, speed] : rows) {
        SCOPED_TRACE(baud);
        Bench bench;
        ASSERT_EQ(bench.open(baud), kOk);
        termios t{};
        ASSERT_EQ(::tcgetattr(bench.pty.slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), speed);
        EXPECT_EQ(cfgetispeed(&t), speed);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
    }
}

TEST(SerialLibrary, WorksInsideARunningEventLoop) {
    Bench bench;
    ASSERT_EQ(bench.open(), kOk);
    Peer peer(bench.pty.master, {Peer::expect(6), Peer::write(reply_bytes(0x49, 0, 0, pattern_block(9)))});
    DeviceReply reply{};
    std::int32_t result = -1;
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        result = bench.library.get_proj_info(bench.handle, reply);
        loop.quit();
    });
    loop.exec();
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(reply, pattern_block(9));
}

TEST(SerialLibrary, HungUpLineFailsAtOnce) {
    Bench bench;
    ASSERT_EQ(bench.open(38400, 5000), kOk);
    ::close(std::exchange(bench.pty.slave, -1));
    ::close(std::exchange(bench.pty.master, -1));
    std::vector<std::uint8_t> buffer(kReceiveBufferSize);
    std::int32_t out = 0;
    EXPECT_EQ(bench.library.get_data(bench.handle, buffer, out), kReadFault);
    DeviceReply reply{};
    EXPECT_EQ(bench.library.query_upload_status(bench.handle, reply), kWriteFault);
    EXPECT_EQ(bench.library.send_data(bench.handle, frame_bytes(0), out), 0);
    EXPECT_EQ(out, kWriteFault);
    EXPECT_EQ(bench.library.close_port(bench.handle), kOk);
}

}  // namespace
}  // namespace halvern
