#pragma once
// The device library as halvern-upload uses it: every call goes to the real library, with
// three additions. The projector is guarded against Ctrl-C from the request for upload mode
// on (and from the first open in emergency mode); a confirmed stop makes every later
// send_data fail, so that the upload ends through its own failure chain; and the bytes
// written to the line are counted for the progress line.

#include "device/DeviceLibrary.h"

#include <optional>

namespace halvern::cli {

class GuardedLibrary : public DeviceLibrary {
public:
    explicit GuardedLibrary(DeviceLibrary& inner) : inner_(inner) {}

    // Every port opens with this read time-out instead of the caller's (tests).
    std::optional<std::int32_t> forced_read_timeout_ms;
    // Guard the projector from the first open on (the emergency road).
    bool guard_from_open = false;

    // From now on send_data fails without writing anything.
    void stop() { stopped_ = true; }
    bool stopped() const { return stopped_; }
    std::int64_t bytes_sent() const { return bytes_sent_; }

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t timeout_ms) override;
    std::int32_t close_port(std::int32_t handle) override { return inner_.close_port(handle); }
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override {
        return inner_.query_upload_status(handle, reply);
    }
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override {
        return inner_.request_standby_mode(handle, reply);
    }
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override;
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override {
        return inner_.get_proj_info(handle, reply);
    }
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override;
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        return inner_.get_data(handle, buffer, out);
    }
    QString open_failure() const override { return inner_.open_failure(); }
    std::int32_t read_timeout_ms(std::int32_t handle) const override { return inner_.read_timeout_ms(handle); }

private:
    DeviceLibrary& inner_;
    bool stopped_ = false;
    std::int64_t bytes_sent_ = 0;
};

}  // namespace halvern::cli
