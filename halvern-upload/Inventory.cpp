#include "halvern-upload/Inventory.h"

#include "common/AppState.h"
#include "device/SerialConnection.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/GuardedLibrary.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/PortRun.h"
#include "halvern-upload/TerminalReporter.h"
#include "upload/DeviceSearch.h"
#include "upload/MessageChain.h"
#include "upload/StatusQuery.h"

#include <QJsonArray>

#include <cmath>
#include <memory>

namespace halvern::cli {

namespace {

// A line of the results: on standard output, unless the report goes there.
void result_line(Console& console, const InventoryJob& job, const QString& text) {
    job.report && job.report->is_standard_output() ? console.line(text) : console.out(text);
}

// The identity as the single --find prints it, kept for the report too.
class PrintingSearchView : public IdentityCapture {
public:
    PrintingSearchView(Console& console, const InventoryJob& job) : console_(console), job_(job) {}
    void show_identity(const QString& model, const QString& version) override {
        IdentityCapture::show_identity(model, version);
        result_line(console_, job_, QStringLiteral("Model: ") + model);
        result_line(console_, job_, QStringLiteral("O/S Version: ") + version);
    }

private:
    Console& console_;
    const InventoryJob& job_;
};

// The road of one port: the device search (--find), then the status query (--status, and
// --find where the power state is wanted), each opening and closing the port as the buttons
// do. What the port showed goes on to face as it comes.
PortInventory ask_port(const QString& port, const Options& options, const InventoryJob& job, Environment& env,
                       const PortMap& map, const RunClock& clock, Reporter& face, IdentityCapture& identity,
                       bool ask_power) {
    const std::int64_t start = clock.milliseconds();
    PortInventory told;
    told.port = port;
    if (job.report) told.device = resolve_port_device(port, map).device;

    // The port's log gets every step and message; -v shows the steps of a single port as
    // they come (several ports print in the order of the ports, after the fact).
    PortLog* log = job.logs ? job.logs->of(port) : nullptr;
    const bool verbose = options.verbosity == Options::Verbosity::Verbose && job.ports.size() == 1;
    const std::unique_ptr<DeviceLibrary> device = env.make_library(map);
    GuardedLibrary library(*device);
    library.forced_read_timeout_ms = options.read_timeout_ms;
    library.trace = port_detail(log, verbose ? &env.console : nullptr);
    AppState state;
    state.port_name = port;
    state.baud_rate = job.settings.baud_rate;
    TracingReporter traced(face, port_detail(log, nullptr));
    MessageChain chain(traced);
    SerialConnection connection(library, state, chain);

    told.outcome = job.identify ? run_device_search(connection, chain, identity).outcome : Outcome::StatusRead;
    if (ask_power && exit_status(told.outcome) == kExitOk) {
        const Outcome read = query_device_status(connection, chain).outcome;
        // The power state is the status byte the query read, never the words it showed.
        if (read == Outcome::StatusRead) told.power = state.device_status();
        else told.outcome = read;
    }
    say_why_not_opened(told.outcome, library, chain);
    told.model = identity.model;
    told.version = identity.version;
    told.messages = shown_messages(chain.messages);
    told.seconds = static_cast<double>(clock.milliseconds() - start) / 1000.0;
    return told;
}

// One port in the form of the desktop tool's buttons; with --report also its line (for
// which --find asks the power state too).
int inventory_of_one(const Options& options, const InventoryJob& job, Environment& env) {
    const RunClock clock(env.clock);
    TerminalReporter reporter(env.console, Answers::No, nullptr);
    reporter.quiet = options.verbosity == Options::Verbosity::Quiet;
    PrintingSearchView identity(env.console, job);
    const PortInventory told = ask_port(job.ports.first(), options, job, env, PortMap::read(env.settings), clock,
                                        reporter, identity, !job.identify || job.report);
    // The power state is the result of --status: standard output gets its line too.
    if (!job.identify && told.outcome == Outcome::StatusRead && !told.messages.empty())
        result_line(env.console, job, told.messages.back().text);
    if (job.report) job.report->add(inventory_report_line(told));
    return exit_status(told.outcome);
}

}  // namespace

QString power_name(std::optional<std::uint8_t> status) {
    if (!status) return QString();
    switch (*status) {
    case kOn: return QStringLiteral("on");
    case kCoolingDown: return QStringLiteral("cooling");
    case kStandby: return QStringLiteral("standby");
    default: return QString();
    }
}

QString inventory_outcome_name(Outcome outcome) {
    if (outcome == Outcome::DeviceFound) return QStringLiteral("found");
    if (outcome == Outcome::StatusRead) return QStringLiteral("status");
    PortOutcome failed;
    failed.outcome = outcome;
    return outcome_name(failed);
}

QString inventory_line(const PortInventory& port) {
    auto or_dash = [](const QString& text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    return QStringList{port.port, or_dash(port.model), or_dash(port.version), or_dash(power_name(port.power))}.join(
        QLatin1Char('\t'));
}

QByteArray inventory_report_line(const PortInventory& port) {
    QJsonArray messages;
    for (const Message& m : port.messages) messages.append(message_line(m));
    auto text_or_null = [](const QString& text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    const std::pair<const char*, QJsonValue> fields[] = {
        {"port", port.port},
        {"device", port.device},
        {"model", text_or_null(port.model)},
        {"version", text_or_null(port.version)},
        {"power", text_or_null(power_name(port.power))},
        {"outcome", inventory_outcome_name(port.outcome)},
        {"exit", exit_status(port.outcome)},
        {"messages", messages},
        {"seconds", std::round(port.seconds * 10.0) / 10.0},
    };
    return json_object_line(fields);
}

int run_inventory(const Options& options, const InventoryJob& job, Environment& env) {
    if (job.ports.size() == 1) return inventory_of_one(options, job, env);

    Console& console = env.console;
    const RunClock clock(env.clock);
    const PortMap map = PortMap::read(env.settings);  // read once on the main thread: the user's store is not shared
    std::vector<PortInventory> told(static_cast<std::size_t>(job.ports.size()));
    std::vector<std::unique_ptr<QThread>> threads;
    for (std::size_t i = 0; i < told.size(); ++i)
        threads.push_back(start_port_thread([&, i] {
            CollectingReporter quiet;  // the messages are printed in the order of the ports
            IdentityCapture identity;
            told[i] = ask_port(job.ports.at(static_cast<qsizetype>(i)), options, job, env, map, clock, quiet,
                               identity, true);
        }));

    bool all_answered = true;
    for (std::size_t i = 0; i < told.size(); ++i) {
        threads[i]->wait();
        const PortInventory& port = told[i];
        result_line(console, job, inventory_line(port));
        const bool answered = exit_status(port.outcome) == kExitOk;
        all_answered = all_answered && answered;
        if (!answered)
            for (const Message& m : port.messages)
                if (m.kind != Message::Status || m.icon != 1) console.line(port.port + QStringLiteral(": ") + message_line(m));
        if (job.report) job.report->add(inventory_report_line(port));
    }
    return all_answered ? kExitOk : kExitFleetIncomplete;
}

}  // namespace halvern::cli
