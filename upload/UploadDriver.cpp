#include "upload/UploadDriver.h"

namespace halvern {

void pause_one_second(Reporter& reporter) { reporter.pause(1000); }

UploadDriver::UploadDriver(UploadLink& link, Reporter& reporter, UploadView& view, std::function<void()> pause)
    : link_(link), reporter_(reporter), view_(view), pause_(std::move(pause)) {
    if (!pause_) pause_ = [this] { pause_one_second(reporter_); };
}

bool UploadDriver::upload_version(VersionControlRecord& record, const QString& version_file) {
    view_.set_busy(true);
    const bool result = run(record, version_file);
    view_.set_busy(false);
    return result;
}

bool UploadDriver::run(VersionControlRecord& record, const QString& version_file) {
    ProgressTotals totals;  // progress_total starts at 0
    pause_();

    if (!link_.initiate_upload_mode()) {
        reporter_.message_box(QStringLiteral("Error initiating upload mode of device."));
        return false;
    }
    if (!link_.frames().receive_message()) return false;

    // The result is not acted on: a message that did not go leaves no reply to receive.
    link_.send_version_control_file(version_file);
    if (!link_.frames().receive_message()) return false;
    link_.block_message_size = static_cast<std::int32_t>(get_big_endian(
        std::span<const std::uint8_t>(link_.frames().message_buffer()), 20, 4));

    if (!read_version_control_file(version_file, link_.working_directory, record, totals, reporter_)) return false;
    link_.progress_divisor = totals.progress_divisor;

    for (int i = 0; i < kFileEntries; ++i) {
        const QString name = record.files[i].name();
        if (name.isEmpty()) continue;
        view_.set_progress_maximum(static_cast<float>(totals.progress_total));
        view_.show_progress();
        for (int k = 0; k < 4; ++k) reporter_.yield();
        const QString file = name + QStringLiteral(".mot");
        if (!link_.upload_motorola_file(file, i, record)) {
            reporter_.message_box(QStringLiteral("Error uploading ") + file);
            return false;
        }
    }

    if (!link_.end_upload()) return false;
    if (!link_.reset_device_status()) {
        reporter_.message_box(QStringLiteral("Error resetting device status."));
        return false;
    }
    return true;
}

}  // namespace halvern
