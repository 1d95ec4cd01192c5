// The command line: what each form asks for, and the forms that are refused.

#include "halvern-upload/Arguments.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString

#include <gtest/gtest.h>

namespace halvern::cli {
namespace {

QStringList split(const char* text) { return QString::fromUtf8(text).split(QLatin1Char(' '), Qt::SkipEmptyParts); }

// The options as one line, only those set: "upload X.PJV ports=COM4 baud=9600 yes".
QString describe(const Options& o) {
    static const char* const commands[] = {"upload", "check", "find", "status", "list", "list-ports", "help", "version"};
    QStringList f{QString::fromLatin1(commands[static_cast<int>(o.command)])};
    if (!o.release.isEmpty()) f << o.release;
    if (!o.ports.isEmpty()) f << "ports=" + o.ports.join(',');
    auto text = [&](const char* name, const std::optional<QString>& v) {
        if (v) f << QString::fromLatin1(name) + '=' + *v;
    };
    auto number = [&](const char* name, const auto& v) {
        if (v) f << QString::fromLatin1(name) + '=' + QString::number(*v);
    };
    auto flag = [&](const char* name, bool set) {
        if (set) f << QString::fromLatin1(name);
    };
    text("file", o.ports_file), text("report", o.report), number("baud", o.baud), text("dir", o.dir);
    flag("yes", o.yes), flag("emergency", o.emergency), flag("skip", o.skip_current);
    text("retry", o.retry_failed), number("verify", o.verify_seconds), number("jobs", o.jobs);
    flag("quiet", o.verbosity == Options::Verbosity::Quiet), flag("verbose", o.verbosity == Options::Verbosity::Verbose);
    text("logs", o.log_dir), number("poll", o.poll_interval_ms), number("read", o.read_timeout_ms);
    return f.join(' ');
}

TEST(Arguments, AcceptedForms) {
    const struct {
        const char* line;
        const char* options;
    } cases[] = {
        {"DEMO.PJV", "upload DEMO.PJV"},
        {"--port com4 --baud 9600 X.PJV", "upload X.PJV ports=COM4 baud=9600"},
        {"--port=/dev/ttyUSB1 --baud=19200 --dir=/srv/rel X.PJV", "upload X.PJV ports=/dev/ttyUSB1 baud=19200 dir=/srv/rel"},
        {"-pCOM3 -d/r X.PJV -y --emergency", "upload X.PJV ports=COM3 dir=/r yes emergency"},
        {"-- --odd.PJV", "upload --odd.PJV"},
        {"--find --port COM1", "find ports=COM1"},
        {"--list --dir /r", "list dir=/r"},
        {"--dir=/r --check rel/x.swv", "check rel/x.swv dir=/r"},
        {"--version", "version"},
        {"-h", "help"},
        {"--port COM1 --port=/dev/ttyUSB0 -p com1 X.PJV", "upload X.PJV ports=COM1,/dev/ttyUSB0,COM1"},
        {"--ports hall.txt --report=out.jsonl --port tcp://hall:4001 X.PJV",
         "upload X.PJV ports=tcp://hall:4001 file=hall.txt report=out.jsonl"},
        {"--test-poll-interval-ms 20 --test-read-timeout-ms=300 X.PJV", "upload X.PJV poll=20 read=300"},
        // --verify takes a whole number after it as its SECONDS, never another option's value or the release.
        {"--skip-current --verify X.PJV", "upload X.PJV skip verify=120"},
        {"--verify 30 --jobs=2 X.PJV", "upload X.PJV verify=30 jobs=2"},
        {"X.PJV --verify=45 -q --retry-failed r.jsonl", "upload X.PJV retry=r.jsonl verify=45 quiet"},
        {"--log-dir 7 --verify -yv X.PJV", "upload X.PJV yes verify=120 verbose logs=7"},
        {"--find -p COM1 -p COM2 --report r.jsonl --log-dir=l -q", "find ports=COM1,COM2 report=r.jsonl quiet logs=l"},
        {"--status --ports hall.txt -v", "status file=hall.txt verbose"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        const ParsedArguments parsed = parse_arguments(split(c.line));
        ASSERT_TRUE(parsed.options) << parsed.error.toStdString();
        EXPECT_EQ(describe(*parsed.options), QString::fromUtf8(c.options));
        // The first --port is the port of a single upload.
        EXPECT_EQ(parsed.options->port, parsed.options->ports.isEmpty() ? std::nullopt
                                                                        : std::optional(parsed.options->ports.first()));
    }
    EXPECT_TRUE(usage_text().contains(QLatin1String("otherwise 8")));
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
        {"--list --report r.jsonl", "--report goes only with an upload, --find or --status"},
        {"--list-ports --port COM1 --port COM2", "several ports go only with an upload, --find or --status"},
        {"-x X.PJV", "unknown option -x"},
        {"X.PJV -p", "-p needs a value"},
        {"--log-dir= X.PJV", "--log-dir needs a value"},
        {"-qv X.PJV", "-q and -v do not go together"},
        {"--verify 0 X.PJV", "--verify takes a positive whole number of seconds, not 0"},
        {"--verify=soon X.PJV", "--verify takes a positive whole number of seconds, not soon"},
        {"--jobs 0 X.PJV", "--jobs takes a whole number from 1, not 0"},
        {"--skip-current --emergency X.PJV", "--skip-current does not go with --emergency: the projector is not identified"},
        {"--find --verify", "--skip-current, --retry-failed, --verify and --jobs go only with an upload"},
        {"--list --log-dir d", "--log-dir goes only with an upload, --find or --status"},
        {"--check --jobs 2 X.PJV", "--check takes only --dir and a release file"},
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
