// The library over network lines, against a scripted server on 127.0.0.1: the RFC 2217
// negotiation at open byte for byte, 0xFF doubled and undoubled, raw TCP, the address forms,
// refusals, a lost connection and one program at a time per address.

#include "device/NetworkLine.h"
#include "device/SerialDeviceLibrary.h"

#include <QTemporaryDir>

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

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }
std::string show(const QByteArray& bytes) { return bytes.toHex(' ').toUpper().toStdString(); }

// A device reply to request `number` of command `code`, block all zeros but `fill` at 19.
QByteArray reply(std::uint8_t code, std::uint8_t number, std::uint8_t fill) {
    QByteArray r(263, '\0');
    r[0] = '\xA5';
    r[1] = '\xC3';
    r[2] = static_cast<char>(code);
    r[3] = static_cast<char>(number);
    r[5 + 19] = static_cast<char>(fill);
    std::uint32_t sum = 0;
    for (int i = 0; i < 261; ++i) sum += static_cast<std::uint8_t>(r[i]);
    r[261] = static_cast<char>(sum >> 8);
    r[262] = static_cast<char>(sum);
    return r;
}

// A server on 127.0.0.1 that accepts connections one after another and runs a script on
// each: read a number of bytes, write bytes, or hang up.
class Server {
public:
    struct Step {
        enum Kind { kExpect, kWrite, kHangUp } kind;
        int count = 0;
        QByteArray bytes;
    };
    static Step expect(int n) { return {Step::kExpect, n, {}}; }
    static Step write(QByteArray b) { return {Step::kWrite, 0, std::move(b)}; }
    static Step hang_up() { return {Step::kHangUp, 0, {}}; }

