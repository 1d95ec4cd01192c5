#pragma once
// The cool-down wait: a projector that has just gone to standby reports that it is cooling
// down; the wait polls it every five seconds until it reports standby or the user cancels.
// This is the window's logic without the window: frmCoolDown shows what it computes.

#include "common/AppState.h"
#include "device/DeviceLibrary.h"
#include "common/Reporter.h"

#include <QString>

#include <functional>

namespace halvern {

// The remaining time of indices 20 and 21: four packed BCD digits, high nibble of 20 first.
// A nibble above 9 contributes its two-digit decimal value (as the device's digits are read).
std::int32_t remaining_seconds(const DeviceReply& reply);

struct CoolDownDisplay {
    QString minutes;        // txtMinutes
    QString seconds;        // txtSeconds
    bool bar_visible = false;
    int bar_maximum = 100;  // design range 0 to 100
    int bar_value = 0;
    std::int32_t remaining = 0;  // seconds, as the device last said
};

// update_time: whole minutes and the remainder, without leading zeros; the remainder takes
// the sign of the time.
void update_time(CoolDownDisplay& display, std::int32_t seconds);

class CoolDownWait {
public:
    enum class Tick { Standby, Cooling, Failed };

    CoolDownWait(DeviceLibrary& library, AppState& state, Reporter& reporter);

    // Load: cooldown_canceled := false, then the first query (the block is not cleared).
    // A failed query shows "Unable to query device status." and leaves the display as it is.
    void load();
    // One tick of tmrCoolDown: clear the block, query; Standby means the window closes.
    Tick tick();
    // Cancel: cooldown_canceled := true (the window stops its timer and closes).
    void cancel();

    const CoolDownDisplay& display() const { return display_; }

private:
    DeviceLibrary& library_;
    AppState& state_;
    Reporter& reporter_;
    CoolDownDisplay display_;
};

// lblCoolDown: why the wait.
inline const QString kCoolDownExplanation = QStringLiteral(
    "This projector needs time to cool down before it can start receiving the operating system from the pc.");

// How a wait without a window is shown and cut short.
struct CoolDownFace {
    std::function<void()> begins;                       // before the first query
    std::function<void(const CoolDownDisplay&)> shown;  // after every reading of the remaining time
    std::function<bool(int ms)> sleep;                  // waits; true when the wait is to be cancelled
    std::function<void()> ends;                         // standby reached or cancelled
};

// The wait without a window, as tmrCoolDown runs it: load, then a tick every interval_ms until
// the device reports standby or the face cancels (which sets cooldown_canceled).
void wait_out_cool_down(CoolDownWait& wait, int interval_ms, const CoolDownFace& face);

}  // namespace halvern
