#include "halvern-upload/Commands.h"

#include "common/Version.h"

#include "app/InitVars.h"
#include "halvern-upload/Fleet.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/Interrupt.h"
#include "halvern-upload/Inventory.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/PortLog.h"
#include "halvern-upload/Report.h"
#include "halvern-upload/TerminalReporter.h"
#include "image/FileLookup.h"
#include "image/ReleaseCatalogue.h"
#include "image/ReleaseCheck.h"
#include "image/VersionControl.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUuid>

namespace halvern::cli {

namespace {

const QString kProgram = QStringLiteral("halvern-upload");

// --log-dir: one log per port, made before any port is touched; false (said) when one cannot be.
bool open_logs(const Options& options, const QStringList& ports, const Report* report, PortLogs& logs,
               Console& console) {
    if (!options.log_dir) return true;
    // The logs of a run carry the run id of its report lines.
    const QString run = report ? report->run() : QUuid::createUuid().toString(QUuid::WithoutBraces);
    if (logs.open(*options.log_dir, ports, run)) return true;
    console.line(kProgram + QStringLiteral(": ") + logs.error());
    return false;
}

// The logs close last: a run whose log is incomplete says so, whatever the projectors came to.
int close_logs(PortLogs& logs, Console& console, int status) {
    if (logs.close()) return status;
    console.line(kProgram + QStringLiteral(": ") + logs.error());
    return kExitReportFailed;
}

// Every --port and the lines of --ports FILE, in that order.
std::optional<QStringList> all_ports(const Options& options, QString& error) {
    QStringList ports = options.ports;
    if (options.ports_file) {
        const std::optional<QStringList> listed = read_ports_file(*options.ports_file, error);
        if (!listed) return std::nullopt;
        ports += *listed;
    }
    return ports;
}

// The whole-release check: its boxes on standard error and, when print_files, one line per
// file read on standard output.
bool release_passes_check(const ReleaseFile& release, Console& console, bool print_files) {
    CollectingReporter boxes;
    std::vector<ReleaseFileCheck> files;
    const bool accepted = check_release(release.path, release.working_directory, boxes, &files);
    if (print_files)
        for (const ReleaseFileCheck& file : files) console.out(release_file_check_line(file));
    for (const QString& box : boxes.boxes) console.line(box_line(box));
    if (!accepted) console.line(kProgram + QStringLiteral(": %1 is not a release that can be uploaded.").arg(release.path));
    return accepted;
}

// RELEASE of the command line in the working directory of this run; on failure the reason
// is printed.
std::optional<ReleaseFile> release_of(const Options& options, const RunSettings& settings, Console& console) {
    QString error;
    std::optional<ReleaseFile> release = resolve_release(options.release, settings.working_directory, error);
    if (!release) console.line(kProgram + QStringLiteral(": ") + error);
    return release;
}

// No two names of one device: two uploads would interleave on one line. False (the reason
// printed) when two are.
bool one_name_per_device(const QStringList& ports, Environment& env) {
    if (ports.size() < 2) return true;
    const std::optional<QString> twice = same_device_named_twice(ports, env.settings);
    if (twice) env.console.line(kProgram + QStringLiteral(": ") + *twice);
    return !twice;
}

// Every --port and the lines of --ports FILE, one name per device; on failure the reason is
// printed.
std::optional<QStringList> ports_of(const Options& options, Environment& env) {
    QString error;
    std::optional<QStringList> ports = all_ports(options, error);
    if (!ports) env.console.line(kProgram + QStringLiteral(": ") + error);
    if (!ports || !one_name_per_device(*ports, env)) return std::nullopt;
    return ports;
}

// --retry-failed REPORT: the ports whose latest line in REPORT for this release did not end
// well, then those of --port and --ports that are not among them; on failure the reason is
// printed.
std::optional<QStringList> ports_to_retry(const Options& options, const QString& release, const QStringList& given,
                                          Environment& env) {
    QString error;
    std::optional<QStringList> ports = failed_ports(*options.retry_failed, release, error);
    if (ports && ports->isEmpty() && given.isEmpty())
        error = QStringLiteral("the report %1 holds no port that failed with %2").arg(*options.retry_failed, release);
    if (!error.isEmpty()) {
        env.console.line(kProgram + QStringLiteral(": ") + error);
        return std::nullopt;
    }
    for (const QString& port : given)
        if (!ports->contains(port)) ports->append(port);
    if (!one_name_per_device(*ports, env)) return std::nullopt;
    return ports;
}

// The report, opened (for appending) before anything is sent, so that a report that cannot
// be written is known before any projector is touched. False (the reason printed) on failure.
bool open_report(const Options& options, Console& console, std::unique_ptr<Report>& report) {
    if (!options.report) return true;
    report = std::make_unique<Report>();
    if (report->open(*options.report)) return true;
    console.line(kProgram + QStringLiteral(": ") + report->error());
    return false;
}

// A run whose record is incomplete says so last, whatever the projectors came to.
int close_report(const std::unique_ptr<Report>& report, Console& console, int status) {
    if (!report || report->close()) return status;
    console.line(kProgram + QStringLiteral(": ") + report->error());
    return kExitReportFailed;
}

int upload(const Options& options, Environment& env) {
    Console& console = env.console;
    RunSettings settings = resolve_settings(options, env.settings, env.program_dir);
    std::optional<QStringList> ports = ports_of(options, env);
    if (!ports) return kExitBadArguments;
    std::unique_ptr<Report> report;
    if (!open_report(options, console, report)) return kExitReportFailed;
    const std::optional<ReleaseFile> release = release_of(options, settings, console);
    if (!release) return kExitBadArguments;
    // The whole release (the version control file and every NAME.mot) is checked before the
    // port opens, so that a bad file never leaves the projector in upload mode and nothing of
    // a damaged release reaches it.
    if (!release_passes_check(*release, console, false)) return kExitBadArguments;
    if (options.retry_failed) ports = ports_to_retry(options, release->path, *ports, env);
    else if (ports->isEmpty()) ports->append(settings.port_name);
    if (!ports) return kExitBadArguments;
    PortLogs logs;
    if (!open_logs(options, *ports, report.get(), logs, console)) return kExitReportFailed;
    const int status = run_fleet(options, FleetJob{settings, *release, *ports, report.get(), &logs}, env);
    return close_logs(logs, console, close_report(report, console, status));
}

// --find and --status, over one port or several.
int inventory(const Options& options, Environment& env) {
    const RunSettings settings = resolve_settings(options, env.settings, env.program_dir);
    std::optional<QStringList> ports = ports_of(options, env);
    if (!ports) return kExitBadArguments;
    if (ports->isEmpty()) ports->append(settings.port_name);
    std::unique_ptr<Report> report;
    if (!open_report(options, env.console, report)) return kExitReportFailed;
    PortLogs logs;
    if (!open_logs(options, *ports, report.get(), logs, env.console)) return kExitReportFailed;
    const InventoryJob job{settings, *ports, options.command == Command::Find, report.get(), &logs};
    const int status = run_inventory(options, job, env);
    return close_logs(logs, env.console, close_report(report, env.console, status));
}

// --check: the check every upload makes before its port opens, alone. One line per file on
// standard output; the check's boxes on standard error.
int check(const Options& options, Environment& env) {
    const RunSettings settings = resolve_settings(options, env.settings, env.program_dir);
    const std::optional<ReleaseFile> release = release_of(options, settings, env.console);
    if (!release) return kExitBadArguments;
    return release_passes_check(*release, env.console, true) ? kExitOk : kExitBadArguments;
}

class PrintingList : public ReleaseListView {
public:
    QStringList lines;
    void clear_lines() override { lines.clear(); }
    void add_line(const QString& line) override { lines << line; }
};

// Counts the boxes on their way to the terminal: every box of the catalogue is a failure.
class CountingReporter : public TerminalReporter {
public:
    using TerminalReporter::TerminalReporter;
    int boxes = 0;
    void message_box(const QString& text, const QString& caption) override {
        ++boxes;
        TerminalReporter::message_box(text, caption);
    }
};

int list(const Options& options, Environment& env) {
    const RunSettings settings = resolve_settings(options, env.settings, env.program_dir);
    const QString directory = QDir::cleanPath(QDir(settings.working_directory).absolutePath());
    // The release list of the desktop tool stays empty for a directory that does not exist;
    // here that is a wrong working directory.
    if (classify_directory(directory) == DirectoryAccess::Missing) {
        env.console.line(kProgram + QStringLiteral(": no working directory %1").arg(directory));
        return kExitBadArguments;
    }
    CountingReporter reporter(env.console, Answers::No, nullptr);
    PrintingList view;
    ReleaseCatalogue catalogue;
    catalogue.list_versions(view, directory, reporter, {});
    for (int k = 0; k < view.lines.size(); ++k)
        env.console.out(view.lines.at(k) + QLatin1Char('\t') + QFileInfo(catalogue.path_of(k)).fileName());
    return reporter.boxes == 0 ? kExitOk : kExitBadArguments;
}

// The ports found, one a line, tab-separated: the name to pass to --port, description,
// manufacturer, serial number, vendor:product ("-" where unknown); then section "Ports" as
// it stands, each name with the device it reaches ("default" where the settings hold none).
int list_ports(Environment& env) {
    const std::vector<PortInfo> found = env.ports ? env.ports->ports() : std::vector<PortInfo>{};
    auto field = [](const QString& text) { return text.trimmed().isEmpty() ? QStringLiteral("-") : text.trimmed(); };
    if (found.empty()) env.console.out(QStringLiteral("No serial port found on this machine."));
    for (const PortInfo& port : found)
        env.console.out(QStringList{port.name, field(port.description), field(port.manufacturer),
                                    field(port.serial_number), field(port.vendor_product())}
                            .join(QLatin1Char('\t')));
    env.console.out(QStringLiteral("[Ports]"));
    const QString section = QStringLiteral("Ports");
    for (int n = 1; n <= 4; ++n) {
        const QString key = QStringLiteral("COM%1").arg(n);
        if (env.settings.contains(section, key))
            env.console.out(key + QLatin1Char('\t') + env.settings.get(section, key).trimmed());
        else
            env.console.out(key + QStringLiteral("\t/dev/ttyS%1\tdefault").arg(n - 1));
    }
    return kExitOk;
}

}  // namespace

RunSettings resolve_settings(const Options& options, const SettingsStore& settings, const QString& program_dir) {
    const StartupValues start = read_startup(settings, program_dir);
    RunSettings run{start.working_directory, start.port_name, start.baud_rate};

    if (options.dir) run.working_directory = *options.dir;
    if (options.port) run.port_name = *options.port;
    if (options.baud) run.baud_rate = *options.baud;
    return run;
}

std::optional<ReleaseFile> resolve_release(const QString& release, const QString& working_directory, QString& error) {
    QString path;
    if (release.contains(QLatin1Char('/'))) {
        const QFileInfo info(release);
        if (!is_regular_file(release)) {
            error = QStringLiteral("no release file %1").arg(release);
            return std::nullopt;
        }
        path = info.absoluteFilePath();
    } else {
        const QString directory = QDir(working_directory).absolutePath();
        path = find_ordinary_file(directory, release);
        if (path.isEmpty()) {
            error = QStringLiteral("no release file %1 in %2").arg(release, directory);
            return std::nullopt;
        }
    }
    // Read without ever blocking: a FIFO or a device put in its place is refused unread.
    const RegularFile file = read_regular_file(path, kVersionControlLength);
    if (file.outcome != RegularFile::Outcome::Read) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.error);
        return std::nullopt;
    }
    return ReleaseFile{path, QFileInfo(path).absolutePath(), release_line(file.bytes)};
}

int run_cli(const QStringList& arguments, Environment& env) {
    const ParsedArguments parsed = parse_arguments(arguments);
    if (!parsed.options) {
        env.console.line(kProgram + QStringLiteral(": ") + parsed.error);
        env.console.line(QStringLiteral("Try 'halvern-upload --help'."));
        return kExitBadArguments;
    }
    const Options& options = *parsed.options;
    switch (options.command) {
    case Command::Help:
        env.console.out(usage_text().chopped(1));
        return kExitOk;
    case Command::Version:
        env.console.out(QStringLiteral("halvern-upload ") + QString::fromLatin1(kVersion));
        return kExitOk;
    case Command::List:
        return list(options, env);
    case Command::ListPorts:
        return list_ports(env);
    case Command::Find:
    case Command::Status:
        return inventory(options, env);
    case Command::Upload:
        return upload(options, env);
    case Command::Check:
        return check(options, env);
    }
    return kExitInternal;
}

}  // namespace halvern::cli
