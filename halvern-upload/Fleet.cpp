#include "halvern-upload/Fleet.h"

#include "device/SerialConnection.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/GuardedLibrary.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/ProgressFormat.h"
#include "halvern-upload/ScratchStore.h"
#include "halvern-upload/TerminalReporter.h"
#include "upload/CoolDown.h"
#include "upload/DeviceSearch.h"
#include "upload/MessageChain.h"
#include "upload/UploadSession.h"

#include <QElapsedTimer>
#include <QThread>

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

QString remaining_line(const CoolDownDisplay& d) {
    return QStringLiteral("Remaining Time: %1 min %2 s").arg(d.minutes, d.seconds);
}

// The clocks of the run, the system's where the environment gives none.
struct RunClock {
    explicit RunClock(const Clock& clock) : clock_(clock) { monotonic_.start(); }
    QString time_of_day() const {
        const QTime t = clock_.time_of_day ? clock_.time_of_day() : QTime::currentTime();
        return t.toString(QStringLiteral("HH:mm:ss"));
    }
    std::int64_t milliseconds() const { return clock_.milliseconds ? clock_.milliseconds() : monotonic_.elapsed(); }

private:
    const Clock& clock_;
    QElapsedTimer monotonic_;
};

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

// The road of one port, the same for a single port and for every port of a fleet; what
// differs is how it is shown, asked and waited (the faces).
struct PortRoad {
    const Options& options;
    const FleetJob& job;
    QString port;
    DeviceLibrary& library;  // the port's own, guarded
    SettingsStore& store;    // the port's scratch store
    MessageChain& chain;     // over the face's reporter: what the port showed, in order
    UploadView& view;
    bool identify = false;   // "&Find Device" before the upload
    CoolDownFace cool_down;
    // Before the upload, with the model and version the search found (empty without a search).
    std::function<void(const QString& model, const QString& version)> before_upload = [](const QString&, const QString&) {};
};

struct PortResult {
    Outcome outcome = Outcome::Declined;
    QString model;
    QString version;
};

PortResult run_port(const PortRoad& road) {
    AppState state;
    state.working_directory = road.job.release.working_directory;
    state.port_name = road.port;
    state.baud_rate = road.job.settings.baud_rate;
    state.emergency_mode = road.options.emergency;
    SerialConnection connection(road.library, state, road.store, road.chain);

    PortResult result;
    auto ended = [&](Outcome outcome) {
        result.outcome = outcome;
        // After the status line of a port that would not open: its cause, where the library can tell.
        if (exit_status(outcome) == kExitPortNotOpened)
            if (const QString why = road.library.open_failure(); !why.isEmpty())
                road.chain.message_box(QStringLiteral("halvern-upload: ") + why);
        return result;
    };
    if (road.identify) {
        // "&Find Device" first, as the technician does in the window: the model and the
        // version before the upload, and a port or projector that does not answer is known
        // before the projector is switched off.
        IdentityCapture identity;
        const Outcome found = run_device_search(connection, road.chain, identity).outcome;
        if (found != Outcome::DeviceFound) return ended(found);
        result.model = identity.model;
        result.version = identity.version;
    }
    road.before_upload(result.model, result.version);

    UploadRequest request;
    request.selected_line = road.job.release.line;
    request.version_file = road.job.release.path;
    request.working_directory = road.job.release.working_directory;
    request.emergency = road.options.emergency;
    const int interval = road.options.poll_interval_ms.value_or(5000);
    request.wait_for_cool_down = [&] {
        CoolDownWait wait(road.library, state, road.chain);
        wait_out_cool_down(wait, interval, road.cool_down);
    };
    return ended(run_upload(connection, road.chain, road.view, request).outcome);
}

// What a port came to, as the summary and the report say it.
PortOutcome outcome_of(const QString& port, const FleetJob& job, const SettingsStore& settings) {
    PortOutcome o;
    o.port = port;
    o.device = resolve_port_device(port, settings).device;
    o.release = job.release.path;
    o.release_version = job.release.line.right(5);
    return o;
}

// The status lines without text (the search's green light) are no message.
std::vector<Message> shown_messages(const std::vector<Message>& chain) {
    std::vector<Message> shown;
    for (const Message& m : chain)
        if (m.kind != Message::Status || !m.text.isEmpty()) shown.push_back(m);
    return shown;
}

void write_report(Report* report, const PortOutcome& outcome) {
    if (report) report->add(report_line(outcome));
}

