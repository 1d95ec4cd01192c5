#include "halvern-upload/PortIdentity.h"

#include "halvern-upload/Arguments.h"

#include <QFile>
#include <QFileInfo>

namespace halvern::cli {

namespace {
// How long the names of one command line may take to look up, all together.
constexpr int kLookupMs = 5000;
}  // namespace

PortDevice resolve_port_device(const QString& name, const PortMap& map) {
    PortIdentity identity = identify_port(resolve_port(name, map), QDeadlineTimer(kLookupMs));
    return {name, identity.device, identity};
}

std::optional<QString> same_device_named_twice(const QStringList& names, const PortMap& map) {
    const QDeadlineTimer deadline(kLookupMs);
    std::vector<PortDevice> seen;
    for (const QString& name : names) {
        const PortIdentity identity = identify_port(resolve_port(name, map), deadline);
        const PortDevice port{name, identity.device, identity};
        for (const PortDevice& other : seen)
            if (other.identity.same_port(port.identity))
                return QStringLiteral("%1 and %2 name the same device %3").arg(other.name, port.name, port.device);
        seen.push_back(port);
    }
    return std::nullopt;
}

std::optional<QStringList> read_ports_file(const QString& path, QString& error) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        error = QStringLiteral("cannot read the ports file %1").arg(path);
        return std::nullopt;
    }
    QStringList ports;
    int number = 0;
    while (!file.atEnd()) {
        ++number;
        QString line = QString::fromLocal8Bit(file.readLine());
        const qsizetype hash = line.indexOf(QLatin1Char('#'));
        if (hash >= 0) line.truncate(hash);
        line = line.trimmed();
        if (line.isEmpty()) continue;
        const std::optional<QString> port = parse_port_name(line);
        if (!port && is_network_name(line)) {
            error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(port_name_problem(line));
            return std::nullopt;
        }
        if (!port) {
            error = QStringLiteral("%1:%2: not a port (COM1 to COM4, a device path or a network address): %3").arg(path).arg(number).arg(line);
            return std::nullopt;
        }
        ports << *port;
    }
    if (ports.isEmpty()) {
        error = QStringLiteral("no port in %1").arg(path);
        return std::nullopt;
    }
    return ports;
}

}  // namespace halvern::cli
