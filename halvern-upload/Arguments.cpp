#include "halvern-upload/Arguments.h"

#include "device/PortResolver.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <tuple>
#include <vector>

namespace halvern::cli {

std::optional<QString> parse_port_name(const QString& text) {
    if (com_number(text) != 0) return text.toUpper();
    if (!port_name_problem(text).isEmpty()) return std::nullopt;
    return text;
}

namespace {

std::optional<int> positive_number(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(text).hasMatch()) return std::nullopt;
    const int value = text.toInt();
    if (value <= 0) return std::nullopt;
    return value;
}

ParsedArguments fail(const QString& error) { return {std::nullopt, error}; }

// How long --verify waits for the projector to come back when no SECONDS follow it.
constexpr int kDefaultVerifySeconds = 120;

struct Declared {
    QStringList names;  // the short name (one letter) first where there is one
    QString value;      // the value's name; empty for a switch
    bool hidden = false;
};

// Every option of the command line. --verify is a switch here: its optional SECONDS are taken
// off the list before the parser sees it (take_verify_seconds).
const std::vector<Declared>& declared() {
    static const std::vector<Declared> options = {
        {{QStringLiteral("p"), QStringLiteral("port")}, QStringLiteral("NAME")},
        {{QStringLiteral("ports")}, QStringLiteral("FILE")},
        {{QStringLiteral("report")}, QStringLiteral("FILE")},
        {{QStringLiteral("baud")}, QStringLiteral("N")},
        {{QStringLiteral("d"), QStringLiteral("dir")}, QStringLiteral("WORKDIR")},
        {{QStringLiteral("y"), QStringLiteral("yes")}, {}},
        {{QStringLiteral("emergency")}, {}},
        {{QStringLiteral("skip-current")}, {}},
        {{QStringLiteral("retry-failed")}, QStringLiteral("REPORT")},
        {{QStringLiteral("verify")}, {}},
        {{QStringLiteral("jobs")}, QStringLiteral("N")},
        {{QStringLiteral("q"), QStringLiteral("quiet")}, {}},
        {{QStringLiteral("v"), QStringLiteral("verbose")}, {}},
        {{QStringLiteral("log-dir")}, QStringLiteral("DIR")},
        {{QStringLiteral("find")}, {}},
        {{QStringLiteral("status")}, {}},
        {{QStringLiteral("list")}, {}},
        {{QStringLiteral("list-ports")}, {}},
        {{QStringLiteral("check")}, {}},
        {{QStringLiteral("h"), QStringLiteral("help")}, {}},
        {{QStringLiteral("version")}, {}},
        {{QStringLiteral("test-poll-interval-ms")}, QStringLiteral("N"), true},
        {{QStringLiteral("test-read-timeout-ms")}, QStringLiteral("N"), true},
    };
    return options;
}

bool takes_value(const QString& name) {
    for (const Declared& d : declared())
        if (d.names.contains(name)) return !d.value.isEmpty();
    return false;
}

// The argument after this one is this one's value: "--port NAME", "-p NAME", "-yp NAME".
bool value_follows(const QString& argument) {
    if (argument.startsWith(QLatin1String("--")))
        return !argument.contains(QLatin1Char('=')) && takes_value(argument.mid(2));
    if (!argument.startsWith(QLatin1Char('-'))) return false;
    // Short options run together: the first that takes a value takes the rest, or the next argument.
    for (qsizetype k = 1; k < argument.size(); ++k)
        if (takes_value(argument.mid(k, 1))) return k == argument.size() - 1;
    return false;
}

// --verify takes an optional SECONDS: "--verify=N", or "--verify N" where N is a whole number
// (a release file never is one). Both become the switch "--verify"; seconds is what was given,
// or the default. Nothing after "--" and no option's value is looked at.
bool take_verify_seconds(QStringList& arguments, std::optional<int>& seconds, QString& error) {
    static const QRegularExpression whole(QStringLiteral("^[0-9]+$"));
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (argument == QLatin1String("--")) break;
        if (value_follows(argument)) {
            ++i;
            continue;
        }
        std::optional<QString> given;
        if (argument.startsWith(QLatin1String("--verify="))) {
            given = argument.mid(9);
        } else if (argument == QLatin1String("--verify")) {
            if (i + 1 < arguments.size() && whole.match(arguments.at(i + 1)).hasMatch()) given = arguments.takeAt(i + 1);
        } else {
            continue;
        }
        arguments[i] = QStringLiteral("--verify");
        seconds = kDefaultVerifySeconds;
        if (!given) continue;
        const std::optional<int> n = positive_number(*given);
        if (!n) {
            error = QStringLiteral("--verify takes a positive whole number of seconds, not %1").arg(*given);
            return false;
        }
        seconds = *n;
    }
    return true;
}