// One port on the main thread, in the single upload's form.
int run_single(const Options& options, const FleetJob& job, Environment& env) {
    Console& console = env.console;
    const RunClock clock(env.clock);
    const std::int64_t start = clock.milliseconds();
    ScratchStore scratch(env.settings);
    const std::unique_ptr<DeviceLibrary> device = env.make_library(scratch.store());
    GuardedLibrary library(*device);
    library.read_timeout_ms = options.read_timeout_ms;
    library.guard_from_open = options.emergency;
    TerminalReporter reporter(console, answers_for(options.yes, console.input_is_terminal()), &library);
    TerminalProgress view(console, library);
    MessageChain chain(reporter);

    PortRoad road{options, job, job.ports.first(), library, scratch.store(), chain, view};
    // The cool-down window without a window: the explanation, the remaining time at every
    // reading, a poll every interval, Ctrl-C for Cancel.
    bool guarded_before = false;
    road.cool_down.begins = [&] {
        guarded_before = interrupt::guarded();
        interrupt::set_guarded(true);
        interrupt::take();  // a Ctrl-C from before the wait is not a Cancel
        console.line(kCoolDownExplanation);
    };
    road.cool_down.shown = [&](const CoolDownDisplay& d) { console.line(remaining_line(d)); };
    road.cool_down.sleep = [](int ms) { return interrupt::wait(ms); };
    road.cool_down.ends = [&] { interrupt::set_guarded(guarded_before); };

    const PortResult result = run_port(road);
    interrupt::set_guarded(false);

    PortOutcome o = outcome_of(road.port, job, env.settings);
    o.outcome = result.outcome;
    o.messages = shown_messages(chain.messages);
    o.seconds = static_cast<double>(clock.milliseconds() - start) / 1000.0;
    write_report(job.report, o);
    return exit_status(result.outcome);
}

// One port of a fleet. Its thread writes, the main thread reads; everything but the
// atomics is guarded by the fleet's mutex.
struct Port {
    QString name;
    PortRow row;
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
    Fleet(bool plain, bool ask_power_off, const RunClock& clock)
        : plain_(plain), ask_power_off_(ask_power_off), clock_(clock) {}

    std::mutex mutex;
    std::condition_variable changed;  // a port may go on: an answer or a stop request
    std::deque<QString> plain_lines;  // for standard error, without a terminal
    std::optional<bool> power_off_answer;

    // A line of the port for the plain output (a message, the cool-down time, progress).
    void note(Port& port, const QString& text) {
        if (!plain_) return;
        std::lock_guard lock(mutex);
        plain_lines.push_back(plain_line(port.name, clock_.time_of_day(), text));
    }
    template <typename Change>
    void update(Port& port, Change change) {
        std::lock_guard lock(mutex);
        change(port);
    }
    void set_phase(Port& port, Phase phase) {
        update(port, [&](Port& p) { p.row.phase = phase; });
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
    const RunClock& clock_;
};

// The device library of one port: every call goes to the port's own library. Once the fleet
// is stopped, nothing more that moves the projector is sent (its port is still closed); the
// first call after the first status query of the upload road shows that the port will not
// ask to be powered off.
class FleetLibrary : public DeviceLibrary {
public:
    FleetLibrary(GuardedLibrary& inner, Fleet& fleet, Port& port) : inner_(inner), fleet_(fleet), port_(port) {}

