#include "halvern-upload/PortIdentity.h"

#include "halvern-upload/Arguments.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace halvern::cli {

PortDevice resolve_port_device(const QString& name, const SettingsStore& settings) {
    QString path = name;
    for (int n = 1; n <= 4; ++n) {
        const QString com = QStringLiteral("COM%1").arg(n);
        if (name.compare(com, Qt::CaseInsensitive) != 0) continue;
        path = settings.get(QStringLiteral("Ports"), com, QStringLiteral("/dev/ttyS%1").arg(n - 1)).trimmed();
    }
    if (path.contains(QStringLiteral("://"))) return {name, path, QStringLiteral("net:") + path.toLower()};

    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    const QString device = canonical.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : canonical;
    struct stat st {};
    if (::stat(device.toLocal8Bit().constData(), &st) == 0 && S_ISCHR(st.st_mode))
        return {name, device, QStringLiteral("char:%1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev))};
    return {name, device, QStringLiteral("path:") + device};
}

std::optional<QString> same_device_named_twice(const QStringList& names, const SettingsStore& settings) {
    std::vector<PortDevice> seen;
    for (const QString& name : names) {
        const PortDevice port = resolve_port_device(name, settings);
        for (const PortDevice& other : seen)
            if (other.identity == port.identity)
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
