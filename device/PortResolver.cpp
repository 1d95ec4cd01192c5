#include "device/PortResolver.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace halvern {

namespace {

const QString kPortsSection = QStringLiteral("Ports");
const QString kRfc2217Prefix = QStringLiteral("rfc2217://");
const QString kTcpPrefix = QStringLiteral("tcp://");

bool host_name_character(QChar ch) {
    return ch.isLetterOrNumber() || ch == QLatin1Char('-') || ch == QLatin1Char('.') || ch == QLatin1Char('_');
}

}  // namespace

int com_number(const QString& name) {
    for (int n = 1; n <= kComPortCount; ++n)
        if (name.compare(QStringLiteral("COM%1").arg(n), Qt::CaseInsensitive) == 0) return n;
    return 0;
}

QString default_com_device(int com) { return QStringLiteral("/dev/ttyS%1").arg(com - 1); }

PortMap PortMap::read(const SettingsStore& settings) {
    PortMap map;
    for (int n = 1; n <= kComPortCount; ++n)
        map.lines[n - 1] = settings.get(kPortsSection, QStringLiteral("COM%1").arg(n)).trimmed();
    return map;
}

QString PortMap::target(int com) const {
    const QString& line = lines.at(static_cast<std::size_t>(com - 1));
    return line.isEmpty() ? default_com_device(com) : line;
}

bool is_network_name(const QString& name) {
    return name.startsWith(kRfc2217Prefix, Qt::CaseInsensitive) || name.startsWith(kTcpPrefix, Qt::CaseInsensitive);
}

std::optional<NetworkAddress> parse_network_name(const QString& name, QString* error) {
    auto fail = [&](const QString& why) -> std::optional<NetworkAddress> {
        if (error) *error = why;
        return std::nullopt;
    };
    const QString text = name.trimmed();
    if (!is_network_name(text)) return fail(QStringLiteral("not rfc2217://HOST:PORT or tcp://HOST:PORT"));
    NetworkAddress address;
    address.rfc2217 = text.startsWith(kRfc2217Prefix, Qt::CaseInsensitive);
    QString rest = text.mid(address.rfc2217 ? kRfc2217Prefix.size() : kTcpPrefix.size());
    if (rest.endsWith(QLatin1Char('/'))) rest.chop(1);

    QString port;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) return fail(QStringLiteral("no ] after the IPv6 address"));
        address.host = rest.mid(1, close - 1).toLower();
        const QHostAddress literal(address.host);
        if (literal.isNull() || literal.protocol() != QAbstractSocket::IPv6Protocol)
            return fail(QStringLiteral("not an IPv6 address in brackets: %1").arg(rest.left(close + 1)));
        rest = rest.mid(close + 1);
        if (!rest.startsWith(QLatin1Char(':'))) return fail(QStringLiteral("no port (HOST:PORT)"));
        port = rest.mid(1);
    } else {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) return fail(rest.isEmpty() ? QStringLiteral("no host") : QStringLiteral("no port (HOST:PORT)"));
        address.host = rest.left(colon).toLower();
        port = rest.mid(colon + 1);
        if (address.host.isEmpty()) return fail(QStringLiteral("no host"));
        if (address.host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("an IPv6 address goes in brackets ([%1]:PORT)").arg(address.host));
        for (QChar ch : address.host)
            if (!host_name_character(ch)) return fail(QStringLiteral("not a host name: %1").arg(rest.left(colon)));
    }
    if (port.isEmpty()) return fail(QStringLiteral("no port (HOST:PORT)"));
    qsizetype digits = 0;
    while (digits < port.size() && port.at(digits).isDigit() && port.at(digits).unicode() < 128) ++digits;
    if (digits == 0) return fail(QStringLiteral("not a port number: %1").arg(port));
    if (digits < port.size()) return fail(QStringLiteral("nothing may follow the port: %1").arg(port.mid(digits)));
    const int number = digits > 5 ? 0 : port.toInt();
    if (number < 1 || number > 65535) return fail(QStringLiteral("port %1 is outside 1 to 65535").arg(port));
    address.port = static_cast<quint16>(number);
    return address;
}

