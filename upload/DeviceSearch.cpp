#include "upload/DeviceSearch.h"

#include "upload/MessageChain.h"

#include <cmath>

namespace halvern {

QString decode_model(const DeviceReply& reply) {
    QString model;
    for (int i = 19; i <= 34; ++i)
        if (reply[i] > 0) model += QChar::fromLatin1(static_cast<char>(reply[i]));
    return model.trimmed();
}

QString format_version(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || text.trimmed().isEmpty()) return text;
    const double rounded = std::round(std::fabs(value) * 100.0) / 100.0;
    QString digits = QString::number(rounded, 'f', 2);
    if (digits.indexOf(QLatin1Char('.')) < 2) digits.prepend(QLatin1Char('0'));
    return (value < 0 && rounded != 0.0 ? QStringLiteral("-") : QString()) + digits;
}

QString decode_version(const DeviceReply& reply) {
    QString version;
    for (int i = 35; i <= 38; ++i) version += QChar(static_cast<char16_t>(reply[i]));  // a 0 byte is kept
    return format_version(version.left(2) + QLatin1Char('.') + version.right(2));
}

namespace {

Outcome search(SerialConnection& connection, MessageChain& chain, DeviceSearchView& view) {
    AppState& state = connection.state();
    chain.show_status(1, QStringLiteral("Searching for devices..."));
    view.set_busy(true);
    view.clear_identity();
    if (connection.open_serial_port(state.serial_handle, state.port_name, state.baud_rate, 5000) != 0)
        return chain.end(Outcome::PortNotOpened, QStringLiteral("Unable to connect to serial port."));
    if (connection.library().get_proj_info(state.serial_handle, state.device_reply) != 0) {
        chain.end(Outcome::NoDevice, QStringLiteral("Unable to find any devices connect to this computer."));
        connection.close_serial_port();
        return Outcome::NoDevice;
    }
    view.show_identity(decode_model(state.device_reply), decode_version(state.device_reply));
    view.list_versions();
    chain.end(Outcome::DeviceFound, QString());
    connection.close_serial_port();
    return Outcome::DeviceFound;
}

}  // namespace

RoadResult run_device_search(SerialConnection& connection, Reporter& reporter, DeviceSearchView& view) {
    MessageChain chain(reporter);
    const Outcome outcome = search(connection, chain, view);
    view.set_busy(false);
    return chain.result(outcome);
}

}  // namespace halvern
