#include "halvern-upload/Fleet.h"

#include "device/SerialConnection.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/GuardedLibrary.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/PortLog.h"
#include "halvern-upload/PortRun.h"
#include "halvern-upload/ProgressFormat.h"
#include "halvern-upload/Restart.h"
#include "halvern-upload/TerminalReporter.h"
#include "upload/CoolDown.h"
#include "upload/DeviceSearch.h"
#include "upload/MessageChain.h"
#include "upload/UploadSession.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace halvern::cli {

namespace {

QString remaining_line(const CoolDownDisplay& d) {
    return QStringLiteral("Remaining Time: %1 min %2 s").arg(d.minutes, d.seconds);
}

// The road of one port, the same for a single port and for every port of a fleet; what
// differs is how it is shown, asked and waited (the faces).
struct PortRoad {
    const Options& options;
    const FleetJob& job;
    QString port;
    DeviceLibrary& library;  // the port's own, guarded
    MessageChain& chain;     // over the face's reporter: what the port showed, in order
    UploadView& view;
    bool identify = false;   // "&Find Device" before the upload (always with --skip-current)
    CoolDownFace cool_down;
    RestartFace restart;     // --verify: the wait for the projector to come back
    // Before the upload, with the model and version the search found (empty without a search).
    std::function<void(const QString& model, const QString& version)> before_upload = [](const QString&, const QString&) {};
    // The detail of the port's road (a frame sent again): its log and -v.
    std::function<void(const QString&)> detail = [](const QString&) {};
    // Once the upload command has ended, whatever it came to: the line is free for another.
    std::function<void()> after_upload = [] {};
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
    SerialConnection connection(road.library, state, road.chain);

    PortResult result;
    auto ended = [&](Outcome outcome) {
        result.outcome = outcome;
        say_why_not_opened(outcome, road.library, road.chain);
        return result;
    };
    const QString release_version = road.job.release.line.right(5);
    if (road.identify || road.options.skip_current) {
        // "&Find Device" first, as the technician does in the window: the model and the
        // version before the upload, and a port or projector that does not answer is known
        // before the projector is switched off.
        IdentityCapture identity;
        const Outcome found = run_device_search(connection, road.chain, identity).outcome;
        if (found != Outcome::DeviceFound) return ended(found);
        result.model = identity.model;
        result.version = identity.version;
    }
    // A projector already on the release is left as it is: never switched off, never put
    // into upload mode.
    if (road.options.skip_current && runs_release(result.version, release_version))
        return ended(road.chain.end(
            Outcome::Current, QStringLiteral("The projector already runs version %1; it was left as it was.").arg(result.version)));
    road.before_upload(result.model, result.version);

