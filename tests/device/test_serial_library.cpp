// The serial library against a scripted far end, over both kinds of line: the master side of a
// pseudo-terminal (a serial line) and a server on 127.0.0.1 (a network line). Device commands
// byte for byte, upload frames both ways, time-outs, faults, exclusive use; then what only one
// kind has: port names and why a port will not open, locks, line settings, the handle table,
// the COM port control negotiation, a hostile server, a name service that does not answer,
// and the server locks between users.

#include "device/NetworkLine.h"
#include "device/PortDiagnosis.h"
#include "device/SerialDeviceLibrary.h"
#include "device/SerialLine.h"
#include "tests/support/LinkPeer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <deque>
#include <fcntl.h>
#include <functional>
#include <future>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <semaphore>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <tuple>
#include <thread>
#include <unistd.h>

namespace halvern {
namespace {

using Bytes = std::vector<std::uint8_t>;

using test::hex_bytes;
std::string show(const Bytes& b) {
    return QByteArray(reinterpret_cast<const char*>(b.data()), static_cast<qsizetype>(b.size()))
        .toHex(' ').toUpper().toStdString();
}
Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
Bytes flipped(Bytes f, std::size_t at) {
    f[at] ^= 0x01;
    return f;
}
Bytes cut(const Bytes& b, std::size_t from, std::size_t to) { return Bytes(b.begin() + from, b.begin() + to); }

// A device reply: lead-in, echo, device result, block, 16-bit sum.
Bytes reply_bytes(std::uint8_t code, std::uint8_t number, std::uint8_t result, const DeviceReply& block) {
    Bytes r = hex_bytes("A5 C3") + Bytes{code, number, result} + Bytes(block.begin(), block.end());
    const std::uint32_t sum = test::sum16(r, 0, r.size() - 1);
    return r + Bytes{static_cast<std::uint8_t>(sum >> 8), static_cast<std::uint8_t>(sum)};
}
// Every byte value, 0xFF (doubled on a Telnet line) included.
DeviceReply pattern_block(std::uint8_t seed) {
    DeviceReply block{};
    for (std::size_t i = 0; i < block.size(); ++i) block[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return block;
}
// A sound upload frame with n data bytes.
Bytes frame_bytes(std::size_t n, std::uint8_t fill = 0x11) { return test::device_frame(2, 1, 0, Bytes(n, fill)); }

// The far end, running a script on its own thread: read a number of bytes, write bytes (after a
// pause) or call back into the test. With accept set, fd is a listener: the script runs on the
// first connection, which is closed when the script ends.
class Peer {
public:
    struct Step {
        enum Kind { kExpect, kWrite, kCall } kind = kExpect;
        std::size_t count = 0;
        Bytes bytes{};
        int delay_ms = 0;
        std::function<void()> call{};
    };
    static Step expect(std::size_t n) { return {.count = n}; }
    static Step write(Bytes b, int delay_ms = 0) { return {Step::kWrite, 0, std::move(b), delay_ms}; }
    static Step call(std::function<void()> f) { return {.kind = Step::kCall, .call = std::move(f)}; }

    Peer(int fd, std::vector<Step> steps, bool accept = false)
        : fd_(fd), accept_(accept), steps_(std::move(steps)), thread_([this] { run(); }) {}
    ~Peer() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
    }
    // Everything the peer read, in order; call after join().
    const Bytes& received() const { return received_; }

private:
    void run() {
        pollfd p{fd_, POLLIN, 0};
        if (accept_ && (::poll(&p, 1, 5000) <= 0 || (fd_ = ::accept(fd_, nullptr, nullptr)) < 0)) return;
        for (const Step& s : steps_) {
            if (s.kind == Step::kCall) s.call();
            std::this_thread::sleep_for(std::chrono::milliseconds(s.delay_ms));
            if (s.kind == Step::kWrite && !write_all(s.bytes)) break;
            if (s.kind == Step::kExpect && !read_exactly(s.count)) break;
        }
        if (accept_) ::close(fd_);
    }
    bool write_all(const Bytes& bytes) {
        for (std::size_t done = 0; done < bytes.size();) {
            ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
            if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool read_exactly(std::size_t count) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        for (std::size_t got = 0; got < count;) {
            pollfd p{fd_, POLLIN, 0};
            if (std::chrono::steady_clock::now() > until) return false;
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t buf[4096];
            const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - got));
            if (n <= 0) return false;
            received_.insert(received_.end(), buf, buf + n);
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    int fd_;
    bool accept_;
    std::vector<Step> steps_;
    Bytes received_;
    std::thread thread_;
};

struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    Listener() {
        socklen_t len = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), len);
        ::listen(fd, 4);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &len);
    }
    ~Listener() { ::close(fd); }
    std::string name(std::string scheme = "tcp") const {
        return scheme + "://127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    }
};