// What the parser found wrong, as one line: the option as it was written.
QString parse_error(const QCommandLineParser& parser) {
    if (!parser.unknownOptionNames().isEmpty()) {
        const QString name = parser.unknownOptionNames().first();
        return QStringLiteral("unknown option %1%2").arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
    }
    static const QRegularExpression missing(QStringLiteral("^Missing value after '(.*)'\\.$"));
    static const QRegularExpression unexpected(QStringLiteral("^Unexpected value after '(.*)'\\.$"));
    const QString text = parser.errorText();
    if (const auto m = missing.match(text); m.hasMatch()) return QStringLiteral("%1 needs a value").arg(m.captured(1));
    if (const auto m = unexpected.match(text); m.hasMatch()) return QStringLiteral("%1 takes no value").arg(m.captured(1));
    return text;
}

// The option's value as it was last given; empty when it was given empty ("--dir=").
std::optional<QString> value_of(const QCommandLineParser& parser, const QString& name, QString& error) {
    if (!parser.isSet(name)) return std::nullopt;
    const QString value = parser.value(name);
    if (value.isEmpty()) error = QStringLiteral("--%1 needs a value").arg(name);
    return value;
}

}  // namespace

ParsedArguments parse_arguments(const QStringList& given) {
    Options options;
    QStringList arguments = given;
    QString error;
    if (!take_verify_seconds(arguments, options.verify_seconds, error)) return fail(error);

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsOptions);
    for (const Declared& d : declared()) {
        QCommandLineOption option(d.names);
        option.setValueName(d.value);
        if (d.hidden) option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    // QCommandLineParser::parse takes the program's name first.
    if (!parser.parse(QStringList{QStringLiteral("halvern-upload")} + arguments)) return fail(parse_error(parser));
    const QStringList positional = parser.positionalArguments();
    auto set = [&](const char* name) { return parser.isSet(QLatin1String(name)); };

    // The command: one at most.
    const std::pair<const char*, Command> commands[] = {
        {"find", Command::Find},   {"status", Command::Status}, {"list", Command::List},
        {"list-ports", Command::ListPorts}, {"check", Command::Check}, {"help", Command::Help},
        {"version", Command::Version},
    };
    std::optional<Command> command;
    for (const auto& [name, c] : commands) {
        if (!set(name)) continue;
        if (command)
            return fail(
                QStringLiteral("only one of --find, --status, --list, --list-ports, --check, --help and --version at a time"));
        command = c;
    }
    options.command = command.value_or(Command::Upload);
    if (options.command == Command::Help || options.command == Command::Version) return {options, QString()};

    // Every --port, in order; the first is the port of a single upload.
    for (const QString& value : parser.values(QStringLiteral("port"))) {
        if (value.isEmpty()) return fail(QStringLiteral("--port needs a value"));
        const auto name = parse_port_name(value);
        if (!name && is_network_name(value)) return fail(QStringLiteral("--port ") + port_name_problem(value));
        if (!name)
            return fail(QStringLiteral("--port takes COM1 to COM4, a device path or a network address, not %1").arg(value));
        if (!options.port) options.port = *name;
        options.ports << *name;
    }
    if (parser.values(QStringLiteral("ports")).size() > 1) return fail(QStringLiteral("--ports goes only once"));
    options.ports_file = value_of(parser, QStringLiteral("ports"), error);
    options.report = value_of(parser, QStringLiteral("report"), error);
    options.dir = value_of(parser, QStringLiteral("dir"), error);
    options.retry_failed = value_of(parser, QStringLiteral("retry-failed"), error);
    options.log_dir = value_of(parser, QStringLiteral("log-dir"), error);
    const std::optional<QString> baud = value_of(parser, QStringLiteral("baud"), error);
    const std::optional<QString> jobs = value_of(parser, QStringLiteral("jobs"), error);
    const std::optional<QString> poll = value_of(parser, QStringLiteral("test-poll-interval-ms"), error);
    const std::optional<QString> read = value_of(parser, QStringLiteral("test-read-timeout-ms"), error);
    if (!error.isEmpty()) return fail(error);
    if (baud) {
        const auto rate = positive_number(*baud);
        if (!rate || (*rate != 9600 && *rate != 19200 && *rate != 38400))
            return fail(QStringLiteral("--baud takes 9600, 19200 or 38400, not %1").arg(*baud));
        options.baud = *rate;
    }
    if (jobs) {
        options.jobs = positive_number(*jobs);
        if (!options.jobs) return fail(QStringLiteral("--jobs takes a whole number from 1, not %1").arg(*jobs));
    }
    for (const auto& [text, field, name] : {std::tuple{poll, &options.poll_interval_ms, "--test-poll-interval-ms"},
                                            std::tuple{read, &options.read_timeout_ms, "--test-read-timeout-ms"}}) {
        if (!text) continue;
        *field = positive_number(*text);
        if (!*field) return fail(QStringLiteral("%1 takes a number of milliseconds").arg(QLatin1String(name)));
    }
    options.yes = set("yes");
    options.emergency = set("emergency");
    options.skip_current = set("skip-current");
    if (set("quiet") && set("verbose")) return fail(QStringLiteral("-q and -v do not go together"));
    if (set("quiet")) options.verbosity = Options::Verbosity::Quiet;
    if (set("verbose")) options.verbosity = Options::Verbosity::Verbose;

    const bool upload_only = options.yes || options.emergency || options.skip_current || options.retry_failed ||
                             options.verify_seconds || options.jobs;
    if (options.command == Command::Check) {
        if (options.port || options.ports_file || options.report || options.baud || options.log_dir || upload_only)
            return fail(QStringLiteral("--check takes only --dir and a release file"));
    }
    if (options.command == Command::Upload || options.command == Command::Check) {
        if (positional.isEmpty()) return fail(QStringLiteral("no release file given"));
        if (positional.size() > 1) return fail(QStringLiteral("only one release file at a time"));
        options.release = positional.first();
        const QString suffix = options.release.right(4).toUpper();
        if (suffix != QLatin1String(".PJV") && suffix != QLatin1String(".SWV"))
            return fail(QStringLiteral("%1 is not a release file (.PJV or .SWV)").arg(options.release));
        // A projector that needs the emergency road cannot tell its version.
        if (options.skip_current && options.emergency)
            return fail(QStringLiteral("--skip-current does not go with --emergency: the projector is not identified"));
        return {options, QString()};
    }
    if (!positional.isEmpty()) return fail(QStringLiteral("a release file goes only with an upload"));
    if (options.emergency || options.yes) return fail(QStringLiteral("--emergency and --yes go only with an upload"));
    if (upload_only)
        return fail(QStringLiteral("--skip-current, --retry-failed, --verify and --jobs go only with an upload"));
    const bool inventory = options.command == Command::Find || options.command == Command::Status;
    if (!inventory && options.report) return fail(QStringLiteral("--report goes only with an upload, --find or --status"));
    if (!inventory && options.log_dir) return fail(QStringLiteral("--log-dir goes only with an upload, --find or --status"));
    if (!inventory && options.command != Command::List && (options.ports.size() > 1 || options.ports_file))
        return fail(QStringLiteral("several ports go only with an upload, --find or --status"));
    return {options, QString()};
}

