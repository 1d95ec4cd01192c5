#pragma once
// The system's own link and port library: the device commands and upload frames of
// docs/device-link.md on a line to the projector (device/Line.h). Handles are numbers from the library's
// own table, never operating-system descriptors.

#include "common/SettingsStore.h"
#include "device/DeviceLibrary.h"
#include "device/PortResolver.h"

#include <memory>

namespace halvern {

class SerialDeviceLibrary : public DeviceLibrary {
public:
    // Port names are resolved as device/PortResolver.h says. Here "COM1" to "COM4" reach
    // devices through section "Ports" of settings, read at every open; a default that is used
    // is written there, so that the technician finds the line to edit.
    explicit SerialDeviceLibrary(SettingsStore& settings);
    // The same with a port map of its own: nothing is read or written.
    explicit SerialDeviceLibrary(const PortMap& ports);
    ~SerialDeviceLibrary() override;

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t timeout_ms) override;
    std::int32_t close_port(std::int32_t handle) override;
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override;
    // Hands out only sound frames (device/FrameHunter.h): damaged ones and noise are passed
    // over within the same time-out.
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override;
    std::int32_t read_timeout_ms(std::int32_t handle) const override;
    QString open_failure() const override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

}  // namespace halvern
