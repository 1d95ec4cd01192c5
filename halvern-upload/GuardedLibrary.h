#pragma once
// The device library as halvern-upload uses it: every call goes to the real library, with
// four additions. The projector is guarded against Ctrl-C from the request for upload mode
// on (and from the first open in emergency mode); a confirmed stop makes every later
// send_data fail, so that the upload ends through its own failure chain; a stop before the
// projector leaves its normal operation refuses every call that would move it on; and the
// bytes written to the line are counted for the progress line.

#include "common/Reporter.h"
#include "device/DeviceLibrary.h"

#include <atomic>
#include <functional>
#include <optional>

namespace halvern::cli {

class GuardedLibrary : public DeviceLibrary {
public:
    explicit GuardedLibrary(DeviceLibrary& inner) : inner_(inner) {}

    // Every port opens with this read time-out instead of the caller's (tests).
    std::optional<std::int32_t> forced_read_timeout_ms;
    // Guard the projector from the first open on (the emergency road).
    bool guard_from_open = false;

    // The safe point: the projector is about to leave its normal operation (the request for
    // upload mode; the first open of the emergency road). It may wait; false keeps the
    // projector as it is, and the call and every later one but close_port are refused.
    std::function<bool()> enter_upload_mode = [] { return true; };
    // Asked before every call while the projector is in its normal operation: true refuses
    // the call and every later one but close_port (a stop on request).
    std::function<bool()> stop_before_upload_mode = [] { return false; };
    // Asked before every frame: true and the frame is not sent (a stop on request).
    std::function<bool()> stop_transfer = [] { return false; };
    // Where "Stopped on request." is said, once, when a call is first refused.
    Reporter* reporter = nullptr;
    // Told of every step the projector is asked to take and what it answered ("status query:
    // result 0, device status 2"): the port's log and -v. Nothing by default.
    std::function<void(const QString&)> trace;

    // From now on send_data fails without writing anything.
    void stop() { stopped_ = true; }
    bool stopped() const { return stopped_; }
    // A stop on request kept the projector out of upload mode.
    bool stopped_before_upload_mode() const { return refused_; }
    // The projector was put into upload mode (or the emergency road opened its port).
    bool in_upload_mode() const { return in_upload_mode_; }
    std::int64_t bytes_sent() const { return bytes_sent_; }

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t timeout_ms) override;
    std::int32_t close_port(std::int32_t handle) override { return traced("close port", inner_.close_port(handle)); }
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override {
        return traced("status query", refused() ? kStoppedOnRequest : inner_.query_upload_status(handle, reply), &reply);
    }
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override {
        return traced("standby request", refused() ? kStoppedOnRequest : inner_.request_standby_mode(handle, reply),
                      &reply);
    }
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override {
        return traced("identity query", refused() ? kStoppedOnRequest : inner_.get_proj_info(handle, reply));
    }
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override;
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        return inner_.get_data(handle, buffer, out);
    }
    QString open_failure() const override { return inner_.open_failure(); }
    std::int32_t read_timeout_ms(std::int32_t handle) const override { return inner_.read_timeout_ms(handle); }

    // What a refused call answers (the operating system's "cancelled by the user").
    static constexpr std::int32_t kStoppedOnRequest = 1223;

private:
    // Tells trace of the step and its result (with the device status byte of a reply); result back.
    std::int32_t traced(const char* step, std::int32_t result, const DeviceReply* reply = nullptr) const;
    // True (and said once) when the call is not to reach the projector.
    bool refused();
    void refuse();
    // At the safe point: true when the projector may leave its normal operation.
    bool passes_safe_point();

    DeviceLibrary& inner_;
    std::atomic<bool> stopped_{false};
    bool refused_ = false;
    bool in_upload_mode_ = false;
    std::int64_t bytes_sent_ = 0;
};

}  // namespace halvern::cli
