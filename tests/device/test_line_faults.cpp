// Lines under faults: bytes that wait in the operating system when the library throws input
// away, deadlines past the range of a wait, a hostile network peer.

#include "device/NetworkLine.h"

#include <gtest/gtest.h>

#include <QFile>

#include <arpa/inet.h>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace halvern {
namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1; the connection a line makes is taken with accept_one().
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    quint16 port = 0;
    Listener() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 4);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
    int accept_one() const {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return -1;
        return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
    QString name(const char* scheme) const { return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(port); }
};

void send_all(int fd, const QByteArray& bytes) {
    ASSERT_EQ(::send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
}

TEST(LineFaults, NetworkDiscardDropsWhatWaitsInTheSocket) {
    Listener listener;
    NetworkLine line(listener.name("tcp"));
    ASSERT_EQ(line.open(38400, 2000), kOk);
    const int peer = listener.accept_one();
    ASSERT_GE(peer, 0);
    send_all(peer, "late reply");
    std::this_thread::sleep_for(200ms);  // arrived, not yet read by anyone
    line.discard_input();
    send_all(peer, "answer");
    QByteArray got;
    const QDeadlineTimer deadline(2000);
    while (got.size() < 6 && line.read(got, deadline) == kOk) {}
    EXPECT_EQ(got.toStdString(), "answer");
    ::close(peer);
}

TEST(LineFaults, ServerThatRefusesBinaryCannotCarryTheLine) {
    // Without binary a Telnet stream is 7-bit text in which a CR travels as CR NUL: frames
    // would arrive with bytes added or changed.
    const struct {
        const char* what;
        const char* answer;  // after DO COM-PORT-OPTION
        std::int32_t result;
    } cases[] = {
        {"agrees to binary both ways", "FFFB00 FFFD00", kOk},
        {"says nothing of binary", "", kOk},
        {"will not send binary", "FFFC00 FFFD00", kAccessDenied},
        {"will not take binary", "FFFB00 FFFE00", kAccessDenied},
        {"refuses, then agrees", "FFFC00 FFFB00 FFFD00", kOk},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Listener listener;
        std::thread server([&] {
            const int peer = listener.accept_one();
            if (peer < 0) return;
            char buf[256];
            qsizetype got = 0;
            auto take = [&](qsizetype until) {
                while (got < until) {
                    const ssize_t n = ::recv(peer, buf, sizeof buf, 0);
                    if (n <= 0) return;
                    got += n;
                }
            };
            take(12);
            send_all(peer, QByteArray::fromHex("FFFD2C") + QByteArray::fromHex(QByteArray(c.answer).replace(' ', "")));
            take(12 + 38);
            send_all(peer, QByteArray::fromHex("FFFA2C6500009600FFF0"));
            take(12 + 38 + 1);  // until the line hangs up
            ::close(peer);
        });
        NetworkLine line(listener.name("rfc2217"));
        EXPECT_EQ(line.open(38400, 5000), c.result);
        line.close();
        server.join();
    }
}

TEST(LineFaults, LockFileLeftByAnotherUserIsTakenAsItIs) {
    // Where the system protects files in sticky directories (fs.protected_regular, set on
    // Debian), opening another user's lock file with O_CREAT is refused even when nobody
    // holds the lock.
    if (::geteuid() != 0) GTEST_SKIP() << "needs to give a file to another user";
    Listener listener;
    const QByteArray file = QFile::encodeName(NetworkLine::lock_file(QStringLiteral("127.0.0.1:%1").arg(listener.port)));
    const int fd = ::open(file.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ASSERT_EQ(::chown(file.constData(), 65534, 65534), 0);
    NetworkLine line(listener.name("tcp"));
    EXPECT_EQ(line.open(38400, 2000), kOk);
    line.close();
    ::unlink(file.constData());
}

TEST(LineFaults, DataBeforeTheLineIsSetUpIsNotKeptOrHandedOn) {
    // Before it agrees to COM port control the server sends 4 MB of data: none of it can be
    // the projector's (the remote line is not set up yet), so none of it is kept or handed on.
    constexpr qsizetype kFlood = 4 << 20;
    Listener listener;
    std::thread server([&] {
        const int peer = listener.accept_one();
        if (peer < 0) return;
        const QByteArray chunk(1 << 20, 'x');
        for (qsizetype sent = 0; sent < kFlood; sent += chunk.size())
            if (::send(peer, chunk.constData(), chunk.size(), MSG_NOSIGNAL) != chunk.size()) break;
        send_all(peer, QByteArray::fromHex("FFFD2C"));
        char buf[256];
        // The greeting, then the line settings, each answered by the rate.
        for (qsizetype got = 0; got < 12 + 38;) {
            const ssize_t n = ::recv(peer, buf, sizeof buf, 0);
            if (n <= 0) break;
            got += n;
        }
        send_all(peer, QByteArray::fromHex("FFFA2C6500009600FFF0"));
        std::this_thread::sleep_for(500ms);
        ::close(peer);
    });
    NetworkLine line(listener.name("rfc2217"));
    EXPECT_EQ(line.open(38400, 30000), kOk);
    server.join();
    QByteArray got;
    EXPECT_EQ(line.read(got, QDeadlineTimer(100)), kReadFault);  // gone, and nothing left over
    EXPECT_EQ(got.size(), 0);
}

}  // namespace
}  // namespace halvern