    UploadRequest request;
    request.selected_line = road.job.release.line;
    request.version_file = road.job.release.path;
    request.working_directory = road.job.release.working_directory;
    request.emergency = road.options.emergency;
    request.retried = [&](const QString& frame, int transmission) {
        road.detail(QStringLiteral("%1 sent again (transmission %2)").arg(frame).arg(transmission));
    };
    const int interval = road.options.poll_interval_ms.value_or(5000);
    request.wait_for_cool_down = [&] {
        CoolDownWait wait(road.library, state, road.chain);
        wait_out_cool_down(wait, interval, road.cool_down);
    };
    const Outcome uploaded = run_upload(connection, road.chain, road.view, request).outcome;
    road.after_upload();
    if (uploaded != Outcome::Uploaded || !road.options.verify_seconds) return ended(uploaded);
    return ended(verify_restart(connection, road.chain, release_version, *road.options.verify_seconds, interval,
                                road.restart));
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

void write_report(Report* report, const QByteArray& line) {
    if (report) report->add(line);
}
void write_report(Report* report, const PortOutcome& outcome) { write_report(report, report_line(outcome)); }

// A road cut short by a stop on request before the projector entered upload mode: the
// projector was left as it was, whatever the road came to on its way out.
Outcome stopped_or(Outcome outcome, bool cut, bool in_upload_mode) {
    return cut && !in_upload_mode && exit_status(outcome) != kExitOk ? Outcome::Stopped : outcome;
}

// One port on the main thread, in the single upload's form.
int run_single(const Options& options, const FleetJob& job, Environment& env) {
    Console& console = env.console;
    const RunClock clock(env.clock);
    const std::int64_t start = clock.milliseconds();
    const std::unique_ptr<DeviceLibrary> device = env.make_library(PortMap::read(env.settings));
    GuardedLibrary library(*device);
    library.forced_read_timeout_ms = options.read_timeout_ms;
    library.guard_from_open = options.emergency;
    // -q shows only questions and failures; -v adds every step and retry with its time; the
    // port's log gets everything.
    PortLog* log = job.logs ? job.logs->of(job.ports.first()) : nullptr;
    const bool quiet = options.verbosity == Options::Verbosity::Quiet;
    const auto logged = port_detail(log, nullptr);  // the log only
    const auto detail =
        port_detail(log, options.verbosity == Options::Verbosity::Verbose ? &console : nullptr, env.clock.time_of_day);
    library.trace = detail;
    TerminalReporter reporter(console, answers_for(options.yes, console.input_is_terminal()), &library);
    reporter.quiet = quiet;
    TracingReporter traced(reporter, logged);
    TerminalProgress view(console, library);
    view.quiet = quiet;
    view.trace = logged;
    MessageChain chain(traced);
    // A service stop (SIGTERM) keeps the projector out of upload mode; a second one stops the
    // transfer after its current frame.
    library.reporter = &chain;
    library.stop_before_upload_mode = [] { return interrupt::terminations() > 0; };
    library.stop_transfer = [] { return interrupt::terminations() > 1; };

    PortRoad road{options, job, job.ports.first(), library, chain, view};
    road.detail = detail;
    // The cool-down window without a window: the explanation, the remaining time at every
    // reading, a poll every interval, Ctrl-C for Cancel.
    bool guarded_before = false;
    auto cool_down_line = [&](const QString& text) {
        logged(text);
        if (!quiet) console.line(text);
    };
    road.cool_down.begins = [&] {
        guarded_before = interrupt::guarded();
        interrupt::set_guarded(true);
        interrupt::take();  // a Ctrl-C from before the wait is not a Cancel
        cool_down_line(kCoolDownExplanation);
    };
    road.cool_down.shown = [&](const CoolDownDisplay& d) { cool_down_line(remaining_line(d)); };
    road.cool_down.sleep = [](int ms) { return interrupt::wait(ms, true) || interrupt::terminations() > 0; };
    road.cool_down.ends = [&] { interrupt::set_guarded(guarded_before); };
    // The wait for the restart: Ctrl-C or SIGTERM ends it.
    road.restart.begins = [] {
        interrupt::set_guarded(true);
        interrupt::take();
    };
    road.restart.sleep = road.cool_down.sleep;

    const PortResult result = run_port(road);
    interrupt::set_guarded(false);

    PortOutcome o = outcome_of(road.port, job, env.settings);
    o.outcome = stopped_or(result.outcome, interrupt::terminations() > 0, library.in_upload_mode());
    // -q: the status line that says the upload succeeded is its summary; a failure has been
    // shown already.
    if (quiet && exit_status(o.outcome) == kExitOk) {
        const std::vector<Message> shown = shown_messages(chain.messages);
        if (!shown.empty() && shown.back().kind == Message::Status && shown.back().icon == 1)
            console.line(box_line(shown.back().text));
    }
    o.messages = shown_messages(chain.messages);
    o.seconds = static_cast<double>(clock.milliseconds() - start) / 1000.0;
    detail(QStringLiteral("outcome %1").arg(outcome_name(o)));
    write_report(job.report, o);
    return exit_status(o.outcome);
}

// One port of a fleet. Its thread writes, the main thread reads; everything is guarded by the
// fleet's mutex.
struct Port {
    QString name;
    PortRow row;
    bool settled = false;        // past the point where it could ask to be powered off
    bool asking = false;         // waits for the answer to the power-off question
    bool transferring = false;   // past the safe point: upload mode requested (or the emergency road opened)
    bool verifying = false;      // its transfer is over; waits for the projector to come back (--verify)
    bool holds_slot = false;     // counts against --jobs until its transfer ends
    bool cut = false;            // a stop on request ended its road before the safe point
    bool finished = false;
    bool reported = false;       // its report line is written
    PortOutcome outcome;
    PortLog* log = nullptr;      // --log-dir
};

// What a line of a fleet's port is, for -q and -v: a failure (a box, a status line that is
// not green) is always shown, the ordinary lines (progress, cool-down, green status lines)
// not with -q, the detail (phase changes, device steps, retries) only with -v. The port's
// log gets them all.
enum class Shown { Failure, Ordinary, Detail };

// How far a stop on request goes: none; the safe stop (no projector passes the safe point
// any more, and those before it end their road); and the whole stop (the transfers under way
// too, after their current frame).
enum StopLevel { kGoOn = 0, kSafeStop = 1, kStopAll = 2 };

class Fleet {
public:
    // max_transfers: at most that many ports past the safe point and not yet through their
    // transfer (0: no limit).
    Fleet(bool plain, bool ask_power_off, int max_transfers, const RunClock& clock, Options::Verbosity verbosity)
        : plain_(plain), ask_power_off_(ask_power_off), max_transfers_(max_transfers), clock_(clock),
          shown_(verbosity == Options::Verbosity::Quiet     ? Shown::Failure
                 : verbosity == Options::Verbosity::Verbose ? Shown::Detail
                                                            : Shown::Ordinary) {}

