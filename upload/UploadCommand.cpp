#include "upload/UploadCommand.h"

#include <cstring>

namespace halvern {

UploadCommand::UploadCommand(SerialConnection& connection, Reporter& reporter, UploadView& view, UploadSteps steps)
    : connection_(connection),
      state_(connection.state()),
      library_(connection.library()),
      reporter_(reporter),
      view_(view),
      steps_(std::move(steps)) {}

void UploadCommand::run(const QString& selected_line, bool emergency) {
    VersionControlRecord record;
    std::memset(&record, 0, sizeof record);
    // Before the confirmation and before any port is opened, in both modes.
    if (steps_.check_release && !steps_.check_release()) {
        reporter_.show_status(3, kUnreadableRelease);
        return;
    }
    if (emergency)  // the projector cannot answer: straight to the transfer
        transfer(record);
    else
        run_normal(selected_line, record);
}

void UploadCommand::stop(int icon, const QString& text) {
    reporter_.show_status(icon, text);
    connection_.close_serial_port();
}

void UploadCommand::transfer(VersionControlRecord& record) {
    state_.clear_device_reply();
    if (connection_.open_serial_port(state_.serial_handle, state_.port_name, 38400, 30000) != 0) {
        reporter_.show_status(3, QStringLiteral("Unable to set baud rate to 38.4 kbps"));
        return;
    }
    const bool uploaded = steps_.upload_version(record);
    view_.close_progress();
    if (uploaded) {
        reporter_.show_status(1, kUploadSuccess);
        connection_.close_serial_port();
    } else {
        // A failed transfer never leaves an earlier success line standing.
        connection_.close_serial_port();
        reporter_.show_status(3, kUploadFailure);
    }
}

void UploadCommand::run_normal(const QString& selected_line, VersionControlRecord& record) {
    const QString version = selected_line.right(5);
    if (!reporter_.question(QStringLiteral("Are you sure you want to upload version ") + version +
                                QStringLiteral(" to the Orvelle device selected?"),
                            QStringLiteral("Confirm operating system upload")))
        return;

    if (connection_.open_serial_port(state_.serial_handle, state_.port_name, state_.baud_rate, 30000) != 0) {
        reporter_.show_status(3, QStringLiteral("Unable to connect to serial port."));
        return;
    }
    reporter_.show_status(1, QStringLiteral("Starting upload..."));

    state_.clear_device_reply();
    if (library_.query_upload_status(state_.serial_handle, state_.device_reply) != 0)
        return stop(3, QStringLiteral("Unable to get device status."));

    if (state_.device_reply[19] == kOn) {
        if (!reporter_.question(
                QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn device off?"))) {
            connection_.close_serial_port();
            return;
        }
        state_.clear_device_reply();
        if (library_.request_standby_mode(state_.serial_handle, state_.device_reply) != 0)
            return stop(3, QStringLiteral("Unable to turn device off."));
    }

    state_.clear_device_reply();
    library_.query_upload_status(state_.serial_handle, state_.device_reply);
    if (state_.device_reply[19] == kCoolingDown) {
        steps_.wait_for_cool_down();
        if (state_.cooldown_canceled) return stop(2, QStringLiteral("User canceled device cool down."));
    }

    state_.clear_device_reply();
    const std::int32_t r = library_.query_upload_status(state_.serial_handle, state_.device_reply);
    if (state_.device_reply[19] != kStandby)
        return stop(3, QStringLiteral("Unexpected status code from device. (1) ") + QString::number(r));

    state_.clear_device_reply();
    library_.request_upload_mode(state_.serial_handle, state_.device_reply);
    if (state_.device_reply[19] != 1) return stop(3, QStringLiteral("Unable to set device to upload mode."));

    if (!steps_.read_version_control_file(record))
        return stop(3, kUnreadableRelease);

    connection_.close_serial_port();
    transfer(record);
}

}  // namespace halvern
