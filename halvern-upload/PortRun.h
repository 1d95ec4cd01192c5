#pragma once
// What every command over one or more ports shares: the run's clocks, the identity a device
// search found, the messages a port showed, the cause of a port that did not open, and the
// thread of a port.

#include "halvern-upload/Commands.h"

#include "common/Outcome.h"
#include "common/Reporter.h"
#include "device/DeviceLibrary.h"
#include "upload/DeviceSearch.h"

#include <QElapsedTimer>
#include <QString>
#include <QThread>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace halvern::cli {

// The clocks of the run, the system's where the environment gives none.
class RunClock {
public:
    explicit RunClock(const Clock& clock) : clock_(clock) { monotonic_.start(); }
    // "HH:mm:ss"
    QString time_of_day() const;
    // Milliseconds from a fixed start; never runs backwards.
    std::int64_t milliseconds() const { return clock_.milliseconds ? clock_.milliseconds() : monotonic_.elapsed(); }

private:
    const Clock& clock_;
    QElapsedTimer monotonic_;
};

// The model and version a device search found, without a window to show them in.
class IdentityCapture : public DeviceSearchView {
public:
    QString model;
    QString version;
    void set_busy(bool) override {}
    void clear_identity() override {}
    void show_identity(const QString& m, const QString& v) override {
        model = m;
        version = v;
    }
    void list_versions() override {}
};

// The status lines without text (the search's green light) are no message; nor are, with
// with_questions false, the questions (which a fleet answers once for every port and keeps once).
std::vector<Message> shown_messages(const std::vector<Message>& chain, bool with_questions = true);

// After the status line of a port that did not open: one more box with the cause (not found,
// not a serial device, permission denied, in use), where the library can tell.
void say_why_not_opened(Outcome outcome, const DeviceLibrary& library, Reporter& reporter);

// Runs body on a thread of its own, started before return. The signals (Ctrl-C, SIGTERM,
// SIGHUP) stay the main thread's.
std::unique_ptr<QThread> start_port_thread(std::function<void()> body);

}  // namespace halvern::cli
