#include "halvern-upload/Fleet.h"

#include "app/DeviceSearch.h"
#include "device/SerialConnection.h"
#include "halvern-upload/ExitCode.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/GuardedLibrary.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/ProgressFormat.h"
#include "halvern-upload/TerminalReporter.h"
#include "upload/CoolDown.h"
#include "upload/UploadSession.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTime>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <signal.h>

namespace halvern::cli {

namespace {

// What a device call answers once the fleet was stopped before the projector left its
// normal operation (the operating system's "cancelled by the user").
constexpr std::int32_t kStoppedOnRequest = 1223;

const QString kConfirmStart = QStringLiteral("Are you sure you want to upload version ");
const QString kPowerOffQuestion =
    QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn device off?");
const QString kCoolDownText = QStringLiteral(
    "This projector needs time to cool down before it can start receiving the operating system from the pc.");

QString clock_now() { return QTime::currentTime().toString(QStringLiteral("HH:mm:ss")); }

QString answered(const QString& question, bool yes) {
    return box_line(question) + (yes ? QStringLiteral(" [y/N] y") : QStringLiteral(" [y/N] n"));
}

// One port of the fleet. Its thread writes, the main thread reads; everything but the
// atomics is guarded by the fleet's mutex.
struct Port {
    QString name;
    PortDevice device;

    PortRow row;
    std::vector<PortMessage> messages;
    bool settled = false;        // past the point where it could ask to be powered off
    bool asking = false;         // waits for the answer to the power-off question
    bool transferring = false;   // upload mode requested (or the emergency road opened)
    bool finished = false;
    bool reported = false;       // its report line is written
    PortOutcome outcome;
    std::atomic<bool> stop{false};
};

class Fleet {
public:
    Fleet(bool plain, bool ask_power_off) : plain_(plain), ask_power_off_(ask_power_off) {}

    std::mutex mutex;
    std::condition_variable changed;  // a port may go on: an answer or a stop request
    std::deque<QString> plain_lines;  // for standard error, without a terminal
    std::optional<bool> power_off_answer;

    // A box, question or status line of the port: kept for the report, printed without a
    // terminal, and a failure's first box shown in the table.
    void add(Port& port, PortMessage message) {
        std::lock_guard lock(mutex);
        if (plain_) plain_lines.push_back(plain_line(port.name, clock_now(), message.text));
        port.messages.push_back(std::move(message));
    }
    // A line of the plain output only (cool-down time, progress).
    void note(Port& port, const QString& text) {
        if (!plain_) return;
        std::lock_guard lock(mutex);
        plain_lines.push_back(plain_line(port.name, clock_now(), text));
    }
    template <typename Change>
    void update(Port& port, Change change) {
        std::lock_guard lock(mutex);
        change(port.row);
    }
    void set_phase(Port& port, Phase phase) {
        update(port, [&](PortRow& row) { row.phase = phase; });
    }
    void settle(Port& port) {
        std::lock_guard lock(mutex);
        port.settled = true;
    }
    void set_transferring(Port& port) {
        std::lock_guard lock(mutex);
        port.transferring = true;
    }

    // The power-off question of one port: answered for every port at once.
    bool power_off(Port& port) {
        if (!ask_power_off_) return true;  // --yes
        std::unique_lock lock(mutex);
        port.settled = true;
        port.asking = true;
        port.row.phase = Phase::Asking;
        changed.wait(lock, [&] { return power_off_answer.has_value() || port.stop.load(); });
        port.asking = false;
        port.row.phase = Phase::Preparing;
        return power_off_answer.value_or(false) && !port.stop.load();
    }

    // Waits ms milliseconds; true (at once) when the port is to stop.
    bool sleep(Port& port, int ms) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return port.stop.load(); });
    }

private:
    bool plain_;
    bool ask_power_off_;
};

