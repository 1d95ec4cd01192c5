#pragma once
// The serial connection: every device command opens the port at its start and closes it
// before control returns to the user. Every successful open mirrors the handle into setting
// "hndCom" of section "Startup", so that Reset Port can close a handle that an earlier run
// left open.

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/DeviceLibrary.h"
#include "common/Reporter.h"

#include <QString>

#include <cstdint>

namespace halvern {

class SerialConnection {
public:
    SerialConnection(DeviceLibrary& library, AppState& state, SettingsStore& settings, Reporter& reporter);
    // Without a settings store: the handle is not mirrored (a handle means nothing once the
    // process that opened it has ended, so a run that is not the desktop tool keeps it to
    // itself), and Reset Port closes nothing.
    SerialConnection(DeviceLibrary& library, AppState& state, Reporter& reporter);

    // Opens port_name through init_port_timeouts into handle (the caller passes
    // state.serial_handle). Returns the library's result unchanged: 0 means open. On 0 the
    // decimal text of the new handle is written to "hndCom"; on failure nothing is written.
    std::int32_t open_serial_port(std::int32_t& handle, const QString& port_name, std::int32_t baud_rate,
                                  std::int32_t timeout_ms);
    // close_port with state.serial_handle; a nonzero result r shows
    // "Error " r " closing serial port.". serial_handle and "hndCom" keep their values.
    void close_serial_port();
    // Reset Port: close_port with the stored "hndCom" (0 when absent); on 0 shows
    // "Serial port has been reset.", otherwise nothing. A stored value that is not a decimal
    // number closes nothing and shows nothing.
    void reset_port();

    DeviceLibrary& library() { return library_; }
    AppState& state() { return state_; }

private:
    DeviceLibrary& library_;
    AppState& state_;
    SettingsStore* settings_;
    Reporter& reporter_;
};

}  // namespace halvern