    // Where "Stopped on request." is said.
    Reporter* reporter = nullptr;
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
        fleet_.update(port_, [](Port& p) { p.transferring = true; });
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
        if (!told_ && reporter) {
            told_ = true;
            reporter->message_box(QStringLiteral("Stopped on request."));
        }
        return true;
    }
    void passing() {
        if (first_status_ && !settled_) {
            settled_ = true;
            fleet_.update(port_, [](Port& p) { p.settled = true; });
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

// The port's boxes, questions and status lines as plain lines; the confirmation was given for
// the whole fleet before any port started, the power-off question is answered for all at once.
class FleetReporter : public Reporter {
public:
    FleetReporter(Fleet& fleet, Port& port) : fleet_(fleet), port_(port) {}

    void message_box(const QString& text, const QString&) override { fleet_.note(port_, message_line({Message::Box, text})); }
    bool question(const QString& text, const QString&) override { return answer(text, false); }
    bool ask(Question which, const QString& text, const QString&) override {
        return answer(text, which == Question::ConfirmUpload || fleet_.power_off(port_));
    }
    void show_status(int icon, const QString& text) override {
        if (!text.isEmpty()) fleet_.note(port_, message_line({Message::Status, text, icon}));
    }
    // Ctrl-C is the main thread's; a stop reaches the port through its library.
    void yield() override {}
    // A wait of this port alone: asleep, and cut short when the fleet stops. It never reads
    // the Ctrl-C pipe, which is the main thread's.
    void pause(int ms) override { fleet_.sleep(port_, ms); }

private:
    bool answer(const QString& text, bool yes) {
        fleet_.note(port_, message_line({Message::Question, text, 0, yes}));
        return yes;
    }
    Fleet& fleet_;
    Port& port_;
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
        fleet_.update(port_, [&](Port& p) {
            p.row.phase = percent >= 100 ? Phase::Closing : Phase::Uploading;
            p.row.percent = percent;
            p.row.time_left = format_time_left(sample);
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

Phase final_phase(const PortOutcome& o) {
    if (o.outcome == Outcome::Uploaded) return Phase::Done;
    if (o.stopped || o.outcome == Outcome::CoolDownCancelled) return Phase::Cancelled;
    if (o.outcome == Outcome::Declined) return Phase::Declined;
    return Phase::Failed;
}

// A port of the fleet, on its own thread: everything of it is made there and stays there.
void run_fleet_port(Fleet& fleet, Port& port, const Options& options, const FleetJob& job, Environment& env,
                    const PortMap& port_map, const RunClock& clock) {
    const std::int64_t start = clock.milliseconds();
    ScratchStore scratch(port_map);
    const std::unique_ptr<DeviceLibrary> device = env.make_library(scratch.store());
    GuardedLibrary guarded(*device);
    guarded.read_timeout_ms = options.read_timeout_ms;
    FleetLibrary library(guarded, fleet, port);
    FleetReporter reporter(fleet, port);
    FleetProgress view(fleet, port, guarded);
    MessageChain chain(reporter);
    library.reporter = &chain;

    PortRoad road{options, job, port.name, library, scratch.store(), chain, view, !options.emergency};
    road.before_upload = [&](const QString& model, const QString& version) {
        fleet.update(port, [&](Port& p) {
            p.row.model = model;
            p.row.version = version;
            p.row.phase = Phase::Preparing;
            if (options.emergency) p.settled = p.transferring = true;
        });
        library.begin_road();
    };
    road.cool_down.begins = [&] {
        fleet.update(port, [](Port& p) {
            p.row.phase = Phase::CoolingDown;
            p.row.cool_down_seconds = -1;
        });
        fleet.note(port, kCoolDownExplanation);
    };
    road.cool_down.shown = [&](const CoolDownDisplay& d) {
        fleet.update(port, [&](Port& p) { p.row.cool_down_seconds = d.remaining; });
        fleet.note(port, remaining_line(d));
    };
    road.cool_down.sleep = [&](int ms) { return fleet.sleep(port, ms); };
    road.cool_down.ends = [&] { fleet.set_phase(port, Phase::Preparing); };

    fleet.set_phase(port, options.emergency ? Phase::Preparing : Phase::Identifying);
    const PortResult result = run_port(road);

    std::lock_guard lock(fleet.mutex);
    PortOutcome& o = port.outcome;
    o.model = result.model;
    o.version = result.version;
    o.outcome = result.outcome;
    o.stopped = port.stop.load();
    o.messages = shown_messages(chain.messages);
    o.seconds = static_cast<double>(clock.milliseconds() - start) / 1000.0;
    port.row.message = o.outcome == Outcome::Uploaded ? QString() : innermost_message(o.messages);
    port.row.phase = final_phase(o);
    port.settled = true;
    port.finished = true;
}

}  // namespace

int run_fleet(const Options& options, const FleetJob& job, Environment& env) {
    if (job.ports.size() == 1) return run_single(options, job, env);

    Console& console = env.console;
    // A table redrawn in place where the terminal can move the cursor back; plain lines elsewhere.
    const bool terminal = console.can_redraw();
    const Answers answers = answers_for(options.yes, console.input_is_terminal());
    const RunClock clock(env.clock);

    std::vector<std::unique_ptr<Port>> ports;
    for (const QString& name : job.ports) {
        auto port = std::make_unique<Port>();
        port->name = name;
        port->row.port = name;
        port->outcome = outcome_of(name, job, env.settings);
        ports.push_back(std::move(port));
    }
    auto report = [&](Port& port) {
        if (port.reported) return;
        port.reported = true;
        write_report(job.report, port.outcome);
    };
    auto summary = [&]() {
        std::vector<PortOutcome> outcomes;
        for (const auto& p : ports) outcomes.push_back(p->outcome);
        // With the report on standard output the summary goes to standard error.
        const bool report_out = job.report && job.report->is_standard_output();
        for (const QString& l : summary_lines(outcomes)) report_out ? console.line(l) : console.out(l);
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
                p->outcome.outcome = Outcome::Declined;
                p->outcome.messages.push_back({Message::Question, question, 0, false});
                report(*p);
            }
            return summary();
        }
    }

    Fleet fleet(!terminal, answers != Answers::Yes, clock);
    const PortMap map = port_map(env.settings);  // read once on the main thread: the user's store is not shared
    std::vector<std::unique_ptr<QThread>> threads;
    interrupt::set_guarded(true);
    // Ctrl-C at a question of the fleet answers it No and then stops the fleet.
    console.set_interrupt_ends_answer(true);
    for (const auto& p : ports) {
        Port* port = p.get();
        threads.emplace_back(QThread::create([&, port] {
            // Ctrl-C is the main thread's: there it interrupts the reading of an answer.
            sigset_t interrupt_signal;
            sigemptyset(&interrupt_signal);
            sigaddset(&interrupt_signal, SIGINT);
            pthread_sigmask(SIG_BLOCK, &interrupt_signal, nullptr);
            run_fleet_port(fleet, *port, options, job, env, map, clock);
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
        const QStringList table = table_lines(rows, console.columns(), console.rows());
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
                if (p->finished) report(*p);
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
            if (p->outcome.outcome == Outcome::Uploaded) continue;
            for (const Message& m : p->outcome.messages) console.line(p->name + QStringLiteral(": ") + message_line(m));
        }
    }
    return summary();
}

}  // namespace halvern::cli
