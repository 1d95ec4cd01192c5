// Lines under faults: bytes that wait in the operating system when the library throws input
// away, deadlines past the range of a wait, a hostile network peer.

#include "device/NetworkLine.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
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

}  // namespace
}  // namespace halvern