QString port_name_problem(const QString& name) {
    if (com_number(name) != 0) return QString();
    if (is_network_name(name)) {
        QString why;
        if (!parse_network_name(name, &why)) return QStringLiteral("%1: %2").arg(name, why);
        return QString();
    }
    if (name.contains(QLatin1Char('/'))) return QString();
    return QStringLiteral("not a port (COM1 to COM4, a device path or a network address): %1").arg(name);
}

PortTarget resolve_port(const QString& name, const PortMap& map) {
    PortTarget target;
    target.name = name.trimmed();
    const int com = com_number(target.name);
    target.path = com != 0 ? map.target(com) : target.name;
    if (target.network()) target.address = parse_network_name(target.path, &target.error);
    return target;
}

HostLookup system_host_lookup() {
    return [](const QString& host) {
        std::vector<QHostAddress> found;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        if (::getaddrinfo(host.toUtf8().constData(), nullptr, &hints, &list) != 0) return found;
        for (const addrinfo* a = list; a; a = a->ai_next) {
            const QHostAddress address(a->ai_addr);
            if (!address.isNull() && std::find(found.begin(), found.end(), address) == found.end())
                found.push_back(address);
        }
        ::freeaddrinfo(list);
        return found;
    };
}

HostAddresses lookup_host(const QString& host, const QDeadlineTimer& deadline, const HostLookup& lookup) {
    using Outcome = HostAddresses::Outcome;
    if (const QHostAddress literal(host); !literal.isNull()) return {Outcome::kFound, {literal}};
    // The answer is shared with the lookup's thread, which may outlive this call.
    struct Answer {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<std::vector<QHostAddress>> addresses;
    };
    auto answer = std::make_shared<Answer>();
    std::thread([answer, lookup, host] {
        std::vector<QHostAddress> found = lookup(host);
        const std::lock_guard lock(answer->mutex);
        answer->addresses = std::move(found);
        answer->done.notify_all();
    }).detach();
    std::unique_lock lock(answer->mutex);
    const auto answered = [&] { return answer->addresses.has_value(); };
    if (deadline.isForever()) {
        answer->done.wait(lock, answered);
    } else {
        const auto until = std::chrono::steady_clock::now() + std::chrono::nanoseconds(deadline.remainingTimeNSecs());
        if (!answer->done.wait_until(lock, until, answered)) return {Outcome::kNoAnswer, {}};
    }
    if (answer->addresses->empty()) return {Outcome::kNotFound, {}};
    return {Outcome::kFound, *answer->addresses};
}

QString address_key(const QHostAddress& address, quint16 port) {
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    QHostAddress plain = mapped ? QHostAddress(v4) : address;
    plain.setScopeId(QString());
    if (plain.isLoopback() || plain == QHostAddress(QHostAddress::AnyIPv4) || plain == QHostAddress(QHostAddress::AnyIPv6))
        plain = QHostAddress(QHostAddress::LocalHost);
    return QStringLiteral("%1:%2").arg(plain.toString()).arg(port);
}

bool PortIdentity::same_port(const PortIdentity& other) const {
    for (const QString& key : keys)
        if (other.keys.contains(key)) return true;
    return false;
}

PortIdentity identify_port(const PortTarget& target, const QDeadlineTimer& deadline, const HostLookup& lookup) {
    PortIdentity identity;
    if (target.network()) {
        identity.device = target.path;
        if (!target.address) {
            identity.keys << QStringLiteral("net ") + target.path.toLower();
            return identity;
        }
        const HostAddresses found = lookup_host(target.address->host, deadline, lookup);
        for (const QHostAddress& address : found.addresses) {
            const QString key = QStringLiteral("net ") + address_key(address, target.address->port);
            if (!identity.keys.contains(key)) identity.keys << key;
        }
        if (identity.keys.isEmpty())
            identity.keys << QStringLiteral("net %1:%2").arg(target.address->host).arg(target.address->port);
        return identity;
    }
    const QFileInfo info(target.path);
    const QString canonical = info.canonicalFilePath();
    identity.device = canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    struct stat st {};
    if (::stat(identity.device.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode))
        identity.keys << QStringLiteral("char %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
    else
        identity.keys << QStringLiteral("path ") + identity.device;
    return identity;
}

}  // namespace halvern
