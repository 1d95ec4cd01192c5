// What a fleet upload shows and writes: the table's lines, the innermost message of a chain,
// the report line, the summary, the fleet's exit status; and which port names reach one
// device, and the ports file.

#include "common/SettingsStore.h"
#include "halvern-upload/Console.h"
#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/PortIdentity.h"
#include "halvern-upload/Restart.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

namespace halvern::cli {
namespace {

// (The table's columns and widths are test_fleet_output.cpp's.) A projector that never said
// what it is shows dashes.
TEST(FleetFormat, AnUnidentifiedProjectorShowsDashesInTheTable) {
    PortRow b;
    b.port = "COM2";
    b.phase = Phase::Failed;
    b.message = "Unable to find any devices connect to this computer.";
    EXPECT_EQ(table_lines({b}, 200).value(1), "COM2  -      -    failed: Unable to find any devices connect to this computer.");
}

TEST(FleetFormat, InnermostMessageOfAChain) {
    using M = Message;
    const M searching{M::Status, "Searching for devices...", 1};
    const M starting{M::Status, "Starting upload...", 1};
    const M confirm{M::Question, "Are you sure?", 0, true};
    const M ack{M::Box, "Unable to receive acknowledgement\nof flash to ROM."};
    const M flash{M::Box, "Unable to flash to ROM."};
    const M failure{M::Status, "There was an error uploading the operating system to the device.", 3};
    const M standby{M::Status, "Unable to turn device off.", 3};
    const M close{M::Box, "Error 6 closing serial port."};
    const struct {
        std::vector<M> messages;
        QString innermost;
    } cases[] = {
        {{}, QString()},
        {{searching, confirm, starting}, QString()},
        {{searching, confirm, starting, ack, flash, failure}, "Unable to receive acknowledgement of flash to ROM."},
        {{searching, starting, standby}, standby.text},
        // A box before the last progress line belongs to an earlier, finished step.
        {{close, searching, starting, standby}, standby.text},
        {{searching, starting, standby, close}, close.text},
    };
    for (const auto& c : cases) EXPECT_EQ(innermost_message(c.messages), c.innermost);
}

TEST(FleetFormat, ReportLineIsOneJsonObjectWithEveryKey) {
    PortOutcome o;
    o.port = "COM2";
    o.device = "/dev/ttyUSB1";
    o.model = "PX \"5\"";
    o.version = "01.00";
    o.release = "/srv/rel/DEMO.PJV";
    o.release_version = "01.05";
    o.outcome = Outcome::StandbyRefused;
    o.messages = {{Message::Question, "Turn off?", 0, false}, {Message::Status, "Unable to turn device off.", 3}};
    o.seconds = 12.345;
    EXPECT_EQ(report_line(o),
              QByteArray(R"({"port":"COM2","device":"/dev/ttyUSB1","model":"PX \"5\"","version":"01.00",)"
                         R"("release":"/srv/rel/DEMO.PJV","release_version":"01.05","outcome":"device-error",)"
                         R"("exit":4,"messages":["Turn off? [y/N] n","Unable to turn device off."],)"
                         R"("seconds":12.3})"));
    // A projector that never identified itself has no model and no version: null, not "".
    PortOutcome emergency;
    emergency.port = "COM1";
    const QJsonObject parsed = QJsonDocument::fromJson(report_line(emergency)).object();
    EXPECT_TRUE(parsed.value("model").isNull());
    EXPECT_TRUE(parsed.value("version").isNull());
    EXPECT_EQ(parsed.value("outcome").toString(), "uploaded");
    EXPECT_FALSE(report_line(o).contains('\n'));
}

TEST(FleetFormat, SummaryAndExitStatus) {
    PortOutcome a;
    a.port = "/dev/ttyUSB0";
    a.model = "PX-5";
    a.version = "01.00";
    a.seconds = 301.4;
    PortOutcome b;
    b.port = "COM2";
    b.outcome = Outcome::PortNotOpened;
    b.seconds = 3725;
    EXPECT_EQ(summary_lines({a, b}),
              (QStringList{"PORT          MODEL  VERSION  OUTCOME     TIME",
                           "/dev/ttyUSB0  PX-5   01.00    uploaded    5:01",
                           "COM2          -      -        port-error  1:02:05"}));
    EXPECT_EQ(fleet_exit_code({a, a}), 0);
    EXPECT_EQ(fleet_exit_code({a, b}), 8);
    EXPECT_EQ(fleet_exit_code({}), 8);
}

TEST(FleetFormat, OutcomesOfTheVersionChecks) {
    const struct {
        Outcome outcome;
        bool stopped;
        QString name;
        int exit;
    } cases[] = {
        {Outcome::Current, false, "current", 0},
        {Outcome::Verified, true, "verified", 0},
        {Outcome::WrongVersion, false, "not-verified", 11},
        {Outcome::NoRestart, true, "not-verified", 11},  // the wait for the restart stopped on request
        {Outcome::TransferFailed, true, "cancelled", 6},
    };
    for (const auto& c : cases) {
        PortOutcome o;
        o.outcome = c.outcome;
        o.stopped = c.stopped;
        EXPECT_EQ(outcome_name(o), c.name);
        EXPECT_EQ(exit_status(c.outcome), c.exit);
        EXPECT_EQ(status_icon(c.outcome), c.exit == 0 ? 1 : 3);
        EXPECT_EQ(fleet_exit_code({PortOutcome{}, o}), c.exit == 0 ? 0 : 8);
    }
    // The version a projector shows against the release's line, both as shown.
    const struct {
        QString shown, release;
        bool same;
    } versions[] = {{"01.05", "01.05", true}, {"01.50", "01.05", false}, {"1.05", "01.05", false},
                    {"AB.CD", "AB.CD", true}, {"", "", false}};
    for (const auto& v : versions) EXPECT_EQ(runs_release(v.shown, v.release), v.same) << v.shown.toStdString();
}

// The table on a terminal: each block is drawn over the last one, a line in between starts a
// new block below it, and whatever a longer block left is erased. An answered question takes
// the place of the block it ended, so no copy of the table is left above the next one.
TEST(FleetConsole, BlocksAreRedrawnInPlace) {
    int pipe_fds[2];
    ASSERT_EQ(::pipe(pipe_fds), 0);
    const int saved = ::dup(2);
    ASSERT_GE(saved, 0);
    ::dup2(pipe_fds[1], 2);
    {
        StdConsole console(terminal_abilities("xterm"));
        console.redraw_lines({"PORT", "COM1  identifying"});
        console.redraw_lines({"PORT", "COM1  done", "COM2  done"});
        console.line("question [y/N] y");
        console.redraw_lines({"T", "stop? [y/N] "});
        console.line_over_block("stop? [y/N] n");
        console.redraw_lines({"U"});
    }
    ::dup2(saved, 2);
    ::close(saved);
    ::close(pipe_fds[1]);
    QByteArray written;
    char buffer[1024];
    for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) written.append(buffer, n);
    ::close(pipe_fds[0]);
    EXPECT_EQ(written, QByteArray("\rPORT\x1b[K\n\rCOM1  identifying\x1b[K\n\x1b[J"
                                  "\x1b[2A\rPORT\x1b[K\n\rCOM1  done\x1b[K\n\rCOM2  done\x1b[K\n\x1b[J"
                                  "question [y/N] y\n"
                                  "\rT\x1b[K\n\rstop? [y/N] \x1b[K\n\x1b[J"
                                  "\x1b[2A\r\x1b[Jstop? [y/N] n\n"
                                  "\rU\x1b[K\n\x1b[J"));
}

