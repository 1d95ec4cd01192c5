// A network line runs on QTcpSocket's blocking waits, like the serial line on QSerialPort's:
// no event loop is needed.

#include "device/NetworkLine.h"

namespace halvern {

namespace {

int remaining_ms(const QDeadlineTimer& deadline) {
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

// How long throwing input away may go on taking in what keeps arriving.
constexpr int kDiscardBoundMs = 50;

}  // namespace

NetworkLine::NetworkLine(const QString& name, HostLookup lookup)
    : name_(name), address_(parse_network_name(name, &parse_error_)), lookup_(std::move(lookup)) {}

NetworkLine::~NetworkLine() { close(); }

QString NetworkLine::identity() const { return QStringLiteral("net ") + name_.toLower(); }

std::int32_t NetworkLine::fail(std::int32_t result, const QString& why) {
    close();
    open_failure_ = name_ + QStringLiteral(": ") + why;
    return result;
}

std::int32_t NetworkLine::open(std::int32_t baud_rate, std::int32_t timeout_ms) {
    open_failure_.clear();
    if (!address_) return fail(kPortNotFound, QStringLiteral("not a network address: %1").arg(parse_error_));
    if (baud_rate <= 0) return kInvalidParameter;
    const QDeadlineTimer deadline(std::max(timeout_ms, 1));
    timeout_text_ = QStringLiteral("%1 s").arg(std::max(timeout_ms, 1) / 1000.0);

    const HostAddresses host = lookup_host(address_->host, deadline, lookup_);
    if (host.outcome == HostAddresses::Outcome::kNoAnswer)
        return fail(kPortNotFound,
                    QStringLiteral("the name %1 was not resolved within %2").arg(address_->host, timeout_text_));
    if (host.outcome == HostAddresses::Outcome::kNotFound)
        return fail(kPortNotFound, QStringLiteral("no host named %1").arg(address_->host));
    if (const auto r = lock(host.addresses); r != kOk) return r;
    if (const auto r = connect(host.addresses, deadline); r != kOk) return r;
    // Frames and acknowledgements are small; they must not wait for more to send.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!address_->rfc2217) return kOk;
    return negotiate(baud_rate, deadline);
}

std::int32_t NetworkLine::lock(const std::vector<QHostAddress>& addresses) {
    // Every address of the host: a name with several reaches the server by any of them.
    QStringList keys;
    for (const QHostAddress& address : addresses)
        if (const QString key = address_key(address, address_->port); !keys.contains(key)) keys << key;
    keys.sort();
    for (const QString& key : keys) {
        auto held = std::make_unique<ServerLock>();
        if (held->take(key) != ServerLock::Outcome::kTaken) return fail(kAccessDenied, held->why());
        locks_.push_back(std::move(held));
    }
    return kOk;
}

std::int32_t NetworkLine::connect(const std::vector<QHostAddress>& addresses, const QDeadlineTimer& deadline) {
    bool refused = false;
    for (const QHostAddress& address : addresses) {
        socket_.abort();
        socket_.connectToHost(address, address_->port);
        if (socket_.waitForConnected(remaining_ms(deadline))) return kOk;
        refused = refused || socket_.error() == QAbstractSocket::ConnectionRefusedError;
        if (deadline.hasExpired()) break;
    }
    if (deadline.hasExpired()) return fail(kPortNotFound, QStringLiteral("no answer within %1").arg(timeout_text_));
    return fail(kPortNotFound, refused ? QStringLiteral("connection refused")
                                       : QStringLiteral("cannot connect: %1").arg(socket_.errorString()));
}

std::int32_t NetworkLine::negotiate(std::int32_t baud_rate, const QDeadlineTimer& deadline) {
    // Data that comes before the remote line is set up cannot be the projector's at this
    // rate: it is dropped as it comes, so a server that floods instead of answering fills no
    // memory.
    auto silent = [&] {
        if (socket_.state() != QAbstractSocket::ConnectedState)
            return fail(kAccessDenied, QStringLiteral("the server closed the connection"));
        return fail(kAccessDenied,
                    QStringLiteral("no answer to COM port control within %1 (not an RFC 2217 server?)").arg(timeout_text_));
    };
    socket_.write(telnet::client_greeting());
    while (!negotiator_.com_port_agreed()) {
        // A server that refuses COM port control, or is no Telnet server at all, cannot set
        // the projector's line.
        if (negotiator_.com_port_refused())
            return fail(kAccessDenied, QStringLiteral("the server refuses COM port control (RFC 2217)"));
        if (!wait(deadline)) return silent();
        data_.clear();
    }
    socket_.write(telnet::line_settings(static_cast<std::uint32_t>(baud_rate)));
    baud_answer_.reset();
    while (!baud_answer_) {
        if (!wait(deadline)) return silent();
        data_.clear();
    }
    // A server that will not pass bytes as they are would turn frames into text.
    if (negotiator_.binary_refused())
        return fail(kAccessDenied, QStringLiteral("the server refuses binary transmission"));
    // The server answers with the rate the UART now runs at.
    if (*baud_answer_ != static_cast<std::uint32_t>(baud_rate))
        return fail(kInvalidParameter,
                    QStringLiteral("the server set %1 baud instead of %2").arg(*baud_answer_).arg(baud_rate));
    return kOk;
}

void NetworkLine::pump() {
    const QByteArray raw = socket_.readAll();
    if (raw.isEmpty()) return;
    if (!address_->rfc2217) {
        data_ += raw;
        return;
    }
    std::vector<telnet::Command> commands;
    decoder_.feed(raw, data_, commands);
    for (const telnet::Command& command : commands) {
        if (const QByteArray answer = negotiator_.answer(command); !answer.isEmpty()) socket_.write(answer);
        if (command.verb == telnet::kSb && command.option == telnet::kOptionComPort &&
            command.parameters.size() == 5 &&
            static_cast<std::uint8_t>(command.parameters[0]) == telnet::kServerOffset + telnet::kSetBaudRate) {
            std::uint32_t rate = 0;
            for (int i = 1; i < 5; ++i) rate = (rate << 8) | static_cast<std::uint8_t>(command.parameters[i]);
            baud_answer_ = rate;
        }
    }
}

bool NetworkLine::wait(const QDeadlineTimer& deadline) {
    while (true) {
        pump();
        if (socket_.state() != QAbstractSocket::ConnectedState) return false;
        if (deadline.hasExpired()) return false;
        if (socket_.waitForReadyRead(remaining_ms(deadline))) {
            pump();
            return true;
        }
    }
}

std::int32_t NetworkLine::write(const char* data, qsizetype size, const QDeadlineTimer& deadline) {
    if (socket_.state() != QAbstractSocket::ConnectedState) return kWriteFault;
    const QByteArray bytes(data, size);
    const QByteArray wire = address_->rfc2217 ? telnet::escape(bytes) : bytes;
    if (socket_.write(wire) != wire.size()) return kWriteFault;
    while (socket_.bytesToWrite() > 0) {
        if (deadline.hasExpired() || socket_.state() != QAbstractSocket::ConnectedState) return kWriteFault;
        socket_.waitForBytesWritten(remaining_ms(deadline));
    }
    return kOk;
}

std::int32_t NetworkLine::read(QByteArray& into, const QDeadlineTimer& deadline) {
    while (true) {
        pump();
        if (!data_.isEmpty()) {
            into += data_;
            data_.clear();
            return kOk;
        }
        // A connection that has gone is a pulled cable, not a silent device.
        if (socket_.state() != QAbstractSocket::ConnectedState) return kReadFault;
        if (deadline.hasExpired()) return kTimeout;
        socket_.waitForReadyRead(remaining_ms(deadline));
    }
}

void NetworkLine::discard_input() {
    // readAll sees only what the socket has taken in; what has arrived since waits in the
    // system until the socket looks. Take it in as well (commands in it are still answered),
    // for a short while at most, so that a server that never stops sending cannot hold us.
    const QDeadlineTimer bound(kDiscardBoundMs);
    pump();
    while (socket_.state() == QAbstractSocket::ConnectedState && !bound.hasExpired() &&
           socket_.waitForReadyRead(0))
        pump();
    data_.clear();
}

void NetworkLine::close() {
    if (socket_.state() != QAbstractSocket::UnconnectedState) {
        // Whatever is still queued goes out first, so the server sees the whole last frame.
        socket_.disconnectFromHost();
        if (socket_.state() != QAbstractSocket::UnconnectedState) socket_.waitForDisconnected(1000);
        socket_.abort();
    }
    locks_.clear();
}

}  // namespace halvern