    std::mutex mutex;
    std::condition_variable changed;  // a port may go on: an answer, a closed question or a stop
    std::deque<QString> plain_lines;  // for standard error, without a terminal
    std::optional<bool> power_off_answer;
    bool question_open = false;       // while a question of the fleet waits, no port passes the safe point
    std::atomic<int> ended{0};        // ports that have finished their road
    std::atomic<int> stop_level{kGoOn};

    // A line of the port for the plain output (a message, the cool-down time, progress).
    void note(Port& port, const QString& text, Shown shown = Shown::Ordinary) {
        std::lock_guard lock(mutex);
        note_locked(port, text, shown);
    }
    template <typename Change>
    void update(Port& port, Change change) {
        std::lock_guard lock(mutex);
        const Phase before = port.row.phase;
        change(port);
        if (port.row.phase != before) note_locked(port, phase_text(port.row), Shown::Detail);
    }
    void set_phase(Port& port, Phase phase) {
        update(port, [&](Port& p) { p.row.phase = phase; });
    }
    // With the mutex held: a phase change is a line of the port (-v, its log).
    void set_phase_locked(Port& port, Phase phase) {
        if (port.row.phase == phase) return;
        port.row.phase = phase;
        note_locked(port, phase_text(port.row), Shown::Detail);
    }
    // Raises the stop (never lowers it) and lets every waiting port see it.
    void stop(StopLevel level) {
        std::lock_guard lock(mutex);
        if (stop_level.load() < level) stop_level.store(level);
        changed.notify_all();
    }
    // Whether the port is to end its road now (called with the mutex held or not: the level
    // only rises and transferring and verifying are the port's own). The wait for a restart
    // ends with the safe stop: there is no transfer left to finish.
    bool stopping(const Port& port) const {
        const int level = stop_level.load();
        return level >= kStopAll || (level >= kSafeStop && (!port.transferring || port.verifying));
    }

    // The power-off question of one port: answered for every port at once.
    bool power_off(Port& port) {
        if (!ask_power_off_) return true;  // --yes
        std::unique_lock lock(mutex);
        port.settled = true;
        port.asking = true;
        ++asking_;
        set_phase_locked(port, Phase::Asking);
        changed.wait(lock, [&] { return power_off_answer.has_value() || stopping(port); });
        port.asking = false;
        --asking_;
        set_phase_locked(port, Phase::Preparing);
        port.cut = port.cut || stopping(port);
        return power_off_answer.value_or(false) && !stopping(port);
    }