// A library with its own settings file and a line to a far end: a pseudo-terminal (the test
// keeps a slave descriptor of its own, to read the line settings), or a raw TCP server whose end
// of the connection is taken once the library has opened it.
struct Rig {
    explicit Rig(bool network = false) : network(network) {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) == 0) path = name;
    }
    ~Rig() {
        peer.reset();
        for (int fd : {connection, master, slave}) ::close(fd);
    }
    bool network;
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Halvern!.ini")};
    SerialDeviceLibrary library{settings};
    int master = -1, slave = -1, connection = -1;
    std::string path;
    Listener listener;
    std::int32_t handle = 0;
    std::unique_ptr<Peer> peer;

    std::string name() const { return network ? listener.name() : path; }
    std::int32_t open(std::int32_t timeout_ms = 200, std::int32_t baud = 38400) {
        const std::int32_t r = library.init_port_timeouts(handle, name().c_str(), baud, timeout_ms);
        if (r == kOk && network) connection = ::accept(listener.fd, nullptr, nullptr);
        return r;
    }
    Peer& run(std::vector<Peer::Step> script) {
        peer = std::make_unique<Peer>(network ? connection : master, std::move(script));
        return *peer;
    }
    void hang_up() {
        ::close(std::exchange(network ? connection : master, -1));
        ::close(std::exchange(slave, -1));
    }
};

class BothLines : public ::testing::TestWithParam<bool> {};
INSTANTIATE_TEST_SUITE_P(SerialLibrary, BothLines, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "network" : "serial"; });

using Command = std::int32_t (SerialDeviceLibrary::*)(std::int32_t, DeviceReply&);

// Run inside a running event loop, as the windows call them. Frames of a size outside 27 to
// 16,384 bytes are refused and nothing of them is sent.
TEST_P(BothLines, DeviceCommandsAndFramesGoOutByteForByte) {
    struct Row {
        Command call;
        std::uint8_t code;
        const char* request;  // the request number counts up per handle: 0, 1, 2, 3
    };
    const Row rows[] = {
        {&SerialDeviceLibrary::query_upload_status, 0x51, "A5 3C 51 00 00 32"},
        {&SerialDeviceLibrary::request_standby_mode, 0x53, "A5 3C 53 01 00 35"},
        {&SerialDeviceLibrary::request_upload_mode, 0x55, "A5 3C 55 02 00 38"},
        {&SerialDeviceLibrary::get_proj_info, 0x49, "A5 3C 49 03 00 2D"},
    };
    const std::pair<Bytes, std::int32_t> frames[] = {
        {frame_bytes(0), kOk},
        {Bytes(26, 0xE3), kInvalidParameter},
        {Bytes(16385, 0xE3), kInvalidParameter},
        {frame_bytes(16384 - 27, 0xFF), kOk},  // the largest
    };
    std::vector<Peer::Step> script;
    Bytes expected;
    for (std::uint8_t n = 0; n < 4; ++n) {
        script.push_back(Peer::expect(6));
        script.push_back(Peer::write(reply_bytes(rows[n].code, n, 0, pattern_block(rows[n].code))));
        expected = expected + hex_bytes(rows[n].request);
    }
    for (const auto& [frame, out] : frames)
        if (out == kOk) expected = expected + frame;
    script.push_back(Peer::expect(expected.size() - 4 * 6));  // the frames, after the requests

    Rig rig(GetParam());
    ASSERT_EQ(rig.open(), kOk);
    Peer& peer = rig.run(script);
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&] {
        for (const Row& row : rows) {
            SCOPED_TRACE(row.request);
            DeviceReply reply;
            reply.fill(0xEE);
            EXPECT_EQ((rig.library.*row.call)(rig.handle, reply), kOk);
            EXPECT_EQ(reply, pattern_block(row.code));
        }
        for (const auto& [frame, result] : frames) {
            std::int32_t out = -1;
            EXPECT_EQ(rig.library.send_data(rig.handle, frame, out) != 0, result == kOk);
            EXPECT_EQ(out, result) << frame.size();
        }
        loop.quit();
    });
    loop.exec();
    peer.join();
    EXPECT_EQ(show(peer.received()), show(expected));
}

