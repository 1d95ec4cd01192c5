#pragma once
// The serial ports found on this machine, as a technician chooses among them: the name to
// open, what the system knows of the adapter behind it.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace halvern {

struct PortInfo {
    // The name to open: the stable link under /dev/serial/by-id/ where one leads to the
    // device, otherwise the device path.
    QString name;
    QString device;  // the device path itself, e.g. /dev/ttyUSB0
    QString description;
    QString manufacturer;
    QString serial_number;
    std::optional<std::uint16_t> vendor_id;
    std::optional<std::uint16_t> product_id;

    // "0403:6001" (hexadecimal, four digits each), or empty without USB ids.
    QString vendor_product() const;
    // One line for a list: the name, then whatever else is known, comma-separated.
    QString summary() const;
};

class PortList {
public:
    virtual ~PortList() = default;
    // Read afresh at every call, sorted by name.
    virtual std::vector<PortInfo> ports() const = 0;
};

// The ports of this machine (QSerialPortInfo and /dev/serial/by-id/).
class SystemPortList : public PortList {
public:
    std::vector<PortInfo> ports() const override;
};

}  // namespace halvern
