#include "halvern-upload/Arguments.h"

#include "device/PortResolver.h"

#include <QRegularExpression>

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

}  // namespace

ParsedArguments parse_arguments(const QStringList& arguments) {
    Options options;
    std::optional<Command> command;
    QStringList positional;

    auto set_command = [&](Command c) -> bool {
        if (command && *command != c) return false;
        command = c;
        return true;
    };

    for (qsizetype i = 0; i < arguments.size(); ++i) {
        QString argument = arguments.at(i);
        if (argument == QLatin1String("-h")) argument = QStringLiteral("--help");
        if (argument == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (!argument.startsWith(QLatin1String("--"))) {
            if (argument.startsWith(QLatin1Char('-')) && argument.size() > 1)
                return fail(QStringLiteral("unknown option %1").arg(argument));
            positional << argument;
            continue;
        }
        std::optional<QString> inline_value;
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        if (equals > 0) {
            inline_value = argument.mid(equals + 1);
            argument.truncate(equals);
        }
        const bool takes_value = argument == QLatin1String("--port") || argument == QLatin1String("--baud") ||
                                 argument == QLatin1String("--dir") || argument == QLatin1String("--ports") ||
                                 argument == QLatin1String("--report") || argument == QLatin1String("--jobs") ||
                                 argument == QLatin1String("--test-poll-interval-ms") ||
                                 argument == QLatin1String("--test-read-timeout-ms");
        QString value;
        if (takes_value) {
            if (inline_value) {
                value = *inline_value;
            } else if (i + 1 < arguments.size()) {
                value = arguments.at(++i);
            } else {
                return fail(QStringLiteral("%1 needs a value").arg(argument));
            }
            if (value.isEmpty()) return fail(QStringLiteral("%1 needs a value").arg(argument));
        } else if (inline_value) {
            return fail(QStringLiteral("%1 takes no value").arg(argument));
        }

        if (argument == QLatin1String("--port")) {
            const auto name = parse_port_name(value);
            if (!name && is_network_name(value)) return fail(QStringLiteral("--port ") + port_name_problem(value));
            if (!name)
                return fail(QStringLiteral("--port takes COM1 to COM4, a device path or a network address, not %1")
                                .arg(value));
            if (!options.port) options.port = *name;
            options.ports << *name;
        } else if (argument == QLatin1String("--ports")) {
            if (options.ports_file) return fail(QStringLiteral("--ports goes only once"));
            options.ports_file = value;
        } else if (argument == QLatin1String("--report")) {
            options.report = value;
        } else if (argument == QLatin1String("--baud")) {
            const auto rate = positive_number(value);
            if (!rate || (*rate != 9600 && *rate != 19200 && *rate != 38400))
                return fail(QStringLiteral("--baud takes 9600, 19200 or 38400, not %1").arg(value));
            options.baud = *rate;
        } else if (argument == QLatin1String("--dir")) {
            options.dir = value;
        } else if (argument == QLatin1String("--test-poll-interval-ms")) {
            const auto ms = positive_number(value);
            if (!ms) return fail(QStringLiteral("%1 takes a number of milliseconds").arg(argument));
            options.poll_interval_ms = *ms;
        } else if (argument == QLatin1String("--test-read-timeout-ms")) {
            const auto ms = positive_number(value);
            if (!ms) return fail(QStringLiteral("%1 takes a number of milliseconds").arg(argument));
            options.read_timeout_ms = *ms;
        } else if (argument == QLatin1String("--jobs")) {
            if (!(options.jobs = positive_number(value))) return fail(QStringLiteral("--jobs takes a number"));
        } else if (argument == QLatin1String("--yes")) {
            options.yes = true;
        } else if (argument == QLatin1String("--emergency")) {
            options.emergency = true;
        } else if (argument == QLatin1String("--find") || argument == QLatin1String("--status") ||
                   argument == QLatin1String("--list") || argument == QLatin1String("--list-ports") ||
                   argument == QLatin1String("--check") || argument == QLatin1String("--help") ||
                   argument == QLatin1String("--version")) {
            const Command c = argument == QLatin1String("--find")         ? Command::Find
                              : argument == QLatin1String("--status")     ? Command::Status
                              : argument == QLatin1String("--list")       ? Command::List
                              : argument == QLatin1String("--list-ports") ? Command::ListPorts
                              : argument == QLatin1String("--check")      ? Command::Check
                              : argument == QLatin1String("--version")    ? Command::Version
                                                                          : Command::Help;
            if (!set_command(c))
                return fail(
                    QStringLiteral("only one of --find, --status, --list, --list-ports, --check, --help and --version at a time"));
        } else {
            return fail(QStringLiteral("unknown option %1").arg(argument));
        }
    }

    options.command = command.value_or(Command::Upload);
    if (options.command == Command::Help || options.command == Command::Version) return {options, QString()};
    if (options.command == Command::Check) {
        if (options.port || options.ports_file || options.report || options.baud || options.emergency || options.yes)
            return fail(QStringLiteral("--check takes only --dir and a release file"));
    }
    if (options.command == Command::Upload || options.command == Command::Check) {
        if (positional.isEmpty()) return fail(QStringLiteral("no release file given"));
        if (positional.size() > 1) return fail(QStringLiteral("only one release file at a time"));
        options.release = positional.first();
        const QString suffix = options.release.right(4).toUpper();
        if (suffix != QLatin1String(".PJV") && suffix != QLatin1String(".SWV"))
            return fail(QStringLiteral("%1 is not a release file (.PJV or .SWV)").arg(options.release));
        return {options, QString()};
    }
    if (!positional.isEmpty()) return fail(QStringLiteral("a release file goes only with an upload"));
    if (options.report) return fail(QStringLiteral("--report goes only with an upload"));
    if (options.command != Command::List && (options.ports.size() > 1 || options.ports_file))
        return fail(QStringLiteral("--find and --status take one port"));
    if (options.emergency || options.yes)
        return fail(QStringLiteral("--emergency and --yes go only with an upload"));
    return {options, QString()};
}

QString usage_text() {
    return QStringLiteral(
        "usage: halvern-upload [--port NAME]... [--ports FILE] [--baud N] [--dir WORKDIR] [--yes]\n"
        "                      [--emergency] [--report FILE] RELEASE\n"
        "       halvern-upload [--port NAME] [--baud N] --find | --status\n"
        "       halvern-upload [--dir WORKDIR] --list\n"
        "       halvern-upload [--dir WORKDIR] --check RELEASE\n"
        "       halvern-upload --list-ports | --help | --version\n"
        "Uploads a firmware release into the projector on a serial port, or into the projectors\n"
        "on several ports at once.\n"
        "\n"
        "  RELEASE        a .PJV or .SWV file: a name in WORKDIR or a path; its NAME.mot files\n"
        "                 are read from the directory it is in\n"
        "  --port NAME    COM1 to COM4 (mapped in section Ports of the settings), a device path,\n"
        "                 rfc2217://HOST:PORT (a serial device server that sets the remote line)\n"
        "                 or tcp://HOST:PORT (raw bytes; the remote line must run at 38400);\n"
        "                 given several times, every port is uploaded at the same time\n"
        "  --ports FILE   more ports, one name a line (blank lines and lines from # on are skipped)\n"
        "  --report FILE  add one JSON object a line per port to FILE (never truncated; - is\n"
        "                 standard output, and the summary then goes to standard error): run\n"
        "                 (the same for every line of one run), time, port, device, model,\n"
        "                 version, release, release_version, outcome, exit, messages, seconds;\n"
        "                 with several ports one more line, port null, holds the fleet's\n"
        "                 questions and answers\n"
        "  --baud N       9600, 19200 or 38400 (the transfer always runs at 38400)\n"
        "  --dir WORKDIR  the working directory of the releases\n"
        "  --yes          answer Yes to the confirmation and to the power-off question\n"
        "  --emergency    emergency mode: no device steps, straight to the transfer; one port is\n"
        "                 not asked, several are (the fleet's confirmation)\n"
        "  --find         print the model and operating-system version of the projector\n"
        "  --status       print the projector's power state\n"
        "  --list         print the releases of WORKDIR: name, tab, version, tab, file\n"
        "  --check        check RELEASE as an upload would, without a port: its version control\n"
        "                 file and every record of every NAME.mot; one line per file (records,\n"
        "                 bytes inside and outside the window, addresses left FF)\n"
        "  --list-ports   print the serial ports found (name for --port, description, maker,\n"
        "                 serial number, vendor:product, tab-separated), then section Ports\n"
        "  -h, --help     this text\n"
        "  --version      print the program's name and version\n"
        "\n"
        "Defaults come from the settings of the desktop tool; options apply to this run only.\n"
        "Questions go to the controlling terminal, wherever standard error goes; without a\n"
        "terminal and without --yes every question is answered No.\n"
        "Ctrl-C during the cool-down wait cancels it; during the transfer it asks first (Ctrl-C\n"
        "again at that question means Yes).\n"
        "With several ports the questions are asked once for all, a table shows every port\n"
        "(plain lines prefixed with port and time without a terminal that can move the cursor,\n"
        "such as TERM=dumb), a summary follows on standard output, and Ctrl-C asks once for\n"
        "all of them. While a question waits no projector is put into upload mode; the others\n"
        "go on.\n"
        "SIGTERM stops safely: no projector enters upload mode any more (outcome stopped), the\n"
        "transfers under way finish; a second SIGTERM stops them after their current frame.\n"
        "SIGHUP: the run goes on without its terminal; a question it cannot ask is answered No.\n"
        "\n"
        "Every upload runs the same check before the port opens.\n"
        "\n"
        "Exit status: 0 uploaded and confirmed by the projector (or --find, --status, --list,\n"
        "  --list-ports done, --check passed), 2 bad arguments or release file (or --check refused\n"
        "  it), 3 port not opened, 4 device not answering or refusing a step, 5 cool-down\n"
        "  cancelled, 6 transfer failed, 7 a question answered No, 9 stopped on request\n"
        "  (Ctrl-C, SIGTERM) before upload mode: the projector was left as it was.\n"
        "  With several ports: 0 only when every projector confirmed its upload, 7 when the\n"
        "  fleet's confirmation was answered No, otherwise 8 (the report gives each port's own\n"
        "  status).\n"
        "  10 the report could not be opened, written or flushed (whatever the uploads came to;\n"
        "  one that cannot be opened is found before any port is opened).\n");
}

}  // namespace halvern::cli
