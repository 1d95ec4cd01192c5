// What a fleet upload leaves for the technician: the live table on terminals of every size,
// the plain lines on a terminal that cannot redraw, and the report, a record that runs only
// ever add to.

#include "halvern-upload/FleetFormat.h"
#include "halvern-upload/Report.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace halvern::cli {
namespace {

const QString kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_";

PortRow row(const QString& port, Phase phase, const QString& message = {}) {
    PortRow r;
    r.port = port;
    r.model = "PJ-900X";
    r.version = "01.05";
    r.phase = phase;
    r.percent = 7;
    r.time_left = "4:10";
    r.cool_down_seconds = 125;
    r.message = message;
    return r;
}

TEST(FleetTable, WholeNamesWhereTheyFitAndTheEndThatTellsAdaptersApart) {
    const std::vector<PortRow> rows{
        row(kById + "A10K3XZ-if00-port0", Phase::Uploading),
        row(kById + "B20M4QY-if00-port0", Phase::Failed, "Unable to receive acknowledgement of flash to ROM."),
        row(kById + "C30N5RW-if00-port0", Phase::Asking),
        row("COM2", Phase::CoolingDown),
    };
    const struct {
        int width;
        QStringList lines;
    } cases[] = {
        {140,
         {"PORT                                                           MODEL    O/S    PHASE",
          kById + "A10K3XZ-if00-port0  PJ-900X  01.05  uploading   7% 4:10 left",
          kById + "B20M4QY-if00-port0  PJ-900X  01.05  failed: Unable to receive acknowledgement of flash to ROM.",
          kById + "C30N5RW-if00-port0  PJ-900X  01.05  waiting for an answer",
          "COM2                                                           PJ-900X  01.05  cooling down 02:05"}},
        {80,
         {"PORT                                  MODEL    O/S    PHASE",
          "…_FT232R_USB_UART_A10K3XZ-if00-port0  PJ-900X  01.05  uploading   7% 4:10 left",
          "…_FT232R_USB_UART_B20M4QY-if00-port0  PJ-900X  01.05  failed: Unable to receive",
          "…_FT232R_USB_UART_C30N5RW-if00-port0  PJ-900X  01.05  waiting for an answer",
          "COM2                                  PJ-900X  01.05  cooling down 02:05"}},
        // Narrow: the model and then the version give way; the phase keeps its words whole.
        {40,
         {"PORT              PHASE", "…K3XZ-if00-port0  uploading   7% 4:10", "…M4QY-if00-port0  failed: Unable to",
          "…N5RW-if00-port0  waiting for an answer", "COM2              cooling down 02:05"}},
        {30,
         {"PORT    PHASE", "…port0  uploading   7% 4:10", "…port0  failed: Unable to", "…port0  waiting for an answer",
          "COM2    cooling down 02:05"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.width);
        const QStringList lines = table_lines(rows, c.width, 24);
        EXPECT_EQ(lines, c.lines);
        for (const QString& l : lines) EXPECT_LT(l.size(), c.width);
    }
}

TEST(FleetTable, TallerThanTheTerminalItShowsCountsAndTheActiveAndFailedPortsFirst) {
    std::vector<PortRow> rows;
    for (int n = 0; n < 32; ++n) {
        const Phase phase = n % 8 == 3 ? Phase::Uploading : n == 30 ? Phase::Failed : n < 20 ? Phase::Done : Phase::Waiting;
        rows.push_back(row(QStringLiteral("/dev/ttyUSB%1").arg(n), phase));
    }
    const QStringList lines = table_lines(rows, 80, 24);
    // One line is left for the cursor, so that the redraw never scrolls the top away.
    ASSERT_EQ(lines.size(), 23);
    EXPECT_TRUE(lines[0].startsWith("PORT"));
    EXPECT_EQ(lines[1], "32 ports: 10 waiting, 4 uploading, 17 done, 1 failed");
    QStringList shown;
    for (const QString& l : lines.mid(2)) shown << l.section(' ', 0, 0).mid(11);
    EXPECT_EQ(shown.join(' '), "0 1 2 3 4 5 6 11 19 20 21 22 23 24 25 26 27 28 29 30 31");
    // The counts are cut between phases only.
    EXPECT_EQ(table_lines(rows, 40, 5).value(1), "32 ports: 10 waiting, 4 uploading");
    EXPECT_EQ(table_lines(rows, 80, 40).size(), 33);
}

// The ports a retry goes over: the latest line of each port for the release decides; the lines
// of other releases and of no port are passed over; a report that cannot be read, holds a line
// that is not JSON or a name that is not a port is refused.
TEST(RetryFailed, TheLatestLineOfEachPortForTheReleaseDecides) {
    QTemporaryDir dir;
    const QString path = dir.filePath("r.jsonl"), release = "/venue/DEMO.PJV";
    auto line = [&](const QJsonValue& port, const char* outcome, const QString& of = "/venue/DEMO.PJV") {
        return QJsonDocument(QJsonObject{{"port", port}, {"release", of}, {"outcome", outcome}}).toJson(QJsonDocument::Compact) + "\n";
    };
    const struct {
        QByteArray report;  // null: no file
        QStringList ports;
        QString error;
    } cases[] = {
        {line("COM1", "failed") + line("COM2", "port-error") + line("COM3", "uploaded") + line("COM1", "verified") + "\n" +
             line("COM3", "not-verified") + line("COM4", "stopped"),
         {"COM2", "COM3", "COM4"}, {}},
        {line("COM1", "failed", "/venue/OLD.PJV") + line(QJsonValue(), "declined") + line("COM2", "current"), {}, {}},
        {line("COM1", "failed") + "{\"port\":\"COM2\",\"outc", {}, "the report " + path + " is not one JSON object a line: line 2"},
        {QByteArray(), {}, "cannot read the report " + path + ": No such file or directory"},
        {line("COM1", "failed") + line("COM9", "failed"), {}, "the report " + path + " names a port that --port does not take: line 2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report.toStdString());
        QFile file(path);
        file.remove();
        ASSERT_TRUE(c.report.isNull() || (file.open(QIODevice::WriteOnly) && file.write(c.report) == c.report.size()));
        file.close();
        QString error;
        EXPECT_EQ(failed_ports(path, release, error).value_or(QStringList{"none"}), c.error.isEmpty() ? c.ports : QStringList{"none"});
        EXPECT_EQ(error, c.error);
    }
}

// The program itself: a fleet of ports that do not exist (each fails at once) or a fleet that
// is declined, which is all that the report and the terminal need.
class FleetOutput : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {dir.filePath("rel")}), 0);
    }
    QStringList fleet(const QStringList& options, const QString& release = "DEMO.PJV") const {
        return options + QStringList{"--port", dir.filePath("a"), "--port", dir.filePath("b"), "--dir", dir.filePath("rel"), release};
    }
    test::ProgramResult run(const QStringList& args) const { return test::run_program(args, dir.filePath("config")); }
    // The lines of the ports in the report (the fleet's questions have a line of their own).
    QList<QJsonObject> report() const {
        QFile f(dir.filePath("report.jsonl"));
        QList<QJsonObject> lines;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray& l : f.readAll().split('\n'))
                if (const QJsonObject o = QJsonDocument::fromJson(l).object(); o.value("port").isString()) lines << o;
        return lines;
    }
    QTemporaryDir dir;
};