    explicit Server(std::vector<std::vector<Step>> scripts) : scripts_(std::move(scripts)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(listener_, 4);
        socklen_t len = sizeof a;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Server() { join(); }
    void join() {
        if (thread_.joinable()) thread_.join();
        if (listener_ >= 0) ::close(listener_);
        listener_ = -1;
    }
    quint16 port() const { return port_; }
    // What each connection received, in order; read after join().
    const std::vector<QByteArray>& received() const { return received_; }

private:
    void run() {
        for (const auto& script : scripts_) {
            pollfd p{listener_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) return;
            const int fd = ::accept(listener_, nullptr, nullptr);
            QByteArray got;
            for (const Step& s : script) {
                if (s.kind == Step::kHangUp) break;
                if (s.kind == Step::kWrite) {
                    if (::send(fd, s.bytes.constData(), s.bytes.size(), MSG_NOSIGNAL) != s.bytes.size()) break;
                    continue;
                }
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                const qsizetype want = got.size() + s.count;
                while (got.size() < want && std::chrono::steady_clock::now() < until) {
                    pollfd q{fd, POLLIN, 0};
                    if (::poll(&q, 1, 100) <= 0) continue;
                    char buf[4096];
                    const ssize_t n = ::recv(fd, buf, std::min<qsizetype>(sizeof buf, want - got.size()), 0);
                    if (n <= 0) break;
                    got.append(buf, n);
                }
            }
            received_.push_back(got);
            ::close(fd);
        }
    }

    std::vector<std::vector<Step>> scripts_;
    std::vector<QByteArray> received_;
    int listener_ = -1;
    quint16 port_ = 0;
    std::thread thread_;
};

const QByteArray kGreeting = hex("FF FB 2C FF FB 00 FF FD 00 FF FD 03");
const QByteArray kSettings38400 = hex("FF FA 2C 01 00 00 96 00 FF F0 FF FA 2C 02 08 FF F0 FF FA 2C 03 01 FF F0 "
                                      "FF FA 2C 04 01 FF F0 FF FA 2C 05 01 FF F0");
const QByteArray kAgree = hex("FF FD 2C");
const QByteArray kBaudAnswer38400 = hex("FF FA 2C 65 00 00 96 00 FF F0");

struct Bench {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Halvern!.ini")};
    SerialDeviceLibrary library{settings};
    std::int32_t handle = 0;
    std::int32_t open(const QString& name, std::int32_t timeout_ms = 2000) {
        return library.init_port_timeouts(handle, name.toLocal8Bit().constData(), 38400, timeout_ms);
    }
};

TEST(NetworkLine, AddressForms) {
    struct Case {
        const char* name;
        bool network;
        const char* key;  // nullptr: malformed
        bool rfc2217;
    };
    const Case cases[] = {
        {"rfc2217://127.0.0.1:2000", true, "127.0.0.1:2000", true},
        {"RFC2217://Projector-7.Example:4001/", true, "projector-7.example:4001", true},
        {"tcp://10.0.0.5:7000", true, "10.0.0.5:7000", false},
        {"tcp://[::1]:7000", true, "::1:7000", false},
        {"rfc2217://127.0.0.1", true, nullptr, false},
        {"rfc2217://127.0.0.1:0", true, nullptr, false},
        {"rfc2217://127.0.0.1:65536", true, nullptr, false},
        {"rfc2217://:2000", true, nullptr, false},
        {"tcp://host:2000/path", true, nullptr, false},
        {"tcp://user@host:2000", true, nullptr, false},
        {"tcp://host:2000?x=1", true, nullptr, false},
        {"tcp://host:port", true, nullptr, false},
        {"/dev/ttyUSB0", false, nullptr, false},
        {"telnet://host:23", false, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(is_network_name(QString::fromLatin1(c.name)), c.network);
        const auto address = parse_network_name(QString::fromLatin1(c.name));
        ASSERT_EQ(address.has_value(), c.key != nullptr);
        if (!address) continue;
        EXPECT_EQ(address->key(), QString::fromLatin1(c.key));
        EXPECT_EQ(address->rfc2217, c.rfc2217);
    }
    // A malformed address is a port that does not exist.
    Bench bench;
    EXPECT_EQ(bench.open("rfc2217://127.0.0.1"), kPortNotFound);
}

TEST(NetworkLine, Rfc2217OpenSetsTheRemoteLineAndDataIsEscaped) {
    QByteArray answer = reply(0x51, 0, 0xFF);  // an FF in the block, and maybe in the checksum
    Server server({{
        Server::expect(12),
        // The server agrees, offers echo (refused) and says its modem lines cannot be watched.
        Server::write(kAgree + hex("FF FB 01")),
        Server::expect(3 + kSettings38400.size()),
        Server::write(kBaudAnswer38400 + hex("FF FA 2C 6B 00 FF F0")),
        Server::expect(6),
        Server::write(answer.replace("\xFF", QByteArray("\xFF\xFF", 2))),
        Server::expect(1 + 52),
    }});
    Bench bench;
    ASSERT_EQ(bench.open(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port())), kOk);
    DeviceReply block{};
    EXPECT_EQ(bench.library.query_upload_status(bench.handle, block), kOk);
    EXPECT_EQ(block[19], 0xFF);

    std::vector<std::uint8_t> frame(27, 0xFF);
    frame[0] = 0xE3;
    std::int32_t out = 0;
    EXPECT_EQ(bench.library.send_data(bench.handle, frame, out), 27);
    EXPECT_EQ(bench.library.close_port(bench.handle), kOk);
    server.join();

    ASSERT_EQ(server.received().size(), 1u);
    const QByteArray expected = kGreeting + hex("FF FE 01") + kSettings38400 + hex("A5 3C 51 00 00 32") +
                                hex("E3") + QByteArray(52, '\xFF');  // 26 data bytes FF, each doubled
    EXPECT_EQ(show(server.received()[0]), show(expected));
}

TEST(NetworkLine, RawTcpCarriesBytesAsTheyAre) {
    const QByteArray answer = reply(0x49, 0, 0xFF);
    Server server({{Server::expect(6), Server::write(answer)}});
    Bench bench;
    ASSERT_EQ(bench.open(QStringLiteral("tcp://127.0.0.1:%1").arg(server.port())), kOk);
    DeviceReply block{};
    EXPECT_EQ(bench.library.get_proj_info(bench.handle, block), kOk);
    EXPECT_EQ(block[19], 0xFF);
    bench.library.close_port(bench.handle);
    server.join();
    ASSERT_EQ(server.received().size(), 1u);
    EXPECT_EQ(show(server.received()[0]), "A5 3C 49 00 00 2A");
}

TEST(NetworkLine, ServersThatCannotCarryTheLine) {
    struct Case {
        const char* what;
        std::vector<Server::Step> script;
        std::int32_t result;
    };
    const Case cases[] = {
        {"refuses COM port control", {Server::expect(12), Server::write(hex("FF FE 2C"))}, kAccessDenied},
        {"never answers (no Telnet server)", {Server::expect(12), Server::expect(1)}, kAccessDenied},
        {"hangs up at once", {Server::hang_up()}, kAccessDenied},
        {"sets another rate",
         {Server::expect(12), Server::write(kAgree), Server::expect(kSettings38400.size()),
          Server::write(hex("FF FA 2C 65 00 00 25 80 FF F0"))},
         kInvalidParameter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Server server({c.script});
        Bench bench;
        EXPECT_EQ(bench.open(QStringLiteral("rfc2217://127.0.0.1:%1").arg(server.port()), 500), c.result);
    }
    // Nothing listening: no such port.
    quint16 closed = 0;
    {
        Server server({});
        closed = server.port();
    }
    Bench bench;
    EXPECT_EQ(bench.open(QStringLiteral("rfc2217://127.0.0.1:%1").arg(closed)), kPortNotFound);
}

TEST(NetworkLine, LostConnectionIsAReadFaultNotASilentDevice) {
    Server server({{Server::expect(6), Server::write(reply(0x51, 0, 1).left(100)), Server::hang_up()}});
    Bench bench;
    ASSERT_EQ(bench.open(QStringLiteral("tcp://127.0.0.1:%1").arg(server.port()), 20000), kOk);
    DeviceReply block{};
    EXPECT_EQ(bench.library.query_upload_status(bench.handle, block), kReadFault);
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    std::int32_t out = 0;
    EXPECT_EQ(bench.library.get_data(bench.handle, buffer, out), kReadFault);
    std::vector<std::uint8_t> frame(27, 0);
    EXPECT_EQ(bench.library.send_data(bench.handle, frame, out), 0);
    EXPECT_EQ(out, kWriteFault);
    EXPECT_EQ(bench.library.close_port(bench.handle), kOk);
}

TEST(NetworkLine, OneProgramAtATimePerAddress) {
    Server server({{Server::expect(6)}, {Server::expect(6)}});
    const QString address = QStringLiteral("tcp://127.0.0.1:%1").arg(server.port());
    Bench first, second;
    ASSERT_EQ(first.open(address), kOk);
    // Another library (as another program would) and the same library again are refused,
    // whichever way the address is written; nothing reaches the server.
    EXPECT_EQ(second.open(QStringLiteral("rfc2217://127.0.0.1:%1/").arg(server.port())), kAccessDenied);
    std::int32_t again = 0;
    EXPECT_EQ(first.library.init_port_timeouts(again, address.toLatin1().constData(), 38400, 2000), kAccessDenied);
    EXPECT_EQ(first.library.close_port(first.handle), kOk);
    // Released at close.
    ASSERT_EQ(second.open(address), kOk);
    second.library.close_port(second.handle);
    server.join();
    EXPECT_EQ(server.received().size(), 2u);
}

}  // namespace
}  // namespace halvern