    // The safe point: a projector is safe until it is put into upload mode. While a question of
    // the fleet is open it waits here (those cooling down cool on and then wait), and while
    // every transfer slot is taken it is queued here; a stop keeps it out. True: it goes on
    // into upload mode, holding a slot until end_transfer.
    bool enter_upload_mode(Port& port) {
        std::unique_lock lock(mutex);
        bool held = false, queued = false;
        for (;;) {
            if (stopping(port)) return false;
            if (question_waits()) {
                if (!held) note_locked(port, QStringLiteral("Held before upload mode until the question is answered."));
                held = true;
                set_phase_locked(port, Phase::Asking);
            } else if (max_transfers_ > 0 && transfers_ >= max_transfers_) {
                if (!queued) note_locked(port, QStringLiteral("Queued before upload mode until a transfer ends."));
                queued = true;
                set_phase_locked(port, Phase::Queued);
            } else {
                break;
            }
            changed.wait(lock);
        }
        if (held || queued) set_phase_locked(port, Phase::Preparing);
        port.transferring = true;
        port.holds_slot = true;
        ++transfers_;
        return true;
    }
    // The port's transfer has ended (or its road did): its slot goes to a queued port.
    void end_transfer(Port& port) {
        std::lock_guard lock(mutex);
        end_transfer_locked(port);
    }
    void end_transfer_locked(Port& port) {
        if (!port.holds_slot) return;
        port.holds_slot = false;
        --transfers_;
        changed.notify_all();
    }

    // The port's transfer is over and confirmed; it waits for the projector to restart, outside
    // the transfer: from now on the safe stop ends the wait.
    void begin_verifying(Port& port) {
        std::lock_guard lock(mutex);
        port.verifying = true;
        set_phase_locked(port, Phase::Verifying);
        changed.notify_all();
    }

    // Waits ms milliseconds; true (at once) when the port is to stop.
    bool sleep(Port& port, int ms) {
        std::unique_lock lock(mutex);
        const bool stop = changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping(port); });
        port.cut = port.cut || stop;
        return stop;
    }

private:
    // A question of the fleet is open, or a port waits for the power-off question to be asked.
    bool question_waits() const { return question_open || (asking_ > 0 && !power_off_answer); }
    void note_locked(Port& port, const QString& text, Shown shown = Shown::Ordinary) {
        if (port.log) port.log->line(text);
        if (plain_ && shown <= shown_) plain_lines.push_back(plain_line(port.name, clock_.time_of_day(), text));
    }

    bool plain_;
    bool ask_power_off_;
    int max_transfers_;
    const RunClock& clock_;
    Shown shown_;
    int asking_ = 0;
    int transfers_ = 0;  // ports holding a transfer slot
};

// The device library of one port: every call goes to the port's own library. The first call
// after the first status query of the upload road shows that the port will not ask to be
// powered off.
class FleetLibrary : public DeviceLibrary {
public:
    FleetLibrary(GuardedLibrary& inner, Fleet& fleet, Port& port) : inner_(inner), fleet_(fleet), port_(port) {}

    // The upload road begins (the device search before it does not count).
    void begin_road() { road_ = true; }