TEST_F(FleetOutput, TheReportIsOnlyEverAddedTo) {
    const QString path = dir.filePath("report.jsonl");
    QFile earlier(path);
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("{\"port\":\"earlier\"}\n");
    earlier.close();
    run(fleet({"--report", path}));                                       // declined: two lines
    EXPECT_EQ(run(fleet({"--yes", "--report", path}, "NONE.PJV")).code, 2);  // no release: none
    EXPECT_EQ(run({"--port", dir.filePath("a"), "--report", path, "--dir", dir.filePath("rel"), "DEMO.PJV"}).code, 7);
    const QList<QJsonObject> lines = report();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0].value("port").toString(), "earlier");
    const QRegularExpression iso("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$");
    for (const QJsonObject& l : lines.mid(1)) {
        EXPECT_TRUE(iso.match(l.value("time").toString()).hasMatch()) << l.value("time").toString().toStdString();
        EXPECT_EQ(l.value("outcome").toString(), "declined");
    }
    EXPECT_EQ(lines[1].value("run"), lines[2].value("run"));  // one run, one identifier
    EXPECT_NE(lines[2].value("run"), lines[3].value("run"));
    EXPECT_FALSE(lines[3].value("run").toString().isEmpty());
}

TEST_F(FleetOutput, AReportThatCannotBeWrittenIsAnErrorAndTheDashIsStandardOutput) {
    const struct {
        QString report;
        QString error;  // the last line on standard error; empty: none
    } cases[] = {
        {"/dev/full", "halvern-upload: cannot write the report /dev/full: No space left on device"},
        {dir.filePath("none/report.jsonl"),
         "halvern-upload: cannot write the report " + dir.filePath("none/report.jsonl") + ": No such file or directory"},
        {"-", QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report.toStdString());
        const test::ProgramResult r = run(fleet({"--report", c.report}));
        if (!c.error.isEmpty()) {
            EXPECT_EQ(r.code, kExitReportFailed);
            EXPECT_EQ(r.err.value(r.err.size() - 1), c.error);
            continue;
        }
        // The report's lines on standard output, the summary on standard error.
        QStringList ports;
        for (const QString& l : r.out) {
            const QJsonObject o = QJsonDocument::fromJson(l.toUtf8()).object();
            EXPECT_FALSE(o.value("run").toString().isEmpty()) << l.toStdString();
            if (o.value("port").isString()) ports << o.value("port").toString() + " " + o.value("outcome").toString();
        }
        EXPECT_EQ(ports, (QStringList{dir.filePath("a") + " declined", dir.filePath("b") + " declined"}));
        EXPECT_TRUE(r.err.value(r.err.size() - 3).startsWith("PORT "));
    }
}

