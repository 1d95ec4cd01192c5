// The command line: what each form asks for, and the forms that are refused.

#include "halvern-upload/Arguments.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString

#include <gtest/gtest.h>

namespace halvern::cli {
namespace {

QStringList split(const char* text) { return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); }

struct Good {
    const char* line;
    Command command;
    const char* release;
    const char* port;  // nullptr: not given
    int baud;          // 0: not given
    const char* dir;
    bool yes;
    bool emergency;
};

TEST(Arguments, AcceptedForms) {
    const Good cases[] = {
        {"DEMO.PJV", Command::Upload, "DEMO.PJV", nullptr, 0, nullptr, false, false},
        {"--port com4 --baud 9600 X.PJV", Command::Upload, "X.PJV", "COM4", 9600, nullptr, false, false},
        {"--port=/dev/ttyUSB1 --baud=19200 --dir=/srv/rel X.PJV", Command::Upload, "X.PJV", "/dev/ttyUSB1", 19200,
         "/srv/rel", false, false},
        {"--emergency --dir /r X.PJV --yes", Command::Upload, "X.PJV", nullptr, 0, "/r", true, true},
        {"-- --odd.PJV", Command::Upload, "--odd.PJV", nullptr, 0, nullptr, false, false},
        {"--find --port COM1", Command::Find, "", "COM1", 0, nullptr, false, false},
        {"--list --dir /r", Command::List, "", nullptr, 0, "/r", false, false},
        {"--dir=/r --check rel/x.swv", Command::Check, "rel/x.swv", nullptr, 0, "/r", false, false},
        {"--version", Command::Version, "", nullptr, 0, nullptr, false, false},
        {"-h", Command::Help, "", nullptr, 0, nullptr, false, false},
    };
    for (const Good& c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedArguments parsed = parse_arguments(split(c.line));
        ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
        const Options& o = *parsed.options;
        EXPECT_EQ(o.command, c.command);
        EXPECT_EQ(o.release, QString::fromUtf8(c.release));
        EXPECT_EQ(o.port, c.port ? std::optional<QString>(QString::fromUtf8(c.port)) : std::nullopt);
        EXPECT_EQ(o.baud, c.baud ? std::optional<std::int32_t>(c.baud) : std::nullopt);
        EXPECT_EQ(o.dir, c.dir ? std::optional<QString>(QString::fromUtf8(c.dir)) : std::nullopt);
        EXPECT_EQ(o.yes, c.yes);
        EXPECT_EQ(o.emergency, c.emergency);
    }
}

TEST(Arguments, SeveralPortsAndTheReport) {
    const struct {
        const char* line;
        QStringList ports;
        const char* ports_file;
        const char* report;
    } cases[] = {
        {"--port COM1 --port=/dev/ttyUSB0 --port com1 X.PJV",
         {QStringLiteral("COM1"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("COM1")}, nullptr, nullptr},
        {"--ports hall.txt --report=out.jsonl X.PJV", {}, "hall.txt", "out.jsonl"},
        {"--port tcp://hall:4001 --ports hall.txt --emergency X.PJV", {QStringLiteral("tcp://hall:4001")}, "hall.txt",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedArguments parsed = parse_arguments(split(c.line));
        ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
        EXPECT_EQ(parsed.options->ports, c.ports);
        // The first --port is the port of a single upload.
        EXPECT_EQ(parsed.options->port, c.ports.isEmpty() ? std::nullopt : std::optional<QString>(c.ports.first()));
        EXPECT_EQ(parsed.options->ports_file, c.ports_file ? std::optional<QString>(QString::fromUtf8(c.ports_file))
                                                           : std::nullopt);
        EXPECT_EQ(parsed.options->report,
                  c.report ? std::optional<QString>(QString::fromUtf8(c.report)) : std::nullopt);
    }
    EXPECT_TRUE(usage_text().contains(QLatin1String("otherwise 8")));
}

TEST(Arguments, HiddenTestOptions) {
    const ParsedArguments parsed =
        parse_arguments(split("--test-poll-interval-ms 20 --test-read-timeout-ms=300 X.PJV"));
    ASSERT_TRUE(parsed.options);
    EXPECT_EQ(parsed.options->poll_interval_ms, 20);
    EXPECT_EQ(parsed.options->read_timeout_ms, 300);
    EXPECT_FALSE(usage_text().contains(QLatin1String("--test-")));
}

TEST(Arguments, RefusedForms) {
    const struct {
        const char* line;
        const char* error;
    } cases[] = {
        {"", "no release file given"},
        {"A.PJV B.PJV", "only one release file at a time"},
        {"DEMO.MOT", "DEMO.MOT is not a release file (.PJV or .SWV)"},
        {"--port", "--port needs a value"},
        {"--port COM5 X.PJV", "--port takes COM1 to COM4, a device path or a network address, not COM5"},
        {"--baud 57600 X.PJV", "--baud takes 9600, 19200 or 38400, not 57600"},
        {"--yes=no X.PJV", "--yes takes no value"},
        {"--force X.PJV", "unknown option --force"},
        {"--find --status", "only one of --find, --status, --list, --list-ports, --check, --help and --version at a time"},
        {"--check", "no release file given"},
        {"--check --port COM1 X.PJV", "--check takes only --dir and a release file"},
        {"--list-ports X.PJV", "a release file goes only with an upload"},
        {"--find --emergency", "--emergency and --yes go only with an upload"},
        {"--ports a --ports b X.PJV", "--ports goes only once"},
        {"--list --report r.jsonl", "--report goes only with an upload"},
        {"--test-poll-interval-ms 0 X.PJV", "--test-poll-interval-ms takes a number of milliseconds"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedArguments parsed = parse_arguments(split(c.line));
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.error, QString::fromUtf8(c.error));
    }
}

}  // namespace
}  // namespace halvern::cli
