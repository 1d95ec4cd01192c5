#pragma once
// The application state: one instance for the whole run, shared by the windows and the
// Upload module. Everything runs on the user-interface thread.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>

namespace halvern {

inline const QString kAppTitle = QStringLiteral("Halvern!");

// The 256-byte block the device commands fill. Index 19 is the device status byte.
using DeviceReply = std::array<std::uint8_t, 256>;

enum DeviceStatus : std::uint8_t { kStandby = 0, kOn = 1, kCoolingDown = 2 };

// The device status byte: 0 standby, 1 on, 2 cooling down; after the upload-mode request,
// 1 means upload mode was entered.
constexpr std::size_t kDeviceStatusIndex = 19;
constexpr std::uint8_t device_status(const DeviceReply& reply) { return reply[kDeviceStatusIndex]; }
constexpr void set_device_status(DeviceReply& reply, std::uint8_t status) { reply[kDeviceStatusIndex] = status; }

struct AppState {
    QString working_directory;
    QString port_name;
    std::int32_t baud_rate = 0;
    std::int32_t serial_handle = 0;
    DeviceReply device_reply{};
    bool cooldown_canceled = false;
    // The emergency-mode flag is the check mark of the main window's menu item; windowless
    // callers (tests, the command-line uploader) keep it here and the window mirrors it.
    bool emergency_mode = false;

    void clear_device_reply() { device_reply.fill(0); }
    std::uint8_t device_status() const { return halvern::device_status(device_reply); }
};

}  // namespace halvern