// Under a pseudo-terminal: a terminal that cannot move the cursor gets the plain lines, one
// whose terminfo entry can gets the table.
TEST_F(FleetOutput, ATerminalThatCannotRedrawGetsThePlainLines) {
    for (const char* term : {"dumb", "no-such-terminal", "xterm"}) {
        SCOPED_TRACE(term);
        int master = -1, slave = -1;
        char name[128] = {};
        winsize size{24, 80, 0, 0};
        ASSERT_EQ(::openpty(&master, &slave, name, nullptr, &size), 0);
        QProcess p;
        QProcessEnvironment env = test::environment_with_config(dir.filePath("config"));
        env.insert("TERM", term);
        p.setProcessEnvironment(env);
        p.setStandardErrorFile(QString::fromLocal8Bit(name));
        p.start(HALVERN_UPLOAD_PATH, fleet({"--yes"}));
        ASSERT_TRUE(p.waitForFinished(30000));
        ::fcntl(master, F_SETFL, O_NONBLOCK);
        QByteArray err;
        char buffer[4096];
        for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) err.append(buffer, n);
        ::close(slave);
        ::close(master);
        const bool table = QByteArray(term) == "xterm";
        EXPECT_EQ(err.contains('\x1b'), table);
        const QRegularExpression plain(QRegularExpression::escape(dir.filePath("a")) + " \\d\\d:\\d\\d:\\d\\d ");
        EXPECT_EQ(QString::fromLocal8Bit(err).contains(plain), !table);
        EXPECT_EQ(err.contains("PHASE"), table);
    }
}

}  // namespace
}  // namespace halvern::cli
