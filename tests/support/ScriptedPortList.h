#pragma once
// The serial ports a test says the machine has, and how often they were read.

#include "device/PortList.h"

namespace halvern::test {

class ScriptedPortList : public PortList {
public:
    std::vector<PortInfo> found;
    mutable int reads = 0;
    std::vector<PortInfo> ports() const override {
        ++reads;
        return found;
    }
};

// A USB adapter with a stable name, and an on-board UART without USB ids.
inline PortInfo usb_adapter() {
    PortInfo p;
    p.name = QStringLiteral("/dev/serial/by-id/usb-Maker_USB_Serial_A10K3XZ-if00-port0");
    p.device = QStringLiteral("/dev/ttyUSB0");
    p.description = QStringLiteral("USB Serial");
    p.manufacturer = QStringLiteral("Maker");
    p.serial_number = QStringLiteral("A10K3XZ");
    p.vendor_id = 0x0403;
    p.product_id = 0x6001;
    return p;
}
inline PortInfo onboard_uart() {
    PortInfo p;
    p.name = p.device = QStringLiteral("/dev/ttyS0");
    return p;
}

}  // namespace halvern::test