TEST_P(BothLines, FaultyRepliesAndRefusals) {
    const DeviceReply block = pattern_block(3);
    const Bytes good = reply_bytes(0x51, 0, 0, block);
    struct Row {
        const char* name;
        std::vector<Bytes> chunks;  // written one after another, 20 ms apart
        std::int32_t result;
        bool block_copied;
        Bytes stale{};  // already waiting on the line before the request
    };
    const Row rows[] = {
        // A late reply to an earlier request is never taken for this one's, also while it still
        // waits in the operating system (on a loopback connection it has arrived once write returns).
        {"late reply waiting", {good}, kOk, true, reply_bytes(0x51, 9, 0, pattern_block(1))},
        {"accepted in pieces", {cut(good, 0, 100), cut(good, 100, good.size())}, kOk, true},
        {"bad checksum", {flipped(good, 261)}, kBadFrame, false},  // its high byte
        {"wrong lead-in", {flipped(good, 1)}, kBadFrame, false},
        {"wrong code echoed", {reply_bytes(0x53, 0, 0, block)}, kBadFrame, false},
        {"wrong number echoed", {reply_bytes(0x51, 1, 0, block)}, kBadFrame, false},
        {"refused: not possible now", {reply_bytes(0x51, 0, 1, block)}, 257, true},
        {"refused: 255", {reply_bytes(0x51, 0, 255, block)}, 511, true},
        {"silence", {}, kTimeout, false},
        {"reply cut short", {cut(good, 0, 200)}, kTimeout, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(GetParam());
        ASSERT_EQ(rig.open(), kOk);
        ASSERT_EQ(::write(rig.network ? rig.connection : rig.master, row.stale.data(), row.stale.size()), ssize_t(row.stale.size()));
        pollfd p{rig.slave, POLLIN, 0};
        ASSERT_TRUE(rig.network || row.stale.empty() || ::poll(&p, 1, 2000) == 1);
        std::vector<Peer::Step> script{Peer::expect(6)};
        for (const Bytes& c : row.chunks) script.push_back(Peer::write(c, 20));
        rig.run(script);
        DeviceReply reply, untouched;
        reply.fill(0xEE);
        untouched.fill(0xEE);
        EXPECT_EQ(rig.library.query_upload_status(rig.handle, reply), row.result);
        EXPECT_EQ(reply, row.block_copied ? block : untouched);
    }
}

TEST_P(BothLines, GetDataReadsOneFrameAtATime) {
    const Bytes a = frame_bytes(5, 0x21);
    const Bytes b = frame_bytes(40, 0x42);
    const Bytes largest = frame_bytes(16384 - 27, 0x63);
    struct Outcome {
        std::int32_t result;
        Bytes frame;
    };
    struct Row {
        const char* name;
        std::vector<Peer::Step> script;
        std::vector<Outcome> outcomes;
        std::size_t buffer = kReceiveBufferSize;
    };
    std::counting_semaphore<8> next(0);  // released after each get_data
    const Peer::Step wait_next = Peer::call([&] { (void)next.try_acquire_for(std::chrono::seconds(5)); });
    std::vector<Row> rows = {
        {"lead-in split across writes", {Peer::write(hex_bytes("E3")), Peer::write(cut(a, 1, a.size()), 30)}, {{kOk, a}}},
        {"two frames in one write", {Peer::write(a + b)}, {{kOk, a}, {kOk, b}}},
        {"largest frame", {Peer::write(largest)}, {{kOk, largest}}},
        // Damaged frames, and one too long for the caller's buffer, are passed over within the time-out.
        {"nothing but damaged frames", {Peer::write(flipped(a, 30) + flipped(b, 12))}, {{kBadFrame, {}}}},
        {"frame over the buffer", {Peer::write(frame_bytes(100) + a)}, {{kOk, a}}, 40},
        {"silence", {}, {{kTimeout, {}}}},
        {"frame cut short, then a whole one", {Peer::write(cut(a, 0, 15)), wait_next, Peer::write(b)},
         {{kTimeout, {}}, {kOk, b}}},
    };
    // The whole frame must arrive within the time-out, not each byte: 32 bytes 20 ms apart.
    std::vector<Peer::Step> dribble;
    for (std::uint8_t byte : a) dribble.push_back(Peer::write({byte}, 20));
    rows.push_back({"frame slower than the time-out", dribble, {{kTimeout, {}}}});

    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Rig rig(GetParam());
        ASSERT_EQ(rig.open(), kOk);
        while (next.try_acquire()) {
        }
        rig.run(row.script);
        for (const Outcome& o : row.outcomes) {
            Bytes storage(kReceiveBufferSize + 8, 0xEE);
            std::int32_t out = -1;
            EXPECT_EQ(rig.library.get_data(rig.handle, std::span(storage.data(), row.buffer), out), o.result);
            Bytes expected = o.frame;
            expected.resize(storage.size(), 0xEE);  // nothing written past the frame
            EXPECT_EQ(storage, expected);
            next.release();
        }
    }
}

