#include "upload/StatusQuery.h"

#include "upload/MessageChain.h"

namespace halvern {

namespace {

Outcome query(SerialConnection& connection, MessageChain& chain) {
    AppState& state = connection.state();
    if (connection.open_serial_port(state.serial_handle, state.port_name, state.baud_rate, 5000) != 0)
        return chain.end(Outcome::PortNotOpened, QStringLiteral("Unable to communicate with serial port."));
    // The block is not cleared first: the device fills it.
    const std::int32_t r = connection.library().query_upload_status(state.serial_handle, state.device_reply);
    Outcome outcome = Outcome::StatusRead;
    if (r != 0) {
        outcome = chain.end(Outcome::NoStatus, QStringLiteral("Unable to query device status."));
    } else {
        switch (state.device_status()) {
        case kOn: chain.end(outcome, QStringLiteral("Device is on.")); break;
        case kCoolingDown: chain.end(outcome, QStringLiteral("Device is cooling down.")); break;
        case kStandby: chain.end(outcome, QStringLiteral("Device is in stand by mode.")); break;
        default:
            outcome = chain.end(Outcome::UnexpectedStatus,
                                QStringLiteral("Unexpected status code from device (2) ") + QString::number(r));
            break;
        }
    }
    connection.close_serial_port();
    return outcome;
}

}  // namespace

RoadResult query_device_status(SerialConnection& connection, Reporter& reporter) {
    MessageChain chain(reporter);
    return chain.result(query(connection, chain));
}

}  // namespace halvern
