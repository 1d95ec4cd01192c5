#include "device/PortList.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <algorithm>
#include <map>

namespace halvern {

QString PortInfo::vendor_product() const {
    if (!vendor_id || !product_id) return {};
    return QStringLiteral("%1:%2").arg(*vendor_id, 4, 16, QLatin1Char('0')).arg(*product_id, 4, 16, QLatin1Char('0'));
}

QString PortInfo::summary() const {
    QStringList parts;
    for (const QString& part : {description, manufacturer})
        if (!part.trimmed().isEmpty() && !parts.contains(part.trimmed())) parts << part.trimmed();
    if (!serial_number.trimmed().isEmpty()) parts << QStringLiteral("serial %1").arg(serial_number.trimmed());
    if (const QString ids = vendor_product(); !ids.isEmpty()) parts << ids;
    if (name != device) parts << device;
    return parts.isEmpty() ? name : QStringLiteral("%1 (%2)").arg(name, parts.join(QStringLiteral(", ")));
}

std::vector<PortInfo> SystemPortList::ports() const {
    // Stable names: each link under /dev/serial/by-id/ and the device it leads to.
    std::map<QString, QString> by_id;
    const QDir links(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : links.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString target = link.canonicalFilePath();
        if (!target.isEmpty() && !by_id.count(target)) by_id[target] = link.absoluteFilePath();
    }

    std::vector<PortInfo> out;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        PortInfo port;
        port.device = info.systemLocation();
        const QString canonical = QFileInfo(port.device).canonicalFilePath();
        const auto link = by_id.find(canonical.isEmpty() ? port.device : canonical);
        port.name = link != by_id.end() ? link->second : port.device;
        port.description = info.description();
        port.manufacturer = info.manufacturer();
        port.serial_number = info.serialNumber();
        if (info.hasVendorIdentifier()) port.vendor_id = info.vendorIdentifier();
        if (info.hasProductIdentifier()) port.product_id = info.productIdentifier();
        out.push_back(port);
    }
    std::sort(out.begin(), out.end(), [](const PortInfo& a, const PortInfo& b) { return a.name < b.name; });
    return out;
}

}  // namespace halvern
