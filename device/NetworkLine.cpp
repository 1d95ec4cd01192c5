// A network line runs on QTcpSocket's blocking waits, like the serial line on QSerialPort's:
// no event loop is needed.

#include "device/NetworkLine.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace halvern {

namespace {

int remaining_ms(const QDeadlineTimer& deadline) {
    return static_cast<int>(std::max<qint64>(1, deadline.remainingTime()));
}

// How long throwing input away may go on taking in what keeps arriving.
constexpr int kDiscardBoundMs = 50;

const QString kRfc2217Scheme = QStringLiteral("rfc2217");
const QString kTcpScheme = QStringLiteral("tcp");

}  // namespace

QString NetworkAddress::key() const { return QStringLiteral("%1:%2").arg(host).arg(port); }

bool is_network_name(const QString& name) {
    return name.startsWith(kRfc2217Scheme + QLatin1String("://"), Qt::CaseInsensitive) ||
           name.startsWith(kTcpScheme + QLatin1String("://"), Qt::CaseInsensitive);
}

std::optional<NetworkAddress> parse_network_name(const QString& name) {
    if (!is_network_name(name)) return std::nullopt;
    const QUrl url(name.trimmed(), QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty() || !url.userInfo().isEmpty() || url.hasQuery() ||
        url.hasFragment() || (!url.path().isEmpty() && url.path() != QLatin1String("/")))
        return std::nullopt;
    const int port = url.port(-1);
    if (port < 1 || port > 65535) return std::nullopt;
    NetworkAddress address;
    address.rfc2217 = url.scheme().compare(kRfc2217Scheme, Qt::CaseInsensitive) == 0;
    address.host = url.host().toLower();
    address.port = static_cast<quint16>(port);
    return address;
}

NetworkLine::NetworkLine(const QString& name) : name_(name), address_(parse_network_name(name)) {}

NetworkLine::~NetworkLine() { close(); }

QString NetworkLine::identity() const { return address_ ? address_->key() : name_; }

QString NetworkLine::lock_file(const QString& key) {
    QString safe = key;
    for (QChar& ch : safe)
        if (!ch.isLetterOrNumber() && ch != QLatin1Char('.') && ch != QLatin1Char('-')) ch = QLatin1Char('_');
    const QString file = QStringLiteral("halvern-net-%1.lock").arg(safe);
    QStringList dirs{QStringLiteral("/run/lock")};
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (!runtime.isEmpty()) dirs << runtime;
    dirs << QDir::tempPath();
    for (const QString& dir : dirs) {
        const QFileInfo info(dir);
        if (info.isDir() && info.isWritable()) return QDir(dir).filePath(file);
    }
    return QDir(QDir::tempPath()).filePath(file);
}

std::int32_t NetworkLine::lock() {
    // Read-only is enough for flock, and lets another user's run take the same file. A file
    // that is there already is opened without O_CREAT: in a sticky directory such as
    // /run/lock, the system refuses O_CREAT on another user's file (fs.protected_regular).
    const QByteArray path = QFile::encodeName(lock_file(address_->key()));
    lock_fd_ = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (lock_fd_ < 0 && errno == ENOENT) lock_fd_ = ::open(path.constData(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (lock_fd_ < 0) return kAccessDenied;
    if (::flock(lock_fd_, LOCK_EX | LOCK_NB) != 0) {
        ::close(lock_fd_);
        lock_fd_ = -1;
        return kAccessDenied;
    }
    return kOk;
}

std::int32_t NetworkLine::open(std::int32_t baud_rate, std::int32_t timeout_ms) {
    if (!address_) return kPortNotFound;
    if (baud_rate <= 0) return kInvalidParameter;
    if (const auto r = lock(); r != kOk) return r;
    const QDeadlineTimer deadline(std::max(timeout_ms, 1));

    socket_.connectToHost(address_->host, address_->port);
    if (!socket_.waitForConnected(remaining_ms(deadline))) {
        close();
        return kPortNotFound;
    }
    // Frames and acknowledgements are small; they must not wait for more to send.
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!address_->rfc2217) return kOk;

    const auto r = negotiate(baud_rate, deadline);
    if (r != kOk) close();
    return r;
}

std::int32_t NetworkLine::negotiate(std::int32_t baud_rate, const QDeadlineTimer& deadline) {
    // Data that comes before the remote line is set up cannot be the projector's at this
    // rate: it is dropped as it comes, so a server that floods instead of answering fills no
    // memory.
    socket_.write(telnet::client_greeting());
    while (!negotiator_.com_port_agreed()) {
        // A server that refuses COM port control, or is no Telnet server at all, cannot set
        // the projector's line.
        if (negotiator_.com_port_refused() || !wait(deadline)) return kAccessDenied;
        data_.clear();
    }
    socket_.write(telnet::line_settings(static_cast<std::uint32_t>(baud_rate)));
    baud_answer_.reset();
    while (!baud_answer_) {
        if (!wait(deadline)) return kAccessDenied;
        data_.clear();
    }
    // A server that will not pass bytes as they are would turn frames into text.
    if (negotiator_.binary_refused()) return kAccessDenied;
    // The server answers with the rate the UART now runs at.
    return *baud_answer_ == static_cast<std::uint32_t>(baud_rate) ? kOk : kInvalidParameter;
}

std::int32_t NetworkLine::set_baud_rate(std::int32_t baud_rate) {
    if (baud_rate <= 0) return kInvalidParameter;
    if (!address_ || !address_->rfc2217) return kOk;  // raw TCP cannot change the remote rate
    if (socket_.state() != QAbstractSocket::ConnectedState) return kInvalidParameter;
    socket_.write(telnet::set_baud_rate(static_cast<std::uint32_t>(baud_rate)));
    baud_answer_.reset();
    const QDeadlineTimer deadline(5000);
    while (!baud_answer_)
        if (!wait(deadline)) return kInvalidParameter;
    return *baud_answer_ == static_cast<std::uint32_t>(baud_rate) ? kOk : kInvalidParameter;
}

void NetworkLine::pump() {
    const QByteArray raw = socket_.readAll();
    if (raw.isEmpty()) return;
    if (!address_ || !address_->rfc2217) {
        data_ += raw;
        return;
    }
    std::vector<telnet::Command> commands;
    decoder_.feed(raw, data_, commands);
    for (const telnet::Command& command : commands) {
        if (const QByteArray answer = negotiator_.answer(command); !answer.isEmpty()) socket_.write(answer);
        if (command.verb == telnet::kSb && command.option == telnet::kOptionComPort &&
            !command.parameters.isEmpty() &&
            static_cast<std::uint8_t>(command.parameters[0]) == telnet::kServerOffset + telnet::kSetBaudRate &&
            command.parameters.size() == 5) {
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
    if (lock_fd_ >= 0) {
        ::close(lock_fd_);
        lock_fd_ = -1;
    }
}

}  // namespace halvern
