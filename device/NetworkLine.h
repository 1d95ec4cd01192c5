#pragma once
// A line to a serial device server on the network, over QTcpSocket:
//   rfc2217://HOST:PORT  Telnet with COM port control: the baud rate, data size, parity, stop
//                        bits and flow control of the remote UART are set at open.
//   tcp://HOST:PORT      raw bytes; the remote UART keeps whatever rate it was set up with.
// The host is looked up within the open's time-out. One program at a time per server: an
// open line holds the lock of every address its host resolves to (device/ServerLock.h), so
// every spelling of one server is one port.

#include "device/Line.h"
#include "device/PortResolver.h"
#include "device/ServerLock.h"
#include "device/Telnet.h"

#include <QTcpSocket>

#include <memory>
#include <optional>
#include <vector>

namespace halvern {

class NetworkLine : public Line {
public:
    explicit NetworkLine(const QString& name, HostLookup lookup = system_host_lookup());
    ~NetworkLine() override;

    std::int32_t open(std::int32_t baud_rate, std::int32_t timeout_ms) override;
    std::int32_t write(const char* data, qsizetype size, const QDeadlineTimer& deadline) override;
    std::int32_t read(QByteArray& into, const QDeadlineTimer& deadline) override;
    void discard_input() override;
    void close() override;
    // The name as written, without regard to case; aliases are found by the locks at open.
    QString identity() const override;
    QString open_failure() const override { return open_failure_; }

private:
    // Takes in what the server has sent: data to data_, commands answered or noted.
    void pump();
    // Waits for more from the server until the deadline. false: connection gone or time out.
    bool wait(const QDeadlineTimer& deadline);
    std::int32_t fail(std::int32_t result, const QString& why);
    std::int32_t lock(const std::vector<QHostAddress>& addresses);
    std::int32_t connect(const std::vector<QHostAddress>& addresses, const QDeadlineTimer& deadline);
    std::int32_t negotiate(std::int32_t baud_rate, const QDeadlineTimer& deadline);

    QString name_;
    QString parse_error_;
    std::optional<NetworkAddress> address_;
    HostLookup lookup_;
    QString timeout_text_;  // the open's time-out in words, "5 s"
    QTcpSocket socket_;
    std::vector<std::unique_ptr<ServerLock>> locks_;
    telnet::Decoder decoder_;
    telnet::Negotiator negotiator_;
    QByteArray data_;  // data received and not yet handed out
    std::optional<std::uint32_t> baud_answer_;
    QString open_failure_;
};

}  // namespace halvern
