#include "upload/StatusQuery.h"

namespace halvern {

void query_device_status(SerialConnection& connection, Reporter& reporter) {
    AppState& state = connection.state();
    if (connection.open_serial_port(state.serial_handle, state.port_name, state.baud_rate, 5000) != 0) {
        reporter.show_status(3, QStringLiteral("Unable to communicate with serial port."));
        return;
    }
    // The block is not cleared first: the device fills it.
    const std::int32_t r = connection.library().query_upload_status(state.serial_handle, state.device_reply);
    if (r != 0) {
        reporter.show_status(3, QStringLiteral("Unable to query device status."));
        connection.close_serial_port();
        return;
    }
    switch (state.device_reply[19]) {
    case kOn: reporter.show_status(1, QStringLiteral("Device is on.")); break;
    case kCoolingDown: reporter.show_status(1, QStringLiteral("Device is cooling down.")); break;
    case kStandby: reporter.show_status(1, QStringLiteral("Device is in stand by mode.")); break;
    default:
        reporter.show_status(3, QStringLiteral("Unexpected status code from device (2) ") + QString::number(r));
        break;
    }
    connection.close_serial_port();
}

}  // namespace halvern