class Ports : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    QString path(const char* name) const { return dir.filePath(QString::fromUtf8(name)); }
    void link(const char* name, const QString& target) const { ASSERT_TRUE(QFile::link(target, path(name))); }
    void write(const char* name, const QByteArray& text) const {
        QFile f(path(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir;
};

TEST_F(Ports, TwoNamesOfOneDeviceAreFound) {
    link("a", "/dev/null");
    link("b", path("a"));  // a link to a link
    link("z", "/dev/zero");
    SettingsStore settings(path("settings.ini"));
    settings.set("Ports", "COM2", " /dev/zero ");
    const struct {
        QStringList names;
        QString refusal;  // empty: accepted
    } cases[] = {
        {{path("a"), path("z")}, QString()},
        {{path("a"), path("b")}, path("a") + " and " + path("b") + " name the same device /dev/null"},
        {{"/dev/null", "/dev/../dev/null"}, "/dev/null and /dev/../dev/null name the same device /dev/null"},
        {{"COM2", path("z")}, "COM2 and " + path("z") + " name the same device /dev/zero"},
        {{"COM1", "COM2"}, QString()},
        // Names of nothing (yet) are told apart by their paths.
        {{path("none1"), path("none2")}, QString()},
        {{path("none1"), path("x/../none1")}, path("none1") + " and " + path("x/../none1") +
                                                   " name the same device " + path("none1")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.names.join(' ').toStdString());
        EXPECT_EQ(same_device_named_twice(c.names, settings).value_or(QString()), c.refusal);
    }
}

TEST_F(Ports, PortsFile) {
    write("good", "# hall left\n/dev/ttyUSB0\n\n  com2  \n/dev/ttyUSB1 # spare\r\n");
    write("bad", "/dev/ttyUSB0\nttyUSB1\n");
    write("empty", "# nothing yet\n\n");
    QString error;
    EXPECT_EQ(read_ports_file(path("good"), error), (QStringList{"/dev/ttyUSB0", "COM2", "/dev/ttyUSB1"}));
    EXPECT_FALSE(read_ports_file(path("bad"), error));
    EXPECT_EQ(error, path("bad") + ":2: not a port (COM1 to COM4, a device path or a network address): ttyUSB1");
    EXPECT_FALSE(read_ports_file(path("empty"), error));
    EXPECT_EQ(error, "no port in " + path("empty"));
    EXPECT_FALSE(read_ports_file(path("missing"), error));
    EXPECT_EQ(error, "cannot read the ports file " + path("missing"));
    EXPECT_FALSE(read_ports_file(dir.path(), error));
}

}  // namespace
}  // namespace halvern::cli
