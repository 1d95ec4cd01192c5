#include "halvern-upload/GuardedLibrary.h"

#include "halvern-upload/Interrupt.h"

namespace halvern::cli {

void GuardedLibrary::refuse() {
    if (refused_) return;
    refused_ = true;
    if (reporter) reporter->message_box(QStringLiteral("Stopped on request."));
}

bool GuardedLibrary::refused() {
    if (in_upload_mode_) return false;
    if (stop_before_upload_mode()) refuse();
    return refused_;
}

bool GuardedLibrary::passes_safe_point() {
    if (in_upload_mode_) return true;
    if (refused()) return false;
    if (!enter_upload_mode()) {
        refuse();
        return false;
    }
    in_upload_mode_ = true;
    // From here on the projector leaves its normal operation; Ctrl-C asks before it stops.
    interrupt::set_guarded(true);
    return true;
}

std::int32_t GuardedLibrary::traced(const char* step, std::int32_t result, const DeviceReply* reply) const {
    if (!trace) return result;
    QString text = QStringLiteral("%1: result %2").arg(QLatin1String(step)).arg(result);
    if (reply && result == kOk) text += QStringLiteral(", device status %1").arg((*reply)[kDeviceStatusIndex]);
    trace(text);
    return result;
}

std::int32_t GuardedLibrary::init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                                std::int32_t timeout_ms) {
    const QString step = QStringLiteral("open %1 at %2 baud").arg(QLatin1String(port_name)).arg(baud_rate);
    if (guard_from_open ? !passes_safe_point() : refused()) return traced(qPrintable(step), kStoppedOnRequest);
    return traced(qPrintable(step), inner_.init_port_timeouts(handle, port_name, baud_rate,
                                                              forced_read_timeout_ms.value_or(timeout_ms)));
}

std::int32_t GuardedLibrary::request_upload_mode(std::int32_t handle, DeviceReply& reply) {
    if (!passes_safe_point()) return traced("upload mode request", kStoppedOnRequest);
    return traced("upload mode request", inner_.request_upload_mode(handle, reply), &reply);
}

std::int32_t GuardedLibrary::send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) {
    if (stopped_ || stop_transfer()) return 0;  // "not sent"
    const std::int32_t result = inner_.send_data(handle, frame, out);
    if (result != 0) bytes_sent_ += static_cast<std::int64_t>(frame.size());
    return result;
}

}  // namespace halvern::cli