// The device library of one port: every call goes to the port's own library. Once the fleet
// is stopped, nothing more that moves the projector is sent (its port is still closed); the
// first call after the first status query of the upload road shows that the port will not
// ask to be powered off.
class FleetLibrary : public DeviceLibrary {
public:
    FleetLibrary(GuardedLibrary& inner, Fleet& fleet, Port& port) : inner_(inner), fleet_(fleet), port_(port) {}

    // The upload road begins (the device search before it does not count).
    void begin_road() { road_ = true; }

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* name, std::int32_t baud,
                                    std::int32_t timeout_ms) override {
        if (refused()) return kStoppedOnRequest;
        passing();
        return inner_.init_port_timeouts(handle, name, baud, timeout_ms);
    }
    std::int32_t close_port(std::int32_t handle) override {
        passing();
        return inner_.close_port(handle);
    }
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override {
        if (refused()) return kStoppedOnRequest;
        passing();
        const std::int32_t result = inner_.query_upload_status(handle, reply);
        if (road_) first_status_ = true;
        return result;
    }
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override {
        if (refused()) return kStoppedOnRequest;
        passing();
        return inner_.request_standby_mode(handle, reply);
    }
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override {
        if (refused()) return kStoppedOnRequest;
        passing();
        fleet_.set_transferring(port_);
        return inner_.request_upload_mode(handle, reply);
    }
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override {
        if (refused()) return kStoppedOnRequest;
        return inner_.get_proj_info(handle, reply);
    }
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override {
        if (refused()) return 0;  // "not sent": the transfer ends through its own failure chain
        return inner_.send_data(handle, frame, out);
    }
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        return inner_.get_data(handle, buffer, out);
    }
    QString open_failure() const override { return inner_.open_failure(); }

private:
    bool refused() {
        if (!port_.stop.load()) return false;
        if (!told_) {
            told_ = true;
            fleet_.add(port_, {PortMessage::Box, 0, QStringLiteral("Stopped on request.")});
        }
        return true;
    }
    void passing() {
        if (first_status_ && !settled_) {
            settled_ = true;
            fleet_.settle(port_);
        }
    }

    GuardedLibrary& inner_;
    Fleet& fleet_;
    Port& port_;
    bool road_ = false;
    bool first_status_ = false;
    bool settled_ = false;
    bool told_ = false;
};

class FleetReporter : public Reporter {
public:
    FleetReporter(Fleet& fleet, Port& port) : fleet_(fleet), port_(port) {}

    void message_box(const QString& text, const QString&) override {
        fleet_.add(port_, {PortMessage::Box, 0, box_line(text)});
    }
    bool question(const QString& text, const QString&) override {
        // The confirmation was given for the whole fleet before any port started.
        bool yes = false;
        if (text.startsWith(kConfirmStart))
            yes = true;
        else if (text == kPowerOffQuestion)
            yes = fleet_.power_off(port_);
        fleet_.add(port_, {PortMessage::Question, 0, answered(text, yes)});
        return yes;
    }
    void show_status(int icon, const QString& text) override {
        last_status_ = StatusLine{icon, text};
        if (!text.isEmpty()) fleet_.add(port_, {PortMessage::Status, icon, box_line(text)});
    }
    // Ctrl-C is the main thread's; a stop reaches the port through its library.
    void yield() override {}
    // A wait of this port alone: asleep, and cut short when the fleet stops. It never reads
    // the Ctrl-C pipe, which is the main thread's.
    void pause(int ms) override { fleet_.sleep(port_, ms); }

    const std::optional<StatusLine>& last_status() const { return last_status_; }
    void forget_status() { last_status_.reset(); }

private:
    Fleet& fleet_;
    Port& port_;
    std::optional<StatusLine> last_status_;
};

// The progress window of one port: its row of the table, and a plain line every tenth.
class FleetProgress : public UploadView {
public:
    FleetProgress(Fleet& fleet, Port& port, const GuardedLibrary& library)
        : fleet_(fleet), port_(port), library_(library) {}