    std::int32_t init_port_timeouts(std::int32_t& handle, const char* name, std::int32_t baud,
                                    std::int32_t timeout_ms) override {
        passing();
        return inner_.init_port_timeouts(handle, name, baud, timeout_ms);
    }
    std::int32_t close_port(std::int32_t handle) override {
        passing();
        return inner_.close_port(handle);
    }
    std::int32_t query_upload_status(std::int32_t handle, DeviceReply& reply) override {
        passing();
        const std::int32_t result = inner_.query_upload_status(handle, reply);
        if (road_) first_status_ = true;
        return result;
    }
    std::int32_t request_standby_mode(std::int32_t handle, DeviceReply& reply) override {
        passing();
        return inner_.request_standby_mode(handle, reply);
    }
    std::int32_t request_upload_mode(std::int32_t handle, DeviceReply& reply) override {
        passing();
        return inner_.request_upload_mode(handle, reply);
    }
    std::int32_t get_proj_info(std::int32_t handle, DeviceReply& reply) override {
        return inner_.get_proj_info(handle, reply);
    }
    std::int32_t send_data(std::int32_t handle, std::span<const std::uint8_t> frame, std::int32_t& out) override {
        return inner_.send_data(handle, frame, out);
    }
    std::int32_t get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        return inner_.get_data(handle, buffer, out);
    }
    QString open_failure() const override { return inner_.open_failure(); }
    std::int32_t read_timeout_ms(std::int32_t handle) const override { return inner_.read_timeout_ms(handle); }

private:
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
};

// The port's boxes and status lines as plain lines. The road's questions are the fleet's: the
// confirmation was given for the whole fleet before any port started, the power-off question
// is answered for all at once; the fleet shows and keeps them, once.
class FleetReporter : public Reporter {
public:
    FleetReporter(Fleet& fleet, Port& port) : fleet_(fleet), port_(port) {}

    void message_box(const QString& text, const QString&) override {
        fleet_.note(port_, message_line({Message::Box, text}), Shown::Failure);
    }
    bool question(const QString&, const QString&) override { return false; }
    bool ask(Question which, const QString&, const QString&) override {
        if (which == Question::ConfirmUpload) return true;
        const bool yes = fleet_.power_off(port_);
        fleet_.note(port_, QStringLiteral("The fleet's power-off question was answered %1.").arg(yes ? "Yes" : "No"),
                    Shown::Detail);
        return yes;
    }
    void show_status(int icon, const QString& text) override {
        if (!text.isEmpty())
            fleet_.note(port_, message_line({Message::Status, text, icon}), icon == 1 ? Shown::Ordinary : Shown::Failure);
    }
    // Ctrl-C is the main thread's; a stop reaches the port through its library.
    void yield() override {}
    // A wait of this port alone: asleep, and cut short when the fleet stops. It never reads
    // the Ctrl-C pipe, which is the main thread's.
    void pause(int ms) override { fleet_.sleep(port_, ms); }

private:
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
    if (exit_status(o.outcome) == kExitOk) return Phase::Done;
    if (o.stopped || o.outcome == Outcome::CoolDownCancelled) return Phase::Cancelled;
    if (o.outcome == Outcome::Declined) return Phase::Declined;
    return Phase::Failed;
}

// A port of the fleet, on its own thread: everything of it is made there and stays there.
void run_fleet_port(Fleet& fleet, Port& port, const Options& options, const FleetJob& job, Environment& env,
                    const PortMap& port_map, const RunClock& clock) {
    const std::int64_t start = clock.milliseconds();
    const std::unique_ptr<DeviceLibrary> device = env.make_library(port_map);
    GuardedLibrary guarded(*device);
    guarded.forced_read_timeout_ms = options.read_timeout_ms;
    guarded.guard_from_open = options.emergency;
    FleetLibrary library(guarded, fleet, port);
    FleetReporter reporter(fleet, port);
    FleetProgress view(fleet, port, guarded);
    MessageChain chain(reporter);
    guarded.reporter = &chain;
    guarded.stop_before_upload_mode = [&] { return fleet.stopping(port); };
    guarded.enter_upload_mode = [&] { return fleet.enter_upload_mode(port); };
    guarded.stop_transfer = [&] { return fleet.stopping(port); };
    guarded.trace = [&](const QString& text) { fleet.note(port, text, Shown::Detail); };

    PortRoad road{options, job, port.name, library, chain, view, !options.emergency};
    road.detail = guarded.trace;
    road.before_upload = [&](const QString& model, const QString& version) {
        fleet.update(port, [&](Port& p) {
            p.row.model = model;
            p.row.version = version;
            p.row.phase = Phase::Preparing;
            if (options.emergency) p.settled = true;
        });
        library.begin_road();
    };
    road.after_upload = [&] { fleet.end_transfer(port); };
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
    road.restart.begins = [&] { fleet.begin_verifying(port); };
    road.restart.sleep = road.cool_down.sleep;

    fleet.set_phase(port, options.emergency ? Phase::Preparing : Phase::Identifying);
    const PortResult result = run_port(road);

    std::lock_guard lock(fleet.mutex);
    fleet.end_transfer_locked(port);
    PortOutcome& o = port.outcome;
    o.model = result.model;
    o.version = result.version;
    port.row.model = result.model;
    port.row.version = result.version;
    o.outcome = stopped_or(result.outcome, port.cut || guarded.stopped_before_upload_mode(), port.transferring);
    o.stopped = fleet.stopping(port);
    o.messages = shown_messages(chain.messages, false);
    o.seconds = static_cast<double>(clock.milliseconds() - start) / 1000.0;
    port.row.message = exit_status(o.outcome) == kExitOk ? QString() : innermost_message(o.messages);
    fleet.set_phase_locked(port, final_phase(o));
    port.settled = true;
    port.finished = true;
    ++fleet.ended;
    interrupt::wake_up();  // the main thread sees the end at once, not at its next look
}

