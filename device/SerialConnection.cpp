#include "device/SerialConnection.h"

namespace halvern {

namespace {
const QString kHandleKey = QStringLiteral("hndCom");
}

SerialConnection::SerialConnection(DeviceLibrary& library, AppState& state, SettingsStore& settings,
                                   Reporter& reporter)
    : library_(library), state_(state), settings_(&settings), reporter_(reporter) {}

SerialConnection::SerialConnection(DeviceLibrary& library, AppState& state, Reporter& reporter)
    : library_(library), state_(state), settings_(nullptr), reporter_(reporter) {}

std::int32_t SerialConnection::open_serial_port(std::int32_t& handle, const QString& port_name,
                                                std::int32_t baud_rate, std::int32_t timeout_ms) {
    const QByteArray name = port_name.toLocal8Bit();
    const std::int32_t result = library_.init_port_timeouts(handle, name.constData(), baud_rate, timeout_ms);
    if (result == kOk && settings_) settings_->set_startup(kHandleKey, QString::number(handle));
    return result;
}

void SerialConnection::close_serial_port() {
    const std::int32_t result = library_.close_port(state_.serial_handle);
    if (result != kOk)
        reporter_.message_box(QStringLiteral("Error ") + QString::number(result) +
                              QStringLiteral(" closing serial port."));
}

void SerialConnection::reset_port() {
    // The program only ever writes decimal text here. A value that is not a decimal number
    // names no handle we know of, so nothing is closed rather than some guessed handle.
    // An absent or empty value counts as 0.
    if (!settings_) return;
    QString stored = settings_->startup(kHandleKey).trimmed();
    if (stored.isEmpty()) stored = QStringLiteral("0");
    const std::optional<std::int32_t> handle = parse_decimal(stored);
    if (!handle) return;
    if (library_.close_port(*handle) == kOk) reporter_.message_box(QStringLiteral("Serial port has been reset."));
}

}  // namespace halvern