    void set_busy(bool) override {}
    void set_progress_maximum(float maximum) override {
        if (!loaded_) {
            loaded_ = true;
            value_ = 0.0f;
            bytes_at_start_ = library_.bytes_sent();
            clock_.start();
        }
        maximum_ = maximum;
        publish();
    }
    void show_progress() override { publish(); }
    float progress_maximum() const override { return maximum_; }
    float progress_value() const override { return value_; }
    void set_progress_value(float value) override {
        value_ = value;
        if (loaded_) publish();
    }
    void close_progress() override {
        if (!loaded_) return;
        loaded_ = false;
        maximum_ = 100.0f;
        value_ = 0.0f;
        fleet_.set_phase(port_, Phase::Closing);
    }

private:
    void publish() {
        const ProgressSample sample{value_, maximum_, library_.bytes_sent() - bytes_at_start_, clock_.elapsed()};
        const int percent = percent_done(sample);
        fleet_.update(port_, [&](PortRow& row) {
            row.phase = percent >= 100 ? Phase::Closing : Phase::Uploading;
            row.percent = percent;
            row.time_left = format_time_left(sample);
        });
        const int due = plain_line_due(printed_percent_, percent);
        if (due < 0) return;
        printed_percent_ = due;
        fleet_.note(port_, progress_plain_line(sample));
    }

    Fleet& fleet_;
    Port& port_;
    const GuardedLibrary& library_;
    bool loaded_ = false;
    float maximum_ = 100.0f;
    float value_ = 0.0f;
    int printed_percent_ = -1;
    std::int64_t bytes_at_start_ = 0;
    QElapsedTimer clock_;
};

class IdentityCapture : public DeviceSearchView {
public:
    bool found = false;
    QString model;
    QString version;
    void set_busy(bool) override {}
    void clear_identity() override {}
    void show_identity(const QString& m, const QString& v) override {
        found = true;
        model = m;
        version = v;
    }
    void list_versions() override {}
};

struct Road {
    const Options& options;
    const FleetJob& job;
    Environment& env;
    PortMap port_map;  // read once on the main thread: the user's store is not shared
};

