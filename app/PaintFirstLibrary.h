#pragma once
// The device library as the main window hands it to its commands: every call that can keep
// the window waiting (opening the port, the status, standby, upload-mode and identity
// requests) is preceded by a callback that brings the screen up to date, so that the status
// line, the emptied boxes and the hourglass are seen while the call blocks. The frame
// exchanges of a transfer pass straight through: the upload yields between blocks.

#include "device/DeviceLibrary.h"

#include <functional>
#include <utility>

class QWidget;

namespace halvern {

class PaintFirstLibrary : public DeviceLibrary {
public:
    PaintFirstLibrary(DeviceLibrary& inner, std::function<void()> before_blocking_call)
        : inner_(inner), before_(std::move(before_blocking_call)) {}

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t timeout_ms) override {
        before();
        const std::int32_t result = inner_.init_port_timeouts(handle, port_name, baud_rate, timeout_ms);
        open_failed_ = result != 0;
        return result;
    }
    // True once after an open that failed: the status line that follows says so, and may
    // carry the library's cause.
    bool take_open_failure() { return std::exchange(open_failed_, false); }
    std::int32_t close_port(std::int32_t handle) override { return inner_.close_port(handle); }
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override {
        before();
        return inner_.query_upload_status(handle, reply);
    }
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override {
        before();
        return inner_.request_standby_mode(handle, reply);
    }
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override {
        before();
        return inner_.request_upload_mode(handle, reply);
    }
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override {
        before();
        return inner_.get_proj_info(handle, reply);
    }
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override {
        return inner_.send_data(handle, frame, out);
    }
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        return inner_.get_data(handle, buffer, out);
    }
    std::int32_t read_timeout_ms(std::int32_t handle) const override { return inner_.read_timeout_ms(handle); }
    QString open_failure() const override { return inner_.open_failure(); }

private:
    bool open_failed_ = false;
    void before() {
        if (before_) before_();
    }
    DeviceLibrary& inner_;
    std::function<void()> before_;
};

// Paints window now, the parts a closed message box had covered included, and lets the
// window system take the pointer shape and the new pixels. User input stays queued, so no
// other command can start in between.
void paint_now(QWidget& window);

}  // namespace halvern