// The questions of the fleet, asked by the main thread while the ports go on: the prompt is
// shown (below the live table on a terminal) and the answer read whenever it is typed, so
// that the table, the report lines and the end of the run never wait for it.
class FleetQuestions {
public:
    enum Kind { PowerOff, Stop };

    FleetQuestions(Console& console, bool table) : console_(console), table_(table) {}

    // Every question of the run with its answer, in order: the run's record of them.
    std::vector<Message> asked;

    bool open() const { return open_.has_value(); }
    Kind kind() const { return open_->kind; }
    // Asks; with answers other than Terminal (or once the terminal has hung up) the answer is
    // given at once and returned.
    std::optional<bool> ask(Kind kind, const QString& text, Answers answers) {
        if (answers == Answers::Terminal && interrupt::hung_up()) answers = Answers::No;
        if (answers != Answers::Terminal) {
            const bool yes = answers == Answers::Yes;
            console_.line_over_block(prompt_of(text) + (yes ? QLatin1Char('y') : QLatin1Char('n')));
            asked.push_back({Message::Question, text, 0, yes});
            return yes;
        }
        open_ = Open{kind, text};
        if (table_) console_.hold_echo(true);
        else console_.prompt(prompt_of(text));
        return std::nullopt;
    }
    // The prompt as the last line of the table's block, with what has been typed so far.
    std::optional<QString> prompt_line() const {
        if (!open_ || !table_) return std::nullopt;
        return prompt_of(open_->text) + console_.typed_so_far();
    }
    // Waits up to ms milliseconds for the answer; the answer once it is given.
    std::optional<bool> poll(int ms) {
        QString typed;
        switch (console_.poll_answer(ms, typed)) {
        case Console::Typed::Nothing: return std::nullopt;
        case Console::Typed::End: return close(false);
        case Console::Typed::Line: break;
        }
        const std::optional<bool> yes = parse_answer(typed);
        if (yes) return close(*yes, typed.toLower());
        // Anything else: asked again.
        if (!table_) {
            console_.end_prompt(typed.toLower());
            console_.prompt(prompt_of(open_->text));
        }
        return std::nullopt;
    }
    // Closes the open question with this answer (given by a signal, a hang-up, or because it
    // no longer matters).
    bool close(bool yes) { return close(yes, yes ? QStringLiteral("y") : QStringLiteral("n")); }

private:
    struct Open {
        Kind kind;
        QString text;
    };
    static QString prompt_of(const QString& text) { return box_line(text) + QStringLiteral(" [y/N] "); }
    bool close(bool yes, const QString& shown) {
        if (table_) {
            console_.hold_echo(false);
            console_.line_over_block(prompt_of(open_->text) + shown);
        } else {
            console_.end_prompt(shown);
        }
        asked.push_back({Message::Question, open_->text, 0, yes});
        open_.reset();
        return yes;
    }