// The whole road of one port, on its own thread.
void run_port(Fleet& fleet, Port& port, const Road& road) {
    QElapsedTimer clock;
    clock.start();
    const Options& options = road.options;
    // Everything of the port is made on its own thread and stays there.
    const std::unique_ptr<DeviceLibrary> device = road.env.make_library(road.port_map);
    GuardedLibrary guarded(*device);
    guarded.read_timeout_ms = options.read_timeout_ms;
    FleetLibrary library(guarded, fleet, port);
    FleetReporter reporter(fleet, port);
    FleetProgress view(fleet, port, guarded);

    AppState state;
    state.working_directory = road.job.release.working_directory;
    state.port_name = port.name;
    state.baud_rate = road.job.settings.baud_rate;
    state.emergency_mode = options.emergency;
    SerialConnection connection(library, state, reporter);

    auto finish = [&](int exit) {
        // After the status line of a port that would not open: its cause, where the library can tell.
        if (const QString why = library.open_failure(); exit == kExitPortNotOpened && !why.isEmpty())
            fleet.add(port, {PortMessage::Box, 0, QStringLiteral("halvern-upload: ") + why});
        std::lock_guard lock(fleet.mutex);
        PortOutcome& o = port.outcome;
        o.model = port.row.model;
        o.version = port.row.version;
        o.exit = exit;
        o.stopped = port.stop.load();
        o.messages = port.messages;
        o.seconds = static_cast<double>(clock.elapsed()) / 1000.0;
        if (exit == kExitOk) {
            port.row.phase = Phase::Done;
        } else {
            port.row.message = innermost_message(port.messages);
            const QString outcome = outcome_name(o);
            port.row.phase = outcome == QLatin1String("cancelled") ? Phase::Cancelled
                             : outcome == QLatin1String("declined") ? Phase::Declined
                                                                    : Phase::Failed;
        }
        port.settled = true;
        port.finished = true;
    };

    if (!options.emergency) {
        // "&Find Device" first, as the technician does in the window: the model and the
        // version before the upload, and a port or projector that does not answer is known
        // before the projector is switched off.
        fleet.set_phase(port, Phase::Identifying);
        IdentityCapture identity;
        run_device_search(connection, reporter, identity);
        if (!identity.found) {
            finish(query_exit_code(reporter.last_status()));
            return;
        }
        fleet.update(port, [&](PortRow& row) {
            row.model = identity.model;
            row.version = identity.version;
            row.phase = Phase::Preparing;
        });
    } else {
        fleet.settle(port);
        fleet.set_transferring(port);
        fleet.set_phase(port, Phase::Preparing);
    }

    UploadRequest request;
    request.selected_line = road.job.release.line;
    request.version_file = road.job.release.path;
    request.working_directory = road.job.release.working_directory;
    request.emergency = options.emergency;
    const int interval = options.poll_interval_ms.value_or(5000);
    request.wait_for_cool_down = [&] {
        CoolDownWait wait(library, state, reporter);
        auto show = [&] {
            const int seconds = remaining_seconds(state.device_reply);
            fleet.update(port, [&](PortRow& row) {
                row.phase = Phase::CoolingDown;
                row.cool_down_seconds = seconds;
            });
            const CoolDownDisplay& d = wait.display();
            fleet.note(port, QStringLiteral("Remaining Time: %1 min %2 s").arg(d.minutes, d.seconds));
        };
        fleet.update(port, [](PortRow& row) {
            row.phase = Phase::CoolingDown;
            row.cool_down_seconds = -1;
        });
        fleet.note(port, kCoolDownText);
        wait.load();
        if (wait.display().bar_visible) show();
        for (;;) {
            if (fleet.sleep(port, interval)) {
                wait.cancel();
                break;
            }
            const CoolDownWait::Tick tick = wait.tick();
            if (tick == CoolDownWait::Tick::Standby) break;
            if (tick == CoolDownWait::Tick::Cooling) show();
        }
        fleet.set_phase(port, Phase::Preparing);
    };
    // The driver's pause before the first message, without spinning.
    request.pause = [&] { reporter.pause(1000); };

    library.begin_road();
    reporter.forget_status();
    const bool uploaded = run_upload(connection, reporter, view, request);
    finish(upload_exit_code(uploaded, reporter.last_status()));
}

}  // namespace

