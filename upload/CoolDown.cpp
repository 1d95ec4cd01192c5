#include "upload/CoolDown.h"

#include <algorithm>

namespace halvern {

std::int32_t remaining_seconds(const DeviceReply& reply) {
    // Joining the nibbles' decimal texts: a nibble of 10 to 15 adds two digits.
    std::int64_t value = 0;
    for (const int nibble : {reply[20] >> 4, reply[20] & 0x0F, reply[21] >> 4, reply[21] & 0x0F})
        value = value * (nibble > 9 ? 100 : 10) + nibble;
    return static_cast<std::int32_t>(value);  // at most 15151515
}

void update_time(CoolDownDisplay& display, std::int32_t seconds) {
    display.minutes = QString::number(seconds / 60);
    display.seconds = QString::number(seconds % 60);
}

CoolDownWait::CoolDownWait(DeviceLibrary& library, AppState& state, Reporter& reporter)
    : library_(library), state_(state), reporter_(reporter) {}

void CoolDownWait::load() {
    state_.cooldown_canceled = false;
    if (library_.query_upload_status(state_.serial_handle, state_.device_reply) != 0) {
        reporter_.message_box(QStringLiteral("Unable to query device status."));
        return;
    }
    const std::int32_t r = remaining_seconds(state_.device_reply);
    // The bar measures the time elapsed since the window opened; an empty range (a first
    // reading of 0) would make it a busy indicator, so it keeps at least one step.
    display_.bar_maximum = std::max(r, 1);
    display_.bar_value = 0;
    update_time(display_, r);
    display_.remaining = r;
    display_.bar_visible = true;
}

CoolDownWait::Tick CoolDownWait::tick() {
    state_.clear_device_reply();
    if (library_.query_upload_status(state_.serial_handle, state_.device_reply) != 0) {
        reporter_.message_box(QStringLiteral("Error communicating with device."));
        return Tick::Failed;
    }
    if (state_.device_status() == kStandby) return Tick::Standby;
    const std::int32_t r = remaining_seconds(state_.device_reply);
    // A reading above the first one (the device restarted its cool-down) must not push the
    // bar below its minimum; the boxes still show what the device says.
    display_.bar_value = std::clamp(display_.bar_maximum - r, 0, display_.bar_maximum);
    update_time(display_, r);
    display_.remaining = r;
    return Tick::Cooling;
}

void CoolDownWait::cancel() { state_.cooldown_canceled = true; }

void wait_out_cool_down(CoolDownWait& wait, int interval_ms, const CoolDownFace& face) {
    face.begins();
    wait.load();
    if (wait.display().bar_visible) face.shown(wait.display());
    for (;;) {
        if (face.sleep(interval_ms)) {
            wait.cancel();
            break;
        }
        const CoolDownWait::Tick tick = wait.tick();
        if (tick == CoolDownWait::Tick::Standby) break;
        if (tick == CoolDownWait::Tick::Cooling) face.shown(wait.display());
        // Failed: its box is shown; the next tick tries again.
    }
    face.ends();
}

}  // namespace halvern
