#pragma once
// The command line of halvern-upload: what it asks for and with which overrides.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace halvern::cli {

enum class Command { Upload, Check, Find, Status, List, ListPorts, Help, Version };

struct Options {
    Command command = Command::Upload;
    // Overrides of the settings store for this run only; never written back.
    std::optional<QString> port;          // "COM1" to "COM4", a device path or a network address
                                          // (the first --port)
    QStringList ports;                    // every --port, in the order given
    std::optional<QString> ports_file;    // --ports FILE: one port name a line
    std::optional<QString> report;        // --report FILE: one JSON line per port
    std::optional<std::int32_t> baud;     // 9600, 19200 or 38400
    std::optional<QString> dir;           // working directory
    bool yes = false;                     // answer Yes to the upload's questions
    bool emergency = false;               // the emergency road: straight to the transfer
    QString release;                      // RELEASE (upload, --check): a file name in the working directory or a path
    // A venue's day.
    bool skip_current = false;            // --skip-current: a projector already on the release is left alone
    std::optional<QString> retry_failed;  // --retry-failed REPORT: the ports whose latest line for the release failed
    std::optional<int> verify_seconds;    // --verify [SECONDS]: wait for the restart and compare (120 without a value)
    std::optional<int> jobs;              // --jobs N: at most N transfers at once
    // How much goes to the terminal: -q only questions, failures and the summary; -v every
    // phase change and retry, time-stamped.
    enum class Verbosity { Quiet, Normal, Verbose } verbosity = Verbosity::Normal;
    std::optional<QString> log_dir;       // --log-dir DIR: one log file per port and run

    // Hidden options for the test suite, not shown in --help: the cool-down poll interval
    // (the window polls every 5000 ms) and the read time-out of every port opened (the
    // upload opens with 30000 ms).
    std::optional<int> poll_interval_ms;  // --test-poll-interval-ms N
    std::optional<int> read_timeout_ms;   // --test-read-timeout-ms N
};

struct ParsedArguments {
    std::optional<Options> options;  // empty when the command line is wrong
    QString error;                   // what is wrong with it, one line
};

// arguments without the program name. Accepts "--opt VALUE" and "--opt=VALUE", the short
// forms -p, -d, -y, -q, -v and -h ("-p NAME", "-pNAME", "-yq"), and "--verify" with or
// without SECONDS. On a wrong line error says what is wrong in one line ("unknown option
// --force", "--port needs a value", "-q and -v do not go together").
ParsedArguments parse_arguments(const QStringList& arguments);

// A port name as --port takes it: COM1 to COM4 (in capitals), a device path (anything with a
// '/') or a well-formed network address (device/PortResolver.h); empty when it is neither.
std::optional<QString> parse_port_name(const QString& text);

// The --help text.
QString usage_text();

}  // namespace halvern::cli