    Console& console_;
    bool table_;
    std::optional<Open> open_;
};

}  // namespace

QJsonObject fleet_questions_record(const std::vector<Message>& questions) {
    QJsonArray messages;
    for (const Message& m : questions) messages.append(message_line(m));
    return QJsonObject{{QStringLiteral("port"), QJsonValue()}, {QStringLiteral("messages"), messages}};
}

int run_fleet(const Options& options, const FleetJob& job, Environment& env) {
    if (job.ports.size() == 1) return run_single(options, job, env);

    Console& console = env.console;
    // A table redrawn in place where the terminal can move the cursor back; plain lines elsewhere.
    // -q and -v show no table: -q only questions, failures and the summary, -v every line.
    const bool terminal = console.can_redraw() && options.verbosity == Options::Verbosity::Normal;
    const Answers answers = answers_for(options.yes, console.input_is_terminal());
    const RunClock clock(env.clock);

    std::vector<std::unique_ptr<Port>> ports;
    for (const QString& name : job.ports) {
        auto port = std::make_unique<Port>();
        port->name = name;
        port->row.port = name;
        port->outcome = outcome_of(name, job, env.settings);
        port->log = job.logs ? job.logs->of(name) : nullptr;
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
    FleetQuestions questions(console, terminal);
    auto record_questions = [&] {
        if (!questions.asked.empty())
            write_report(job.report, QJsonDocument(fleet_questions_record(questions.asked)).toJson(QJsonDocument::Compact));
    };

    // The confirmation, once for the fleet. The emergency road asks it too: over several
    // ports it reaches projectors whose state no one has looked at.
    const QString confirmation =
        options.emergency
            ? QStringLiteral("Upload version %1 to %2 projectors in emergency mode? No device steps are made: "
                             "no status query, no standby, no upload mode; every projector goes straight to the transfer.")
                  .arg(job.release.line.right(5))
                  .arg(ports.size())
            : QStringLiteral("Upload version %1 to %2 projectors?").arg(job.release.line.right(5)).arg(ports.size());
    TerminalReporter asker(console, answers, nullptr);
    const bool confirmed = asker.question(confirmation);
    questions.asked.push_back({Message::Question, confirmation, 0, confirmed});
    for (const auto& p : ports)
        if (p->log) p->log->line(message_line(questions.asked.back()));
    if (!confirmed) {
        for (const auto& p : ports) {
            p->outcome.outcome = Outcome::Declined;
            report(*p);
        }
        record_questions();
        summary();
        return kExitDeclined;
    }

    Fleet fleet(!terminal, answers != Answers::Yes, options.jobs.value_or(0), clock, options.verbosity);
    const PortMap map = PortMap::read(env.settings);  // read once on the main thread: the user's store is not shared
    std::vector<std::unique_ptr<QThread>> threads;
    interrupt::set_guarded(true);
    interrupt::wake_descriptor();  // made before any port can wake the main thread through it
    for (const auto& p : ports) {
        Port* port = p.get();
        threads.push_back(start_port_thread([&, port] { run_fleet_port(fleet, *port, options, job, env, map, clock); }));
    }

    // The stop question is never answered by --yes.
    const Answers stop_answers = console.input_is_terminal() ? Answers::Terminal : Answers::No;
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
        // A terminal that hung up shows nothing any more.
        if (!terminal || interrupt::hung_up()) return;
        const std::optional<QString> prompt = questions.prompt_line();
        // An open question's prompt is the block's last line, always shown.
        QStringList table = table_lines(rows, console.columns(), console.rows() - (prompt ? 1 : 0));
        if (prompt) table << *prompt;
        if (table != drawn) console.redraw_lines(table);
        drawn = table;
    };
    // An answer, or a question closed: the ports held at the safe point go on (or stop).
    auto answered = [&](FleetQuestions::Kind kind, bool yes) {
        std::lock_guard lock(fleet.mutex);
        if (kind == FleetQuestions::PowerOff) fleet.power_off_answer = yes;
        if (kind == FleetQuestions::Stop && yes && fleet.stop_level.load() < kStopAll) fleet.stop_level.store(kStopAll);
        fleet.question_open = questions.open();
        fleet.changed.notify_all();
    };
    auto ask = [&](FleetQuestions::Kind kind, const QString& text, Answers given) {
        {
            std::lock_guard lock(fleet.mutex);
            fleet.question_open = true;  // from now on no port passes the safe point
        }
        drawn.clear();
        if (const std::optional<bool> yes = questions.ask(kind, text, given)) answered(kind, *yes);
    };
    auto close_question = [&](bool yes) {
        const FleetQuestions::Kind kind = questions.kind();
        answered(kind, questions.close(yes));
    };
    int terminations_seen = 0;

    for (;;) {
        const int ended = fleet.ended.load();
        int asking = 0;
        bool all_settled = true, all_finished = true, transferring = false;
        {
            std::lock_guard lock(fleet.mutex);
            for (const auto& p : ports) {
                asking += p->asking ? 1 : 0;
                all_settled = all_settled && (p->settled || p->finished);
                all_finished = all_finished && p->finished;
                transferring = transferring || (p->transferring && !p->verifying && !p->finished);
                if (p->finished) report(*p);
            }
        }
        render();
        if (all_finished) {
            // A question still open no longer matters.
            if (questions.open()) close_question(false);
            break;
        }
        // A hang-up: a question that can no longer be asked is answered No.
        if (interrupt::hung_up() && questions.open()) close_question(false);
        // SIGTERM: the safe stop, then the whole stop.
        if (const int t = interrupt::terminations(); t > terminations_seen) {
            terminations_seen = t;
            fleet.stop(t > 1 ? kStopAll : kSafeStop);
            if (questions.open() && (questions.kind() == FleetQuestions::PowerOff || t > 1)) close_question(false);
        }
        if (interrupt::take()) {
            // Ctrl-C, once for the fleet. A second one while the stop question waits means Yes.
            if (questions.open() && questions.kind() == FleetQuestions::Stop) {
                close_question(true);
            } else {
                if (questions.open()) close_question(false);  // the power-off question: No
                if (transferring) ask(FleetQuestions::Stop, kStopQuestion, stop_answers);
                else fleet.stop(kSafeStop);  // nothing in upload mode: every port stops, none is asked
            }
            continue;
        }
        if (!questions.open() && asking > 0 && all_settled && !fleet.power_off_answer) {
            // Once every projector has told its power state: one question for all that are on.
            const QString question = asking == 1
                                         ? QStringLiteral("1 projector must be powered off to enter upload mode. Is it "
                                                          "ok to turn it off?")
                                         : QStringLiteral("%1 projectors must be powered off to enter upload mode. Is "
                                                          "it ok to turn them off?")
                                               .arg(asking);
            ask(FleetQuestions::PowerOff, question, answers);
            continue;
        }
        if (questions.open()) {
            const FleetQuestions::Kind kind = questions.kind();
            if (const std::optional<bool> yes = questions.poll(250)) answered(kind, *yes);
        } else if (fleet.ended.load() == ended) {  // a port that ended since the look above woke nobody
            interrupt::sleep_until_signal(250);
        }
    }
    for (const auto& t : threads) t->wait();
    interrupt::set_guarded(false);
    interrupt::take();
    record_questions();

    if (terminal && !interrupt::hung_up()) {
        // The table said only the innermost message: every chain that did not end in an upload.
        for (const auto& p : ports) {
            if (exit_status(p->outcome.outcome) == kExitOk) continue;
            for (const Message& m : p->outcome.messages) console.line(p->name + QStringLiteral(": ") + message_line(m));
        }
    }
    return summary();
}

}  // namespace halvern::cli
