#pragma once
// A scripted device library: records every call and every frame sent, and answers from
// queues the test fills. An empty queue gives the default answer (success, block untouched;
// for get_data: a time-out).

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/DeviceLibrary.h"
#include "device/SerialConnection.h"
#include "tests/support/RecordingReporter.h"

#include <QTemporaryDir>

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

namespace halvern::test {

class ScriptedDeviceLibrary : public DeviceLibrary {
public:
    using Frame = std::vector<std::uint8_t>;

    struct Step {
        std::int32_t result = kOk;
        std::function<void(DeviceReply&)> fill;  // may be empty
    };
    struct Read {
        std::int32_t result = kOk;
        Frame frame;
    };

    // The order of calls: "open COM1 38400 30000", "close 100", "query_upload_status",
    // "request_standby_mode", "request_upload_mode", "get_proj_info", "send_data", "get_data".
    std::vector<std::string> calls;

    std::deque<std::int32_t> open_results;   // default kOk
    std::int32_t next_handle = 100;
    std::deque<std::int32_t> close_results;  // default kOk
    std::deque<Step> status_steps, standby_steps, upload_mode_steps, info_steps;

    std::vector<Frame> sent_frames;
    std::deque<std::int32_t> send_results;   // default 1 (sent)
    std::deque<Read> reads;                  // default kTimeout
    bool reports_written = true;             // get_data's out-value: the bytes written
    // Called after each frame that was sent; may push reads (a peer that answers).
    std::function<void(ScriptedDeviceLibrary&, const Frame&)> on_send;

    // A clock for the reads, in milliseconds: a read that times out moves it on by the port's
    // read time-out (the one it was opened with), a frame that is read by read_ms.
    std::int64_t now_ms = 0;
    std::int32_t port_timeout_ms = 30000;
    std::int64_t read_ms = 0;

    int opens = 0;   // successful opens
    int closes = 0;  // close_port calls

    // also: called as the reply is filled (a Ctrl-C that comes with it, a file that goes).
    static Step status(std::uint8_t status_byte, std::int32_t result = kOk, int bcd20 = -1, int bcd21 = -1,
                       std::function<void()> also = {}) {
        return Step{result, [=](DeviceReply& r) {
                        r[19] = status_byte;
                        if (bcd20 >= 0) r[20] = static_cast<std::uint8_t>(bcd20);
                        if (bcd21 >= 0) r[21] = static_cast<std::uint8_t>(bcd21);
                        if (also) also();
                    }};
    }

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t timeout_ms) override {
        calls.push_back("open " + std::string(port_name) + " " + std::to_string(baud_rate) + " " +
                        std::to_string(timeout_ms));
        const std::int32_t r = pop(open_results, kOk);
        if (r == kOk) {
            handle = next_handle++;
            port_timeout_ms = timeout_ms;
            ++opens;
        }
        return r;
    }
    std::int32_t close_port(std::int32_t handle) override {
        calls.push_back("close " + std::to_string(handle));
        ++closes;
        return pop(close_results, kOk);
    }
    std::int32_t query_upload_status(std::int32_t, DeviceReply& reply) override {
        return run("query_upload_status", status_steps, reply);
    }
    std::int32_t request_standby_mode(std::int32_t, DeviceReply& reply) override {
        return run("request_standby_mode", standby_steps, reply);
    }
    std::int32_t request_upload_mode(std::int32_t, DeviceReply& reply) override {
        return run("request_upload_mode", upload_mode_steps, reply);
    }
    std::int32_t get_proj_info(std::int32_t, DeviceReply& reply) override {
        return run("get_proj_info", info_steps, reply);
    }
    std::int32_t send_data(std::int32_t, std::span<const std::uint8_t> frame, std::int32_t&) override {
        calls.push_back("send_data");
        const std::int32_t r = pop(send_results, 1);
        if (r != 0) {
            sent_frames.emplace_back(frame.begin(), frame.end());
            if (on_send) on_send(*this, sent_frames.back());
        }
        return r;
    }
    std::int32_t read_timeout_ms(std::int32_t) const override { return port_timeout_ms; }
    std::int32_t get_data(std::int32_t, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        calls.push_back("get_data");
        if (reads.empty()) {
            now_ms += port_timeout_ms;
            return kTimeout;
        }
        Read rd = std::move(reads.front());
        reads.pop_front();
        now_ms += rd.result == kTimeout ? port_timeout_ms : read_ms;
        if (rd.result == kOk) {
            const std::size_t n = std::min(rd.frame.size(), buffer.size());
            std::copy_n(rd.frame.begin(), n, buffer.begin());
            if (reports_written) out = static_cast<std::int32_t>(n);
        }
        return rd.result;
    }

private:
    template <typename T>
    static T pop(std::deque<T>& q, std::type_identity_t<T> fallback) {
        if (q.empty()) return fallback;
        T v = q.front();
        q.pop_front();
        return v;
    }
    std::int32_t run(const char* name, std::deque<Step>& q, DeviceReply& reply) {
        calls.emplace_back(name);
        if (q.empty()) return kOk;
        Step s = std::move(q.front());
        q.pop_front();
        if (s.fill) s.fill(reply);
        return s.result;
    }
};

// A serial connection on a scripted library, with its settings file in a directory of its own.
struct ConnectionRig {
    QTemporaryDir tmp;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    RecordingView view;
    SerialConnection connection{library, state, settings, reporter};
};

}  // namespace halvern::test