int run_fleet(const Options& options, const FleetJob& job, Environment& env) {
    Console& console = env.console;
    const bool terminal = console.error_is_terminal();
    const Answers answers = answers_for(options.yes, console.input_is_terminal());

    std::unique_ptr<QFile> report;
    if (options.report) {
        report = std::make_unique<QFile>(*options.report);
        if (!report->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
            console.line(QStringLiteral("halvern-upload: cannot write the report %1: %2")
                             .arg(*options.report, report->errorString()));
            return kExitBadArguments;
        }
    }

    std::vector<std::unique_ptr<Port>> ports;
    for (const QString& name : job.ports) {
        auto port = std::make_unique<Port>();
        port->name = name;
        port->device = resolve_port_device(name, env.settings);
        port->row.port = name;
        PortOutcome& o = port->outcome;
        o.port = name;
        o.device = port->device.device;
        o.release = job.release.path;
        o.release_version = job.release.line.right(5);
        ports.push_back(std::move(port));
    }

    auto write_report = [&](Port& port) {
        if (!report || port.reported) return;
        port.reported = true;
        report->write(report_line(port.outcome) + '\n');
        report->flush();
    };
    auto summary = [&]() {
        std::vector<PortOutcome> outcomes;
        for (const auto& p : ports) outcomes.push_back(p->outcome);
        for (const QString& l : summary_lines(outcomes)) console.out(l);
        return fleet_exit_code(outcomes);
    };

    // The confirmation, once for the fleet (none on the emergency road, as for one port).
    TerminalReporter asker(console, answers, nullptr);
    if (!options.emergency) {
        const QString question = QStringLiteral("Upload version %1 to %2 projectors?")
                                     .arg(job.release.line.right(5))
                                     .arg(ports.size());
        if (!asker.question(question)) {
            for (const auto& p : ports) {
                p->outcome.exit = kExitDeclined;
                p->outcome.messages.push_back({PortMessage::Question, 0, answered(question, false)});
                write_report(*p);
            }
            return summary();
        }
    }

    Fleet fleet(!terminal, answers != Answers::Yes);
    const Road road{options, job, env, PortMap::read(env.settings)};
    std::vector<std::unique_ptr<QThread>> threads;
    interrupt::set_guarded(true);
    // Ctrl-C at a question of the fleet answers it No and then stops the fleet.
    console.set_interrupt_ends_answer(true);
    for (const auto& p : ports) {
        Port* port = p.get();
        threads.emplace_back(QThread::create([&fleet, port, &road] {
            // Ctrl-C is the main thread's: there it interrupts the reading of an answer.
            sigset_t interrupt_signal;
            sigemptyset(&interrupt_signal);
            sigaddset(&interrupt_signal, SIGINT);
            pthread_sigmask(SIG_BLOCK, &interrupt_signal, nullptr);
            run_port(fleet, *port, road);
        }));
        threads.back()->start();
    }

    TerminalReporter stopper(console, console.input_is_terminal() ? Answers::Terminal : Answers::No, nullptr);
    QStringList drawn;
    auto render = [&] {
        std::vector<PortRow> rows;
        std::deque<QString> lines;
        {
            std::lock_guard lock(fleet.mutex);
            for (const auto& p : ports) rows.push_back(p->row);
            lines.swap(fleet.plain_lines);
        }
        for (const QString& l : lines) console.line(l);
        if (!terminal) return;
        const QStringList table = table_lines(rows, console.columns());
        if (table != drawn) console.redraw_lines(table);
        drawn = table;
    };
    auto stop_all = [&] {
        std::lock_guard lock(fleet.mutex);
        for (const auto& p : ports) p->stop.store(true);
        if (!fleet.power_off_answer) fleet.power_off_answer = false;
        fleet.changed.notify_all();
    };

    for (;;) {
        int asking = 0;
        bool all_settled = true, all_finished = true, transferring = false;
        {
            std::lock_guard lock(fleet.mutex);
            for (const auto& p : ports) {
                asking += p->asking ? 1 : 0;
                all_settled = all_settled && (p->settled || p->finished);
                all_finished = all_finished && p->finished;
                transferring = transferring || (p->transferring && !p->finished);
                if (p->finished) write_report(*p);
            }
        }
        render();
        if (all_finished) break;
        if (asking > 0 && all_settled && !fleet.power_off_answer) {
            // Once every projector has told its power state: one question for all that are on.
            const QString question = asking == 1
                                         ? QStringLiteral("1 projector must be powered off to enter upload mode. Is it "
                                                          "ok to turn it off?")
                                         : QStringLiteral("%1 projectors must be powered off to enter upload mode. Is "
                                                          "it ok to turn them off?")
                                               .arg(asking);
            drawn.clear();
            const bool yes = asker.question(question);
            std::lock_guard lock(fleet.mutex);
            fleet.power_off_answer = yes;
            fleet.changed.notify_all();
            continue;
        }
        if (interrupt::wait(250)) {
            // Ctrl-C, once for the fleet: while any projector is in its transfer it asks
            // first; before that it stops every port at once (a cool-down wait is cancelled).
            drawn.clear();
            if (!transferring || stopper.question(kStopQuestion)) stop_all();
        }
    }
    for (const auto& t : threads) t->wait();
    console.set_interrupt_ends_answer(false);
    interrupt::set_guarded(false);
    interrupt::take();

    if (terminal) {
        // The table said only the innermost message: every chain that did not end in an upload.
        for (const auto& p : ports) {
            if (p->outcome.exit == kExitOk) continue;
            for (const PortMessage& m : p->outcome.messages) console.line(p->name + QStringLiteral(": ") + m.text);
        }
    }
    return summary();
}

}  // namespace halvern::cli