QString usage_text() {
    return QStringLiteral(
        "usage: halvern-upload [-p NAME]... [--ports FILE] [--retry-failed REPORT] [--baud N]\n"
        "                      [-d WORKDIR] [-y] [--emergency] [--skip-current]\n"
        "                      [--verify [SECONDS]] [--jobs N] [--report FILE] [-q | -v]\n"
        "                      [--log-dir DIR] RELEASE\n"
        "       halvern-upload [-p NAME]... [--ports FILE] [--baud N] [--report FILE] [-q | -v]\n"
        "                      [--log-dir DIR] --find | --status\n"
        "       halvern-upload [-d WORKDIR] --list\n"
        "       halvern-upload [-d WORKDIR] --check RELEASE\n"
        "       halvern-upload --list-ports | -h | --version\n"
        "Uploads a firmware release into the projector on a serial port, or into the projectors\n"
        "on several ports at once.\n"
        "\n"
        "  RELEASE        a .PJV or .SWV file: a name in WORKDIR or a path; its NAME.mot files\n"
        "                 are read from the directory it is in\n"
        "  -p, --port NAME  COM1 to COM4 (mapped in section Ports of the settings), a device\n"
        "                 path, rfc2217://HOST:PORT (a serial device server that sets the remote\n"
        "                 line) or tcp://HOST:PORT (raw bytes; the remote line must run at 38400);\n"
        "                 given several times, every port is uploaded (or asked) at the same time\n"
        "  --ports FILE   more ports, one name a line (blank lines and lines from # on are skipped)\n"
        "  --retry-failed REPORT  the ports whose latest line in REPORT for this release did not\n"
        "                 end uploaded, verified or current; --port and --ports add to them. A\n"
        "                 REPORT that cannot be read or holds no such port is refused (exit 2)\n"
        "  --report FILE  add one JSON object a line per port to FILE (never truncated; - is\n"
        "                 standard output, and the summary then goes to standard error): run\n"
        "                 (the same for every line of one run), time, port, device, model,\n"
        "                 version, release, release_version, outcome, exit, messages, seconds;\n"
        "                 with several ports one more line, port null, holds the fleet's\n"
        "                 questions and answers. With --find and --status: port, device, model,\n"
        "                 version, power (on, cooling, standby, or null), outcome, exit,\n"
        "                 messages, seconds, run and time\n"
        "  --baud N       9600, 19200 or 38400 (the transfer always runs at 38400)\n"
        "  -d, --dir WORKDIR  the working directory of the releases\n"
        "  -y, --yes      answer Yes to the confirmation and to the power-off question\n"
        "  --emergency    emergency mode: no device steps, straight to the transfer; one port is\n"
        "                 not asked, several are (the fleet's confirmation)\n"
        "  --skip-current identify every projector first; one whose O/S version is the\n"
        "                 release's is left alone (outcome current: never switched off, never\n"
        "                 put into upload mode). Not with --emergency\n"
        "  --verify [SECONDS]  after the projector confirms the upload, wait for it to restart\n"
        "                 and ask its identity every few seconds for up to SECONDS (120): outcome\n"
        "                 verified when it runs the release's version, else a failure (exit 11)\n"
        "  --jobs N       at most N transfers at once; the other ports wait (queued) before\n"
        "                 upload mode\n"
        "  -q, --quiet    only questions, failures and the summary on the terminal\n"
        "  -v, --verbose  every phase change and retry too, each line with its time\n"
        "  --log-dir DIR  one log file per port and run in DIR (made if missing), named\n"
        "                 YYYYMMDD-HHMMSS-PORT-RUN.log: everything the port did, each line with\n"
        "                 its time, in full whatever -q or -v say\n"
        "  --find         print the model and operating-system version of each projector\n"
        "  --status       print each projector's power state\n"
        "  --list         print the releases of WORKDIR: name, tab, version, tab, file\n"
        "  --check        check RELEASE as an upload would, without a port: its version control\n"
        "                 file and every record of every NAME.mot; one line per file (records,\n"
        "                 bytes inside and outside the window, addresses left FF)\n"
        "  --list-ports   print the serial ports found (name for --port, description, maker,\n"
        "                 serial number, vendor:product, tab-separated), then section Ports\n"
        "  -h, --help     this text\n"
        "  --version      print the program's name and version\n"
        "\n"
        "Options take their value as --opt VALUE or --opt=VALUE, short ones as -p VALUE or\n"
        "-pVALUE; short switches go together (-yq). -- ends the options. A wrong command line\n"
        "is one line saying what is wrong (an unknown option, a missing value) and the hint\n"
        "to --help, exit status 2.\n"
        "Defaults come from the settings of the desktop tool; options apply to this run only.\n"
        "Questions go to the controlling terminal, wherever standard error goes; without a\n"
        "terminal and without --yes every question is answered No.\n"
        "Ctrl-C during the cool-down wait cancels it; during the transfer it asks first (Ctrl-C\n"
        "again at that question means Yes).\n"
        "With several ports the questions are asked once for all, a table shows every port\n"
        "(plain lines prefixed with port and time without a terminal that can move the cursor,\n"
        "such as TERM=dumb, or with -v), a summary follows on standard output, and Ctrl-C asks\n"
        "once for all of them. While a question waits no projector is put into upload mode;\n"
        "the others go on.\n"
        "SIGTERM stops safely: no projector enters upload mode any more (outcome stopped), the\n"
        "transfers under way finish; a second SIGTERM stops them after their current frame.\n"
        "SIGHUP: the run goes on without its terminal; a question it cannot ask is answered No.\n"
        "\n"
        "Every upload runs the same check before the port opens.\n"
        "\n"
        "Exit status: 0 uploaded and confirmed by the projector (or verified, or left alone as\n"
        "  current; --find, --status, --list, --list-ports done, --check passed), 2 bad\n"
        "  arguments or release file (or --check refused it, or --retry-failed found no port),\n"
        "  3 port not opened, 4 device not answering or refusing a step, 5 cool-down\n"
        "  cancelled, 6 transfer failed, 7 a question answered No, 9 stopped on request\n"
        "  (Ctrl-C, SIGTERM) before upload mode: the projector was left as it was, 11 --verify:\n"
        "  the projector did not come back in time, or came back on another version.\n"
        "  With several ports: 0 only when every projector ended uploaded, verified or current\n"
        "  (--find, --status: every projector answered), 7 when the fleet's confirmation was\n"
        "  answered No, otherwise 8 (the report gives each port's own status).\n"
        "  10 the report or a log file could not be opened, written or flushed (whatever the\n"
        "  uploads came to; one that cannot be opened is found before any port is opened).\n");
}

}  // namespace halvern::cli
