#include "upload/UploadCommand.h"

#include <cstring>

namespace halvern {

UploadCommand::UploadCommand(SerialConnection& connection, MessageChain& chain, UploadView& view, UploadSteps steps)
    : connection_(connection),
      state_(connection.state()),
      library_(connection.library()),
      reporter_(chain),
      view_(view),
      steps_(std::move(steps)) {}

Outcome UploadCommand::run(const QString& selected_line, bool emergency) {
    VersionControlRecord record;
    std::memset(&record, 0, sizeof record);
    // Before the confirmation and before any port is opened, in both modes.
    if (steps_.check_release && !steps_.check_release()) return reporter_.end(Outcome::ReleaseRejected, kUnreadableRelease);
    if (emergency)  // the projector cannot answer: straight to the transfer
        return transfer(record);
    return run_normal(selected_line, record);
}

Outcome UploadCommand::stop(Outcome outcome, const QString& text) {
    reporter_.end(outcome, text);
    connection_.close_serial_port();
    return outcome;
}

Outcome UploadCommand::transfer(VersionControlRecord& record) {
    state_.clear_device_reply();
    if (connection_.open_serial_port(state_.serial_handle, state_.port_name, 38400, kLongestReadTimeoutMs) != 0)
        return reporter_.end(Outcome::PortNotOpened, QStringLiteral("Unable to set baud rate to 38.4 kbps"));
    const bool uploaded = steps_.upload_version(record);
    view_.close_progress();
    if (uploaded) return stop(Outcome::Uploaded, kUploadSuccess);
    // A failed transfer never leaves an earlier success line standing.
    connection_.close_serial_port();
    return reporter_.end(Outcome::TransferFailed, kUploadFailure);
}

Outcome UploadCommand::run_normal(const QString& selected_line, VersionControlRecord& record) {
    const QString version = selected_line.right(5);
    if (!reporter_.ask(Question::ConfirmUpload,
                       QStringLiteral("Are you sure you want to upload version ") + version +
                           QStringLiteral(" to the Orvelle device selected?"),
                       QStringLiteral("Confirm operating system upload")))
        return Outcome::Declined;

    if (connection_.open_serial_port(state_.serial_handle, state_.port_name, state_.baud_rate, kLongestReadTimeoutMs) != 0)
        return reporter_.end(Outcome::PortNotOpened, QStringLiteral("Unable to connect to serial port."));
    reporter_.show_status(1, QStringLiteral("Starting upload..."));

    state_.clear_device_reply();
    if (library_.query_upload_status(state_.serial_handle, state_.device_reply) != 0)
        return stop(Outcome::NoStatus, QStringLiteral("Unable to get device status."));

    if (state_.device_status() == kOn) {
        if (!reporter_.ask(Question::PowerOff,
                           QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn device off?"))) {
            connection_.close_serial_port();
            return Outcome::Declined;
        }
        state_.clear_device_reply();
        if (library_.request_standby_mode(state_.serial_handle, state_.device_reply) != 0)
            return stop(Outcome::StandbyRefused, QStringLiteral("Unable to turn device off."));
    }

    state_.clear_device_reply();
    library_.query_upload_status(state_.serial_handle, state_.device_reply);
    if (state_.device_status() == kCoolingDown) {
        steps_.wait_for_cool_down();
        if (state_.cooldown_canceled) return stop(Outcome::CoolDownCancelled, QStringLiteral("User canceled device cool down."));
    }

    state_.clear_device_reply();
    const std::int32_t r = library_.query_upload_status(state_.serial_handle, state_.device_reply);
    if (state_.device_status() != kStandby)
        return stop(Outcome::UnexpectedStatus, QStringLiteral("Unexpected status code from device. (1) ") + QString::number(r));

    state_.clear_device_reply();
    library_.request_upload_mode(state_.serial_handle, state_.device_reply);
    if (state_.device_status() != kOn)  // 1 after this request: upload mode entered
        return stop(Outcome::UploadModeRefused, QStringLiteral("Unable to set device to upload mode."));

    if (!steps_.read_version_control_file(record)) return stop(Outcome::ReleaseRejected, kUnreadableRelease);

    connection_.close_serial_port();
    return transfer(record);
}

}  // namespace halvern