// A line that hangs up in the middle of a reply is a fault at once, not a silent device.
TEST_P(BothLines, HungUpLineFailsAtOnce) {
    Rig rig(GetParam());
    ASSERT_EQ(rig.open(20000), kOk);
    rig.run({Peer::expect(6), Peer::write(cut(reply_bytes(0x51, 0, 0, {}), 0, 100)), Peer::call([&] { rig.hang_up(); })});
    DeviceReply reply{};
    EXPECT_EQ(rig.library.query_upload_status(rig.handle, reply), kReadFault);
    Bytes buffer(kReceiveBufferSize);
    std::int32_t out = 0;
    EXPECT_EQ(rig.library.get_data(rig.handle, buffer, out), kReadFault);
    EXPECT_EQ(rig.library.send_data(rig.handle, frame_bytes(0), out), 0);
    EXPECT_EQ(out, kWriteFault);
    EXPECT_EQ(rig.library.close_port(rig.handle), kOk);
}

// One port is held by one library at a time, whichever way its name is written; a refused open
// leaves the handle alone and reaches nothing. Once closed, the port opens again.
TEST_P(BothLines, PortIsHeldForExclusiveUse) {
    Rig rig(GetParam());
    // The server's address spelt another way: another scheme, a name for it, a trailing "/".
    std::string other = "rfc2217://localhost:" + std::to_string(ntohs(rig.listener.address.sin_port)) + "/";
    if (!rig.network) {
        other = rig.dir.filePath("port").toStdString();
        ASSERT_EQ(::symlink(rig.path.c_str(), other.c_str()), 0);
    }
    ASSERT_EQ(rig.open(), kOk);
    SerialDeviceLibrary second(rig.settings);
    std::int32_t handle = 0;
    EXPECT_EQ(rig.library.init_port_timeouts(handle, other.c_str(), 38400, 200), kAccessDenied);
    EXPECT_EQ(rig.library.open_failure(), QString::fromStdString(other) + ": already open in this program");
    EXPECT_EQ(second.init_port_timeouts(handle, other.c_str(), 38400, 200), kAccessDenied);
    EXPECT_EQ(handle, 0);
    if (rig.network) {
        pollfd p{rig.listener.fd, POLLIN, 0};
        EXPECT_EQ(::poll(&p, 1, 0), 0);  // nothing reached the server
    } else if (::geteuid() != 0) {  // the driver lets a privileged process through
        const int fd = ::open(rig.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_LT(fd, 0);
        if (fd >= 0) ::close(fd);
    }
    EXPECT_EQ(rig.library.close_port(rig.handle), kOk);
    EXPECT_EQ(second.init_port_timeouts(handle, rig.name().c_str(), 38400, 200), kOk);
}

// Handles count up from 1 and are never given again; a handle the library does not hold is
// refused by every call and leaves the held port working.
TEST(SerialLibrary, HandleTable) {
    Rig rig;
    ASSERT_EQ(rig.open(), kOk);
    EXPECT_EQ(rig.handle, 1);
    for (std::int32_t stranger : {0, -1, 2, 12345, rig.master, rig.slave})
        EXPECT_EQ(rig.library.close_port(stranger), kInvalidHandle) << stranger;
    std::int32_t out = 0;
    EXPECT_EQ(rig.library.close_port(1), kOk);
    EXPECT_EQ(rig.library.close_port(1), kInvalidHandle);
    DeviceReply reply{};
    EXPECT_EQ(rig.library.query_upload_status(1, reply), kInvalidHandle);
    Bytes buffer(kReceiveBufferSize);
    EXPECT_EQ(rig.library.get_data(1, buffer, out), kInvalidHandle);
    EXPECT_EQ(rig.library.send_data(1, frame_bytes(0), out), 0);
    EXPECT_EQ(out, kInvalidHandle);
    ASSERT_EQ(rig.open(), kOk);
    EXPECT_EQ(rig.handle, 2);
}

// COM1 to COM4 are looked up in the settings (a default written for the technician to edit);
// a serial port that will not open says why in one line, and one that opens leaves no cause
// behind and is set to the rate asked for, 8 data bits, no parity, one stop bit, no flow control.
TEST(SerialLibrary, PortNamesParametersAndWhyAPortWillNotOpen) {
    Rig rig;
    const QString pty = QString::fromStdString(rig.path);
    rig.settings.set("Ports", "COM2", pty);
    const QString missing = rig.dir.filePath("ttyUSB9");
    const QString plain = rig.dir.filePath("plain");
    const QString refused = QString::fromStdString(Listener().name("rfc2217"));  // nothing listens there
    ASSERT_TRUE(QFile(plain).open(QIODevice::WriteOnly));
    struct Row {
        QString port;  // "-": no name at all
        std::int32_t baud, timeout, result;
        QString why;
        speed_t speed = B0;
    };
    const Row rows[] = {
        {"COM4", 9600, 200, kPortNotFound, "/dev/ttyS3: not found"},
        {"COM2", 9600, 200, kOk, "", B9600},
        {missing, 9600, 200, kPortNotFound, missing + ": not found"},
        {"com2", 19200, 200, kOk, "", B19200},
        {plain, 9600, 200, kPortNotFound, plain + ": not a serial device"},
        {"/dev/null", 9600, 200, kPortNotFound, "/dev/null: not a serial device"},
        {pty, 38400, 200, kOk, "", B38400},
        {"rfc2217://127.0.0.1", 9600, 200, kPortNotFound, "rfc2217://127.0.0.1: not a network address: no port (HOST:PORT)"},
        {refused, 9600, 2000, kPortNotFound, refused + ": connection refused"},
        {"", 9600, 200, kPortNotFound, ""},
        {"-", 9600, 200, kInvalidParameter, ""},
        {"COM2", 0, 200, kInvalidParameter, ""},
        {"COM2", 9600, 0, kInvalidParameter, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port.toStdString() + " " + std::to_string(row.baud) + " " + std::to_string(row.timeout));
        std::int32_t handle = -7;
        // The cause of an earlier failure never stands for this one.
        ASSERT_EQ(rig.library.init_port_timeouts(handle, "/dev/null", 9600, 200), kPortNotFound);
        const QByteArray name = row.port.toLocal8Bit();
        EXPECT_EQ(rig.library.init_port_timeouts(handle, row.port == "-" ? nullptr : name.constData(), row.baud,
                                                 row.timeout),
                  row.result);
        EXPECT_EQ(rig.library.open_failure(), row.why);
        if (row.result != kOk) {
            EXPECT_EQ(handle, -7);
            continue;
        }
        termios t{};
        ASSERT_EQ(::tcgetattr(rig.slave, &t), 0);
        EXPECT_EQ(cfgetospeed(&t), row.speed);
        EXPECT_EQ(cfgetispeed(&t), row.speed);
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF), 0u);
        EXPECT_EQ(rig.library.close_port(handle), kOk);
    }
    EXPECT_EQ(rig.settings.get("Ports", "COM4"), "/dev/ttyS3");
    EXPECT_FALSE(rig.settings.contains("Ports", "COM1"));
    EXPECT_EQ(rig.settings.get("Ports", "COM2"), pty);

    // Permission denied names the group that owns the device (root is never denied, so the
    // words are checked on their own).
    struct stat st {};
    ASSERT_EQ(::stat(rig.path.c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(describe_port_trouble(PortTrouble::kDenied, pty),
              pty + QString(": permission denied (the device belongs to group %1)").arg(g->gr_name));
}

// Another program holding the lock on the device, through any name of it: refused, with the
// program named. Once it lets go, the port opens.
TEST(SerialLibrary, AnotherProgramsLockIsHonoured) {
    Rig rig;
    const std::string link = rig.dir.filePath("port").toStdString();
    ASSERT_EQ(::symlink(rig.path.c_str(), link.c_str()), 0);
    QProcess holder;
    // It says so once it holds the lock.
    holder.start("flock", {"--exclusive", "--no-fork", QString::fromStdString(rig.path), "sh", "-c", "echo held; exec sleep 30"});
    ASSERT_TRUE(holder.waitForReadyRead(5000));
    EXPECT_EQ(rig.library.init_port_timeouts(rig.handle, link.c_str(), 38400, 200), kAccessDenied);
    const std::string why = rig.library.open_failure().toStdString();
    EXPECT_TRUE(why.starts_with(link + ": in use by process")) << why;
    EXPECT_NE(why.find("(sleep)"), std::string::npos) << why;
    holder.kill();
    holder.waitForFinished(3000);
    EXPECT_EQ(rig.library.init_port_timeouts(rig.handle, link.c_str(), 38400, 200), kOk);
}

// Waiting for the driver's output queue: sleeps sized by the line, never a poll every
// millisecond, and a queue that never empties fails at the deadline.
TEST(SerialLine, OutputQueueWaitSleepsAsLongAsTheQueuedBytesTake) {
    struct Case {
        std::deque<int> queue;  // what the driver says at each look
        std::int32_t baud;
        std::vector<long> sleeps_us;
    } cases[] = {
        {{0}, 38400, {}},
        {{-1}, 38400, {}},  // the driver cannot say
        {{1000, 0}, 38400, {260416}},
        {{100, 40, 0}, 38400, {26041, 10416}},
        {{1, 0}, 115200, {100}},  // at least a tenth of a millisecond
    };
    for (Case& c : cases) {
        std::vector<long> sleeps;
        const auto result = wait_for_output_queue(
            [&] {
                const int n = c.queue.front();
                if (c.queue.size() > 1) c.queue.pop_front();
                return n;
            },
            c.baud, QDeadlineTimer(10000), [&](std::chrono::microseconds t) { sleeps.push_back(t.count()); });
        EXPECT_EQ(result, kOk);
        EXPECT_EQ(sleeps, c.sleeps_us);
    }
    // A queue that has not emptied by the deadline: no more sleeps.
    int looks = 0;
    EXPECT_EQ(wait_for_output_queue([&] { return ++looks < 9 ? 100 : 0; }, 38400, QDeadlineTimer(0), [](auto) {}),
              kWriteFault);
    EXPECT_EQ(looks, 1);
}

const Bytes kGreeting = hex_bytes("FF FB 2C FF FB 00 FF FD 00 FF FD 03");
const Bytes kSettings38400 = hex_bytes("FF FA 2C 01 00 00 96 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 "
                                 "FF FA 2C 04 01 FF F0 FF FA 2C 05 01 FF F0");
const Bytes kAgree = hex_bytes("FF FD 2C");

TEST(NetworkLine, Rfc2217OpenSetsTheRemoteLineAndDataIsEscaped) {
    const Bytes reply = reply_bytes(0x51, 0, 0, pattern_block(0));
    const QByteArray answer = telnet::escape(QByteArray(reinterpret_cast<const char*>(reply.data()), 263));  // FF doubled
    Rig rig;
    Peer peer(rig.listener.fd,
              {
                  Peer::expect(12),
                  // The server agrees, offers echo (refused) and says its modem lines cannot be watched.
                  Peer::write(kAgree + hex_bytes("FF FB 01")),
                  Peer::expect(3 + kSettings38400.size()),
                  Peer::write(hex_bytes("FF FA 2C 65 00 00 96 00 FF F0 FF FA 2C 6B 00 FF F0")),
                  Peer::expect(6),
                  Peer::write(Bytes(answer.begin(), answer.end())),
                  Peer::expect(1 + 52),
              },
              true);
    ASSERT_EQ(rig.library.init_port_timeouts(rig.handle, rig.listener.name("rfc2217").c_str(), 38400, 2000), kOk);
    DeviceReply block{};
    EXPECT_EQ(rig.library.query_upload_status(rig.handle, block), kOk);
    EXPECT_EQ(block, pattern_block(0));
    Bytes frame(27, 0xFF);
    frame[0] = 0xE3;
    std::int32_t out = 0;
    EXPECT_EQ(rig.library.send_data(rig.handle, frame, out), 27);
    EXPECT_EQ(rig.library.close_port(rig.handle), kOk);
    peer.join();
    const Bytes expected = kGreeting + hex_bytes("FF FE 01") + kSettings38400 + hex_bytes("A5 3C 51 00 00 32 E3") +
                           Bytes(52, 0xFF);  // 26 data bytes FF, each doubled
    EXPECT_EQ(show(peer.received()), show(expected));
}

// Every server that cannot carry the line says why. Binary counts as refused by what the
// server said last.
TEST(NetworkLine, ServersThatCannotCarryTheLine) {
    const Bytes rate_38400 = hex_bytes("FF FA 2C 65 00 00 96 00 FF F0");
    auto answers = [&](const char* binary, Bytes rate) {
        return std::vector<Peer::Step>{Peer::expect(12), Peer::write(kAgree + hex_bytes(binary)),
                                       Peer::expect(kSettings38400.size()), Peer::write(rate), Peer::expect(1)};
    };
    const struct {
        std::vector<Peer::Step> script;
        std::int32_t result;
        const char* why;  // after the address
    } cases[] = {
        {{Peer::expect(12), Peer::write(hex_bytes("FF FE 2C"))}, kAccessDenied, "the server refuses COM port control (RFC 2217)"},
        {{Peer::expect(12), Peer::expect(1)}, kAccessDenied, "no answer to COM port control within 0.5 s (not an RFC 2217 server?)"},
        {{}, kAccessDenied, "the server closed the connection"},
        {answers("", hex_bytes("FF FA 2C 65 00 00 25 80 FF F0")), kInvalidParameter, "the server set 9600 baud instead of 38400"},
        {answers("FF FB 00 FF FD 00", rate_38400), kOk, ""},
        {answers("", rate_38400), kOk, ""},
        {answers("FF FC 00 FF FD 00", rate_38400), kAccessDenied, "the server refuses binary transmission"},
        {answers("FF FB 00 FF FE 00", rate_38400), kAccessDenied, "the server refuses binary transmission"},
        {answers("FF FC 00 FF FB 00 FF FD 00", rate_38400), kOk, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        Rig rig;
        Peer peer(rig.listener.fd, c.script, true);
        const std::string name = rig.listener.name("rfc2217");
        EXPECT_EQ(rig.library.init_port_timeouts(rig.handle, name.c_str(), 38400, 500), c.result);
        EXPECT_EQ(rig.library.open_failure(), *c.why ? QString::fromStdString(name) + ": " + c.why : QString());
        if (c.result == kOk) rig.library.close_port(rig.handle);
    }
}

// Before it agrees to COM port control the server sends 4 MB of data: none of it can be the
// projector's (the remote line is not set up yet), so none of it is kept or handed on.
TEST(NetworkLine, DataBeforeTheLineIsSetUpIsNotKeptOrHandedOn) {
    Listener listener;
    Peer peer(listener.fd, {Peer::write(Bytes(4 << 20, 'x')), Peer::write(kAgree), Peer::expect(12 + 38),
                            Peer::write(hex_bytes("FF FA 2C 65 00 00 96 00 FF F0"))}, true);
    NetworkLine line(QString::fromStdString(listener.name("rfc2217")));
    EXPECT_EQ(line.open(38400, 30000), kOk);
    peer.join();
    QByteArray got;
    EXPECT_EQ(line.read(got, QDeadlineTimer(2000)), kReadFault);  // gone, and nothing left over
    EXPECT_EQ(got.size(), 0);
}

// A name service that does not answer: the open gives up at its own time-out, not the
// resolver's, and says so; a name that is not known is named.
TEST(NetworkLine, NameLookupEndsWithTheOpensTimeOut) {
    std::promise<void> answer;
    const HostLookup late = [answer = answer.get_future().share()](const QString&) {
        answer.wait_for(std::chrono::seconds(10));
        return std::vector<QHostAddress>{};
    };
    NetworkLine line("rfc2217://hall:3001", late);
    EXPECT_EQ(line.open(38400, 300), kPortNotFound);
    EXPECT_EQ(line.open_failure(), "rfc2217://hall:3001: the name hall was not resolved within 0.3 s");
    answer.set_value();
    NetworkLine unknown("tcp://hall:3001", late);
    EXPECT_EQ(unknown.open(38400, 300), kPortNotFound);
    EXPECT_EQ(unknown.open_failure(), "tcp://hall:3001: no host named hall");
}

int qt_messages = 0;

// A lock file made under umask 077 serves another user, and goes with its holder; one that an
// older version left unreadable names its owner. The lock directory is the same for every user
// and environment: no runtime directory is asked for (Qt would warn without XDG_RUNTIME_DIR).
// The other user is this test again, as nobody, told the key to take.
TEST(ServerLock, EveryUserMeetsAtOneFileWhateverTheUmask) {
    if (const QString key = qEnvironmentVariable("HALVERN_TEST_LOCK_KEY"); !key.isEmpty()) {
        ServerLock lock;
        const int outcome = static_cast<int>(lock.take(key));
        return (void)std::printf("outcome %d: %s\n", outcome, qPrintable(lock.why()));
    }
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
    const QStringList nobody{"--reuid=65534", "--regid=65534", "--clear-groups"};
    if (QProcess::execute("setpriv", nobody + QStringList{"test", "-x", QCoreApplication::applicationFilePath()}) != 0)
        GTEST_SKIP() << "nobody cannot run this test program from where it is";
    const QString key = QStringLiteral("192.0.2.7:%1").arg(::getpid());
    auto as_nobody = [&] {
        QProcess child;
        child.start("setpriv", nobody + QStringList{"env", "HALVERN_TEST_LOCK_KEY=" + key, QCoreApplication::applicationFilePath(),
                                                    "--gtest_filter=ServerLock.*"});
        child.waitForFinished(20000);
        const QByteArray out = child.readAllStandardOutput();
        return QString::fromLocal8Bit(out.mid(out.indexOf("outcome "))).section('\n', 0, 0);
    };
    EXPECT_TRUE(ServerLock::directory() == "/run/lock" || ServerLock::directory() == "/tmp");
    const QString file = QDir(ServerLock::directory()).filePath(ServerLock::file_name(key));

    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    qunsetenv("XDG_RUNTIME_DIR");
    const QtMessageHandler handler = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) { ++qt_messages; });
    const mode_t umask_before = ::umask(077);
    ServerLock held;
    ASSERT_EQ(held.take(key), ServerLock::Outcome::kTaken);
    ::umask(umask_before);
    qInstallMessageHandler(handler);
    if (!runtime.isEmpty()) qputenv("XDG_RUNTIME_DIR", runtime);
    EXPECT_EQ(qt_messages, 0);

    EXPECT_EQ(as_nobody(), "outcome 2: in use by another program (lock file " + file + ")");
    held.release();
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(as_nobody(), "outcome 0: ");
    EXPECT_FALSE(QFile::exists(file));

    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_EQ(as_nobody(), "outcome 3: in use by another user (the lock file " + file + " of root cannot be opened)");
    ::unlink(QFile::encodeName(file).constData());
}

}  // namespace
}  // namespace halvern
