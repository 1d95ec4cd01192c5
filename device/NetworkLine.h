#pragma once
// A line to a serial device server on the network, over QTcpSocket:
//   rfc2217://HOST:PORT  Telnet with COM port control: the baud rate, data size, parity, stop
//                        bits and flow control of the remote UART are set at open.
//   tcp://HOST:PORT      raw bytes; the remote UART keeps whatever rate it was set up with.
// One program at a time per address: an open line holds an exclusive lock on a lock file
// named after HOST:PORT.

#include "device/Line.h"
#include "device/Telnet.h"

#include <QTcpSocket>

#include <optional>

namespace halvern {

struct NetworkAddress {
    bool rfc2217 = false;  // otherwise raw TCP
    QString host;          // as written, lower case; IPv6 without brackets
    quint16 port = 0;
    // "HOST:PORT", the same for both kinds: what the lock and the library's table go by.
    QString key() const;
};

// Whether name is written as a network address (starts with "rfc2217://" or "tcp://").
bool is_network_name(const QString& name);
// The address a network name gives; empty when it is malformed (no host, no port or a port
// outside 1 to 65535, a path, a query or user information).
std::optional<NetworkAddress> parse_network_name(const QString& name);

class NetworkLine : public Line {
public:
    explicit NetworkLine(const QString& name);
    ~NetworkLine() override;

    std::int32_t open(std::int32_t baud_rate, std::int32_t timeout_ms) override;
    std::int32_t set_baud_rate(std::int32_t baud_rate) override;
    std::int32_t write(const char* data, qsizetype size, const QDeadlineTimer& deadline) override;
    std::int32_t read(QByteArray& into, const QDeadlineTimer& deadline) override;
    void discard_input() override;
    void close() override;
    QString identity() const override;

    // Where the lock files live: the first of /run/lock, $XDG_RUNTIME_DIR and the temporary
    // directory that takes a file.
    static QString lock_file(const QString& key);

private:
    // Takes in what the server has sent: data to data_, commands answered or noted.
    void pump();
    // Waits for more from the server until the deadline. false: connection gone.
    bool wait(const QDeadlineTimer& deadline);
    std::int32_t lock();
    std::int32_t negotiate(std::int32_t baud_rate, const QDeadlineTimer& deadline);

    QString name_;
    std::optional<NetworkAddress> address_;
    QTcpSocket socket_;
    int lock_fd_ = -1;
    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    QByteArray data_;  // data received and not yet handed out
    std::optional<std::uint32_t> baud_answer_;
};

}  // namespace halvern
