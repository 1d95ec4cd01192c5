#pragma once
// The eight calls of the link library and the port library, as the system calls them. Every
// call takes the serial handle first and returns a signed 32-bit result. The real
// implementation talks to a projector over a serial port (SerialDeviceLibrary); tests use a
// scripted one.

#include "common/AppState.h"
#include "device/FrameFormat.h"

#include <cstdint>
#include <span>

namespace halvern {

// Results of the library other than 0. close_port of a handle the library does not hold
// gives kInvalidHandle; see docs/device-link.md for the whole list.
enum DeviceResult : std::int32_t {
    kOk = 0,
    kPortNotFound = 2,
    kAccessDenied = 5,
    kInvalidHandle = 6,
    kBadFrame = 13,
    kWriteFault = 29,
    kReadFault = 30,
    kInvalidParameter = 87,
    kTimeout = 1460,
};

// The longest read time-out a port is opened with (an upload's), in milliseconds.
inline constexpr std::int32_t kLongestReadTimeoutMs = 30000;

class DeviceLibrary {
public:
    virtual ~DeviceLibrary() = default;

    // Opens port_name ("COM1" to "COM4", or a device path) at baud_rate, 8 data bits, no
    // parity, one stop bit, no flow control, for exclusive use. timeout_ms bounds every read
    // on the handle. On 0 the new handle is written to handle.
    virtual std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                            std::int32_t timeout_ms) = 0;
    // Port library: closes the handle. A handle the library does not hold gives kInvalidHandle.
    virtual std::int32_t close_port(std::int32_t handle) = 0;

    virtual std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) = 0;
    virtual std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) = 0;
    virtual std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) = 0;
    virtual std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) = 0;

    // Writes one frame and waits until it has left. Nonzero: sent; 0: failure.
    virtual std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) = 0;
    // Reads exactly one frame into buffer from index 0 (buffer holds kReceiveBufferSize bytes).
    // 0: one frame received; anything else: no usable frame within the time-out. out is the
    // number of bytes written from index 0 (the frame's length), 0 when none; the frame layer
    // clears only those before its next read, and all of the buffer when out says nothing.
    virtual std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) = 0;

    // The read time-out the handle was opened with (the timeout_ms of its init_port_timeouts):
    // the longest one get_data on it waits. 0 when the library does not know the handle. A
    // library that passes calls on to another passes this one on too.
    virtual std::int32_t read_timeout_ms(std::int32_t /*handle*/) const { return 0; }

    // After an init_port_timeouts that failed: why, in one line a technician can act on
    // ("/dev/ttyUSB0: permission denied (the device belongs to group dialout)"); empty when
    // the library cannot tell.
    virtual QString open_failure() const { return QString(); }
};

}  // namespace halvern
