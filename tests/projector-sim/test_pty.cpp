// Runs the real projector-sim executable and talks to it over its pseudo-terminal with a
// tiny raw client, byte for byte.

#include "Wire.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <thread>

using namespace halvern::sim;

namespace {

struct Sim {
    explicit Sim(const QStringList& args) {
        process.setReadChannel(QProcess::StandardError);
        process.start(QStringLiteral(PROJECTOR_SIM_PATH), args);
    }
    ~Sim() {
        process.kill();
        process.waitForFinished(1000);
    }
    // The rest of the line its standard error starts with "ready " (the pseudo-terminal's
    // path), or nothing within five seconds.
    QString ready() {
        QElapsedTimer clock;
        clock.start();
        QByteArray err;
        while (clock.elapsed() < 5000 && (process.state() != QProcess::NotRunning || process.bytesAvailable())) {
            process.waitForReadyRead(100);
            err += process.readAllStandardError();
            const qsizetype at = err.indexOf("ready "), end = err.indexOf('\n', at);
            if (at >= 0 && end > at) return QString::fromLocal8Bit(err.mid(at + 6, end - at - 6));
        }
        return {};
    }
    // Its exit code, or -1 if it did not end normally within the time.
    int exit_code(int ms = 3000) {
        return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QProcess process;
};

int open_raw(const QString& path) {
    const int fd = open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    if (fd < 0) return fd;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B38400);
    cfsetospeed(&t, B38400);
    tcsetattr(fd, TCSANOW, &t);
    return fd;
}

Bytes read_exactly(int fd, std::size_t n, int ms = 3000) {
    Bytes out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (out.size() < n && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        std::uint8_t buf[512];
        const ssize_t got = read(fd, buf, std::min(sizeof buf, n - out.size()));
        if (got > 0) out.insert(out.end(), buf, buf + got);
    }
    return out;
}

void write_all(int fd, const Bytes& b) { ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); }

// The reply with the given block bytes set (all others 0, revision 1 at 16).
Bytes reply(std::uint8_t code, std::uint8_t number, std::uint8_t result, const std::map<int, std::uint8_t>& set) {
    Bytes block(kReplyBlockSize, 0);
    block[16] = 1;
    for (auto [i, v] : set) block[static_cast<std::size_t>(i)] = v;
    return encode_reply({code, number}, result, block);
}

Bytes command_frame(std::uint8_t kind, std::uint8_t role, std::uint8_t seq) {
    return encode_frame(Frame{kind, role, seq, 1, 1, {}});
}
// The data frame of a message without data.
Bytes short_message_frame(std::uint8_t code) { return encode_frame(frames_of_message(encode_message({code, 0, {}}))[1]); }

}  // namespace

TEST(ProjectorSimPty, DeviceCommandsAndOneMessageEachWay) {
    QTemporaryDir dir;
    const QString port = dir.filePath("port");
    Sim sim({"--link", port, "--state", "on", "--cooldown", "1", "--model", "TEST-MODEL", "--version", "0321"});
    const QString slave = sim.ready();
    ASSERT_FALSE(slave.isEmpty());
    EXPECT_EQ(QFileInfo(port).symLinkTarget(), slave);

    const int fd = open_raw(port);
    ASSERT_GE(fd, 0);
    const struct { std::uint8_t code; Bytes want; int sleep_ms_before; } commands[] = {
        {'Q', reply('Q', 0, 0, {{19, 1}}), 0},
        {'S', reply('S', 1, 0, {{19, 2}, {20, 0x00}, {21, 0x01}}), 0},
        {'U', reply('U', 2, 1, {{19, 2}}), 0},
        {'Q', reply('Q', 3, 0, {{19, 0}}), 1100},
        {'U', reply('U', 4, 0, {{19, 1}}), 0},
        {'I', reply('I', 5, 0, {{19, 'T'}, {20, 'E'}, {21, 'S'}, {22, 'T'}, {23, '-'}, {24, 'M'}, {25, 'O'},
                                {26, 'D'}, {27, 'E'}, {28, 'L'}, {35, '0'}, {36, '3'}, {37, '2'}, {38, '1'}}), 0},
    };
    std::uint8_t number = 0;
    for (const auto& c : commands) {
        std::this_thread::sleep_for(std::chrono::milliseconds(c.sleep_ms_before));
        write_all(fd, encode_request(c.code, number));
        EXPECT_EQ(read_exactly(fd, kReplySize), c.want) << "command " << char(c.code) << " #" << int(number);
        ++number;
    }

    // System to device: message 1, each frame acknowledged with its kind and sequence byte; a
    // retransmission with the next sequence byte is acknowledged with that byte. Then device
    // to system: the reply, message 2, as begin, data and end frames.
    const struct { Bytes write, read; } steps[] = {
        {command_frame(1, 1, 0), command_frame(1, 2, 0)},
        {short_message_frame(1), command_frame(2, 2, 0)},
        {command_frame(3, 1, 1), command_frame(3, 2, 1)},
        {{}, command_frame(1, 1, 0)},
        {command_frame(1, 2, 0), short_message_frame(2)},
        {command_frame(2, 2, 0), command_frame(3, 1, 0)},
        {command_frame(3, 2, 0), {}},  // nothing more after the acknowledged end frame
    };
    for (const auto& s : steps) {
        if (!s.write.empty()) write_all(fd, s.write);
        EXPECT_EQ(read_exactly(fd, std::max<std::size_t>(s.read.size(), 1), s.read.empty() ? 300 : 3000), s.read);
    }

    // Closing and reopening the port does not hang the line up.
    close(fd);
    const int fd2 = open_raw(port);
    ASSERT_GE(fd2, 0);
    write_all(fd2, encode_request('Q', 0));
    EXPECT_EQ(read_exactly(fd2, kReplySize), reply('Q', 0, 0, {{19, 1}}));
    close(fd2);

    sim.process.terminate();
    EXPECT_EQ(sim.exit_code(), 0);
    EXPECT_FALSE(QFileInfo::exists(port)) << "the link is removed on exit";
}

TEST(ProjectorSimPty, OnceExitsAfterTheReset) {
    QTemporaryDir dir;
    Sim sim({"--link", dir.filePath("port"), "--once"});
    ASSERT_FALSE(sim.ready().isEmpty());
    const int fd = open_raw(dir.filePath("port"));
    ASSERT_GE(fd, 0);
    const std::pair<Bytes, Bytes> steps[] = {{command_frame(1, 1, 0), command_frame(1, 2, 0)},
                                             {short_message_frame(15), command_frame(2, 2, 0)},
                                             {command_frame(3, 1, 0), command_frame(3, 2, 0)}};
    for (const auto& [write, read] : steps) {
        write_all(fd, write);
        EXPECT_EQ(read_exactly(fd, read.size()), read);
    }
    EXPECT_EQ(sim.exit_code(), 0);
    close(fd);
}

TEST(ProjectorSimPty, BadArgumentsExitWithTwo) {
    for (const QStringList& bad : {QStringList{"--fault=x", "sleeping"}, {"--state", "sleeping"}, {"--fault", "explode"}}) {
        Sim sim(bad);
        EXPECT_EQ(sim.exit_code(), 2) << bad.join(' ').toStdString();
    }
}
