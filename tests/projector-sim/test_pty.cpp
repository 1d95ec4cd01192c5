// Runs the real projector-sim executable and talks to it over its pseudo-terminal with a
// tiny raw client, byte for byte.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

class Sim {
public:
    explicit Sim(std::vector<std::string> args) {
        int fds[2];
        if (pipe(fds) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        args.insert(args.begin(), PROJECTOR_SIM_PATH);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, PROJECTOR_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        err_ = fds[0];
    }
    ~Sim() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) close(err_);
    }
    // Reads the simulator's standard error until a line starts with `prefix`; the rest of it.
    std::string wait_for_line(const std::string& prefix, int ms = 5000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            std::size_t nl;
            while ((nl = text_.find('\n')) != std::string::npos) {
                std::string line = text_.substr(0, nl);
                text_.erase(0, nl + 1);
                if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
            }
            pollfd p{err_, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = read(err_, buf, sizeof buf);
                if (n <= 0) break;
                text_.append(buf, std::size_t(n));
            }
        }
        return {};
    }
    // Exit status after a signal (or none), -1 if it did not end within the time.
    int wait_exit(int ms = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int err_ = -1;
    std::string text_;
};

int open_raw(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
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

Bytes request(std::uint8_t code, std::uint8_t number) {
    return {0xA5, 0x3C, code, number, 0x00, static_cast<std::uint8_t>(0xA5 + 0x3C + code + number)};
}

// The 263-byte reply with the given block bytes set (all others 0, revision 1 at 16).
Bytes reply(std::uint8_t code, std::uint8_t number, std::uint8_t result, std::map<int, std::uint8_t> set) {
    Bytes r(263, 0);
    r[0] = 0xA5;
    r[1] = 0xC3;
    r[2] = code;
    r[3] = number;
    r[4] = result;
    r[5 + 16] = 1;
    for (auto [i, v] : set) r[5 + i] = v;
    unsigned sum = 0;
    for (int i = 0; i < 261; ++i) sum += r[i];
    r[261] = static_cast<std::uint8_t>(sum >> 8);
    r[262] = static_cast<std::uint8_t>(sum);
    return r;
}

// A command frame (no data) of the given kind, role and sequence byte.
Bytes command_frame(std::uint8_t kind, std::uint8_t role, std::uint8_t seq) {
    Bytes f = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1B, kind, role, seq, 0x01, 0x01,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7A, 0xCE};
    unsigned sum = 0;
    for (int i = 0; i <= 20; ++i) sum += f[i];
    f[21] = static_cast<std::uint8_t>(sum >> 8);
    f[22] = static_cast<std::uint8_t>(sum);
    return f;
}

// The data frame of a 20-byte message without data with the given code.
Bytes short_message_frame(std::uint8_t code) {
    Bytes f = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x2F, 0x02, 0x01,
               0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x14, 0x00, 0x14, 0x01, 0x9E,
               0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x00, 0x00, 0x14, code, 0x00,
               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, static_cast<std::uint8_t>(0x1C + code),
               0x00, 0x00, 0x7A, 0xCE};
    unsigned sum = 0;
    for (int i = 23; i < 43; ++i) sum += f[i];
    f[43] = static_cast<std::uint8_t>(sum >> 8);
    f[44] = static_cast<std::uint8_t>(sum);
    return f;
}

}  // namespace

TEST(ProjectorSimPty, DeviceCommandsAndOneMessageEachWay) {
    QTemporaryDir dir;
    const std::string port = dir.filePath("port").toStdString();
    Sim sim({"--link", port, "--state", "on", "--cooldown", "1", "--model", "TEST-MODEL", "--version", "0321"});
    ASSERT_GT(sim.pid(), 0);
    const std::string slave = sim.wait_for_line("ready ");
    ASSERT_FALSE(slave.empty());
    char target[256] = {};
    ASSERT_GT(readlink(port.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), slave);

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
        write_all(fd, request(c.code, number));
        EXPECT_EQ(read_exactly(fd, 263), c.want) << "command " << char(c.code) << " #" << int(number);
        ++number;
    }

    // System to device: message 1, each frame acknowledged with its kind and sequence byte.
    write_all(fd, command_frame(1, 1, 0));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(1, 2, 0));
    write_all(fd, short_message_frame(1));
    Bytes data_ack = command_frame(2, 2, 0);
    EXPECT_EQ(read_exactly(fd, 27), data_ack);
    // A retransmission with the next sequence byte is acknowledged with that byte.
    write_all(fd, command_frame(3, 1, 1));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(3, 2, 1));

    // Device to system: the reply, message 2, as begin, data and end frames.
    EXPECT_EQ(read_exactly(fd, 27), command_frame(1, 1, 0));
    write_all(fd, command_frame(1, 2, 0));
    EXPECT_EQ(read_exactly(fd, 47), short_message_frame(2));
    write_all(fd, command_frame(2, 2, 0));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(3, 1, 0));
    write_all(fd, command_frame(3, 2, 0));
    EXPECT_TRUE(read_exactly(fd, 1, 300).empty()) << "nothing more after the acknowledged end frame";

    // Closing and reopening the port does not hang the line up.
    close(fd);
    const int fd2 = open_raw(port);
    ASSERT_GE(fd2, 0);
    write_all(fd2, request('Q', 0));
    EXPECT_EQ(read_exactly(fd2, 263), reply('Q', 0, 0, {{19, 1}}));
    close(fd2);

    kill(sim.pid(), SIGTERM);
    EXPECT_EQ(sim.wait_exit(), 0);
    EXPECT_NE(access(port.c_str(), F_OK), 0) << "the link is removed on exit";
}

TEST(ProjectorSimPty, OnceExitsAfterTheReset) {
    QTemporaryDir dir;
    const std::string port = dir.filePath("port").toStdString();
    Sim sim({"--link", port, "--once"});
    ASSERT_FALSE(sim.wait_for_line("ready ").empty());
    const int fd = open_raw(port);
    ASSERT_GE(fd, 0);
    write_all(fd, command_frame(1, 1, 0));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(1, 2, 0));
    write_all(fd, short_message_frame(15));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(2, 2, 0));
    write_all(fd, command_frame(3, 1, 0));
    EXPECT_EQ(read_exactly(fd, 27), command_frame(3, 2, 0));
    EXPECT_EQ(sim.wait_exit(), 0);
    close(fd);
}

TEST(ProjectorSimPty, BadArgumentsExitWithTwo) {
    for (const char* bad : {"--fault=x", "--state"}) {
        Sim sim({bad, "sleeping"});
        EXPECT_EQ(sim.wait_exit(), 2) << bad;
    }
    Sim sim({"--fault", "explode"});
    EXPECT_EQ(sim.wait_exit(), 2);
}
