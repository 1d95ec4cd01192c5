// The program itself against projector-sim on a pseudo-terminal: whole uploads, the files the
// projector received, the exit status of each ending and the lines on standard error.

#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString
#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <map>

#include <signal.h>

namespace halvern::test {
namespace {

using Sim = SimProcess;

const QString kSuccess = "The operating system has been uploaded successfully!";
const QString kFailure = "There was an error uploading the operating system to the device.";
const QString kSearching = "Searching for devices...";
const QString kConfirmed = "Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] y";
const QString kStarting = "Starting upload...";
const QString kPowerOff = "Device must be powered off to enter upload mode.  Is it ok to turn device off? [y/N] y";
const QStringList kDemo = {"BOOT", "MAIN", "DATA"};

struct ReportLine {
    QJsonObject json;
    QString outcome;
    int exit = -1;
    QStringList messages;
};

// The lines of a --report file by port; every line is one JSON object.
std::map<QString, ReportLine> report_by_port(const QString& path) {
    std::map<QString, ReportLine> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error{};
        ReportLine r;
        r.json = QJsonDocument::fromJson(line, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        r.outcome = r.json.value("outcome").toString();
        r.exit = r.json.value("exit").toInt(-1);
        for (const QJsonValue& v : r.json.value("messages").toArray()) r.messages << v.toString();
        lines[r.json.value("port").toString()] = r;
    }
    return lines;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
        ASSERT_TRUE(QDir().mkpath(dump()));
        ASSERT_TRUE(QDir().mkpath(config()));
    }
    void TearDown() override {
        // The user's settings are only read.
        EXPECT_TRUE(QDir(config()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString rel() const { return path("rel"); }
    QString dump() const { return path("dump"); }
    QString config() const { return path("config"); }
    QString port(int n = 0) const { return path(QStringLiteral("port%1").arg(n)); }
    ProgramResult run(const QStringList& args) const { return run_program(args, config()); }
    void start(QProcess& p, const QStringList& args) const { start_program(p, args, config()); }

    QTemporaryDir dir;
};

TEST_F(Program, NormalUploadThroughStandbyAndCoolDownThenEmergencyUploads) {
    Sim sim(port(), {"--cooldown", "1", "--dump", dump()});
    ASSERT_TRUE(sim.ready());
    const ProgramResult r =
        run({"--yes", "--port", port(), "--dir", rel(), "--test-poll-interval-ms", "100", "DEMO.PJV"});
    EXPECT_EQ(r.code, 0);
    const QStringList m = r.messages();
    ASSERT_GE(m.size(), 6);
    EXPECT_EQ(m.mid(0, 4), (QStringList{kConfirmed, kStarting, kPowerOff,
                                        "This projector needs time to cool down before it can start receiving the "
                                        "operating system from the pc."}));
    for (const QString& l : m.mid(4, m.size() - 5)) EXPECT_TRUE(l.startsWith("Remaining Time: 0 min "));
    EXPECT_EQ(m.last(), kSuccess);
    EXPECT_EQ(r.err.filter("Uploaded 100%").size(), 1);
    EXPECT_TRUE(flashed_release(rel(), dump(), kDemo));

    // The emergency road says nothing but its result; the release's name is found in any case.
    for (const char* release : {"SMALL.PJV", "demo.pjv"}) {
        const ProgramResult e = run({"--emergency", "--port", port(), "--dir", rel(), release});
        EXPECT_EQ(e.code, 0) << release;
        EXPECT_EQ(e.messages(), QStringList{kSuccess});
    }
    EXPECT_TRUE(flashed_release(rel(), dump(), QStringList{"TINY"} + kDemo));
}

TEST_F(Program, NoReplyToTheFirstFlashGivesItsChainAndExitSix) {
    Sim sim(port(), {"--state", "standby", "--fault", "no-reply:9"});
    ASSERT_TRUE(sim.ready());
    const QString report = path("one.jsonl");
    const ProgramResult r = run({"--yes", "--port", port(), "--test-read-timeout-ms", "300", "--report", report,
                                 rel() + "/DEMO.PJV"});
    EXPECT_EQ(r.code, 6);
    EXPECT_EQ(r.err, (QStringList{kConfirmed, kStarting, "Unable to receive acknowledgement of flash to ROM.",
                                  "Unable to flash to ROM.", "Error sending frame 1 of BOOT.mot file.",
                                  "Error uploading BOOT.mot", kFailure}));
    // One port: the road is as without --report, and the report has its one line.
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.begin()->first, port());
    EXPECT_EQ(lines.begin()->second.outcome, "failed");
    EXPECT_EQ(lines.begin()->second.exit, 6);
    EXPECT_EQ(lines.begin()->second.messages, r.err);
}

TEST_F(Program, CtrlCDuringTheCoolDownCancelsWithExitFive) {
    Sim sim(port(), {"--cooldown", "60"});
    ASSERT_TRUE(sim.ready());
    QProcess p;
    start(p, {"--yes", "--port", port(), "--dir", rel(), "--test-poll-interval-ms", "100", "DEMO.PJV"});
    QByteArray err;
    ASSERT_TRUE(wait_until(p, err, [](const QByteArray& e) { return e.contains("Remaining Time:"); }, 10000));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const ProgramResult r = finish(p, 10000, err);
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.err.value(r.err.size() - 1), "User canceled device cool down.");
}

TEST_F(Program, ExitStatusOfPortAndDeviceFailures) {
    Sim refusing(port(1), {"--fault", "refuse-standby"});
    Sim silent(port(2), {"--state", "standby", "--fault", "silent"});
    Sim hung(port(3), {});
    Sim odd_status(port(4), {"--fault", "status3"});
    ASSERT_TRUE(refusing.ready() && silent.ready() && hung.ready() && odd_status.ready());
    hung.hang();
    const QStringList upload = {"--yes", "--dir", rel(), "--test-read-timeout-ms", "300", "DEMO.PJV"};
    const QStringList quick = {"--test-read-timeout-ms", "300"};
    const struct {
        QStringList args;
        int code;
        QString last;
    } cases[] = {
        {QStringList{"--port", port(9)} + upload, 3, "Unable to connect to serial port."},
        {{"--port", port(9), "--find"}, 3, "Unable to connect to serial port."},
        {{"--port", port(9), "--status"}, 3, "Unable to communicate with serial port."},
        {QStringList{"--port", port(1)} + upload, 4, "Unable to turn device off."},
        {QStringList{"--port", port(3)} + upload, 4, "Unable to get device status."},
        {QStringList{"--port", port(3), "--find"} + quick, 4, "Unable to find any devices connect to this computer."},
        {QStringList{"--port", port(3), "--status"} + quick, 4, "Unable to query device status."},
        {QStringList{"--port", port(4)} + upload, 4, "Unexpected status code from device. (1) 0"},
        {QStringList{"--port", port(2)} + upload, 6, kFailure},
        {{"--port", port(1), "DEMO.PJV"}, 2,
         "halvern-upload: no release file DEMO.PJV in " + QFileInfo(HALVERN_UPLOAD_PATH).absolutePath()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ProgramResult r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        QStringList err = r.err;
        if (c.code == 3) {  // a port that would not open: the status line, then its cause
            EXPECT_EQ(err.value(err.size() - 1), "halvern-upload: " + port(9) + ": not found");
            if (!err.isEmpty()) err.removeLast();
        }
        EXPECT_EQ(err.value(err.size() - 1), c.last);
    }
}

TEST_F(Program, ListsEveryReleaseOfTheDirectory) {
    QFile::copy(rel() + "/SMALL.PJV", rel() + "/a.pjv");
    QFile::copy(rel() + "/DEMO.PJV", rel() + "/b.Swv");
    QFile::copy(rel() + "/DEMO.PJV", rel() + "/c.PJVX");
    const ProgramResult r = run({"--list", "--dir", rel()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, (QStringList{"Small Release\t02.00\ta.pjv", "Demo Release\t01.05\tb.Swv",
                                  "Demo Release\t01.05\tDEMO.PJV", "Small Release\t02.00\tSMALL.PJV"}));
    EXPECT_TRUE(r.err.isEmpty());

    const ProgramResult missing = run({"--list", "--dir", path("none")});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.out.isEmpty());
}

TEST_F(Program, FourProjectorsInEveryStateAreAllUploadedInBothModes) {
    for (const bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency" : "normal");
        const int base = emergency ? 20 : 10;
        QStringList dumps;
        for (int i = 0; i < 4; ++i) {
            dumps << path(QStringLiteral("dump%1").arg(base + i));
            ASSERT_TRUE(QDir().mkpath(dumps.last()));
        }
        // On, cooling down, in standby, and one whose second and sixth frames are lost.
        Sim on(port(base), {"--cooldown", "1", "--dump", dumps[0]});
        Sim cooling(port(base + 1), {"--state", "cooling", "--cooldown", "1", "--dump", dumps[1]});
        Sim standby(port(base + 2), {"--state", "standby", "--dump", dumps[2]});
        Sim dropping(port(base + 3), {"--state", "standby", "--fault", "drop-frame:2,6", "--dump", dumps[3]});
        ASSERT_TRUE(on.ready() && cooling.ready() && standby.ready() && dropping.ready());
        const QString report = path(QStringLiteral("report%1.jsonl").arg(base));
        // A lost frame is sent again after the read time-out.
        QStringList args{emergency ? "--emergency" : "--yes", "--dir", rel(), "--test-poll-interval-ms", "100",
                         "--test-read-timeout-ms", "1000", "--report", report};
        for (int i = 0; i < 4; ++i) args << "--port" << port(base + i);
        const ProgramResult r = run(args << "DEMO.PJV");
        EXPECT_EQ(r.code, 0);
        for (int i = 0; i < 4; ++i) EXPECT_TRUE(flashed_release(rel(), dumps[i], kDemo)) << i;
        EXPECT_TRUE(dropping.log().contains("dropped (fault)"));

        const auto lines = report_by_port(report);
        ASSERT_EQ(lines.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const ReportLine& line = lines.at(port(base + i));
            EXPECT_EQ(line.outcome, "uploaded");
            EXPECT_EQ(line.exit, 0);
            EXPECT_EQ(line.json.value("release_version").toString(), "01.05");
            EXPECT_EQ(line.json.value("release").toString(), rel() + "/DEMO.PJV");
            EXPECT_EQ(line.json.value("device").toString(), QFileInfo(port(base + i)).canonicalFilePath());
            EXPECT_EQ(line.json.value("model").toString(), emergency ? "" : "SIM-PROJECTOR");
            EXPECT_EQ(line.json.value("version").toString(), emergency ? "" : "01.00");
            EXPECT_EQ(line.messages, (emergency ? QStringList{kSuccess}
                                      : i == 0  ? QStringList{kSearching, kConfirmed, kStarting, kPowerOff, kSuccess}
                                                : QStringList{kSearching, kConfirmed, kStarting, kSuccess}));
        }
        ASSERT_EQ(r.out.size(), 5);
        EXPECT_TRUE(r.out.at(0).startsWith("PORT "));
        for (const QString& l : r.out.mid(1)) EXPECT_TRUE(l.contains(" uploaded ")) << l.toStdString();
        // Without a terminal: plain lines, each prefixed with its port and a time, no escapes.
        EXPECT_FALSE(r.err.join('\n').contains('\x1b'));
        const QRegularExpression prefixed(
            QStringLiteral("^%1/port[0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2} ").arg(QRegularExpression::escape(dir.path())));
        for (const QString& l : r.err.mid(emergency ? 0 : 1)) EXPECT_TRUE(prefixed.match(l).hasMatch()) << l.toStdString();
        if (!emergency) {
            EXPECT_EQ(r.err.value(0), "Upload version 01.05 to 4 projectors? [y/N] y");
        }
    }
}

TEST_F(Program, FailuresInAFleetAreEachReportedWithTheirOwnChain) {
    const QString good_dump = path("good");
    ASSERT_TRUE(QDir().mkpath(good_dump));
    Sim good(port(1), {"--state", "standby", "--dump", good_dump});
    Sim silent(port(2), {});
    Sim refusing(port(3), {"--fault", "refuse-standby"});
    Sim pulled(port(4), {"--state", "standby", "--baud-pace"});  // paced, so that its transfer can be cut
    ASSERT_TRUE(good.ready() && silent.ready() && refusing.ready() && pulled.ready());
    silent.hang();

    const QString report = path("report.jsonl");
    QProcess p;
    start(p, {"--yes", "--port", port(1), "--port", port(2), "--port", port(3), "--port", port(4), "--dir", rel(),
              "--test-read-timeout-ms", "2000", "--report", report, "DEMO.PJV"});
    // The simulator dies once the transfer has begun: the first progress line of its port.
    const QByteArray progress = (port(4) + ' ').toLocal8Bit();
    QByteArray err;
    ASSERT_TRUE(wait_until(p, err, [&](const QByteArray& e) {
        for (const QByteArray& l : e.split('\n'))
            if (l.startsWith(progress) && l.contains(" Uploaded ")) return true;
        return false;
    }, 30000));
    pulled.kill();
    const ProgramResult r = finish(p, 60000, err);
    EXPECT_EQ(r.code, 8);
    EXPECT_TRUE(flashed_release(rel(), good_dump, kDemo));

    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 4u);
    const struct {
        QString port;
        QString outcome;
        int exit;
        QStringList messages;  // the whole list; for the pulled cable its first three and last
    } expected[] = {
        {port(1), "uploaded", 0, {kSearching, kConfirmed, kStarting, kSuccess}},
        {port(2), "device-error", 4, {kSearching, "Unable to find any devices connect to this computer."}},
        {port(3), "device-error", 4, {kSearching, kConfirmed, kStarting, kPowerOff, "Unable to turn device off."}},
        {port(4), "failed", 6, {kSearching, kConfirmed, kStarting, kFailure}},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.port.toStdString());
        const ReportLine& line = lines.at(e.port);
        EXPECT_EQ(line.outcome, e.outcome);
        EXPECT_EQ(line.exit, e.exit);
        EXPECT_EQ(line.json.value("model").toString(), e.port == port(2) ? "" : "SIM-PROJECTOR");
        if (e.port != port(4)) {
            EXPECT_EQ(line.messages, e.messages);
        } else {
            ASSERT_GE(line.messages.size(), 6);
            EXPECT_EQ(line.messages.mid(0, 3), e.messages.mid(0, 3));
            EXPECT_EQ(line.messages.last(), kFailure);
            // Its chain names the file whose transfer was cut.
            EXPECT_EQ(line.messages.filter(QRegularExpression("^Error uploading [A-Z]+\\.mot$")).size(), 1);
        }
        // Each chain is on standard error too, every line under its own port.
        QStringList printed;
        for (const QString& l : r.err)
            if (l.startsWith(e.port + ' ') && !l.contains(" Uploaded ")) printed << l.mid(e.port.size() + 10);
        EXPECT_EQ(printed, line.messages);
    }
    EXPECT_EQ(r.out.size(), 5);
}

TEST_F(Program, TheSameDeviceNamedTwiceIsRefusedBeforeAnythingStarts) {
    Sim sim(port(1), {"--state", "standby"});
    ASSERT_TRUE(sim.ready());
    ASSERT_TRUE(QFile::link(port(1), port(2)));  // a second link to the same line
    const QString device = QFileInfo(port(1)).canonicalFilePath();
    QFile list(path("ports.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((port(2) + '\n').toLocal8Bit());
    list.close();
    const struct {
        QStringList ports;
        QString first, second;
    } cases[] = {
        {{"--port", port(1), "--port", port(1)}, port(1), port(1)},
        {{"--port", port(1), "--port", port(2)}, port(1), port(2)},
        {{"--port", device, "--ports", list.fileName()}, device, port(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ports.join(' ').toStdString());
        const ProgramResult r = run(c.ports + QStringList{"--yes", "--dir", rel(), "DEMO.PJV"});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, QStringList{QString("halvern-upload: %1 and %2 name the same device %3")
                                         .arg(c.first, c.second, device)});
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_FALSE(sim.log().contains("cmd"));  // nothing reached the projector
}

TEST_F(Program, CtrlCBeforeAnyTransferStopsTheWholeFleetAtOnce) {
    Sim first(port(1), {"--state", "cooling", "--cooldown", "60"});
    Sim second(port(2), {"--cooldown", "60"});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = path("report.jsonl");
    QProcess p;
    start(p, {"--yes", "--port", port(1), "--port", port(2), "--dir", rel(), "--test-poll-interval-ms", "100",
              "--report", report, "DEMO.PJV"});
    QByteArray err;
    ASSERT_TRUE(wait_until(p, err, [](const QByteArray& e) {
        const QStringList lines = lines_of(e);
        for (int n : {1, 2})
            if (lines.filter(QRegularExpression(QStringLiteral("/port%1 .* Remaining Time:").arg(n))).isEmpty())
                return false;
        return true;
    }, 15000));
    // No projector is in its transfer: nothing is asked, and both waits end.
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const ProgramResult r = finish(p, 10000, err);
    EXPECT_EQ(r.code, 8);
    EXPECT_TRUE(r.err.filter("Stop now?").isEmpty());
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& [name, line] : lines) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(line.outcome, "cancelled");
        EXPECT_EQ(line.exit, 5);
        EXPECT_EQ(line.messages.value(line.messages.size() - 1), "User canceled device cool down.");
    }
}

TEST_F(Program, CtrlCDuringTransfersAsksOnceForTheWholeFleet) {
    // Paced: the one block of SMALL.PJV takes over four seconds on each line.
    Sim first(port(1), {"--baud-pace"});
    Sim second(port(2), {"--baud-pace"});
    ASSERT_TRUE(first.ready() && second.ready());
    QProcess p;
    start(p, {"--emergency", "--port", port(1), "--port", port(2), "--dir", rel(), "SMALL.PJV"});
    // The emergency road guards both projectors from their first open on.
    ASSERT_TRUE(p.waitForStarted(5000));
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const ProgramResult r = finish(p, 30000);
    // Without a terminal the answer is No, given once, and both transfers go on.
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err.filter("Stop now?"),
              QStringList{"Stop now? The projector may not start until it is uploaded again. [y/N] n"});
    EXPECT_EQ(r.err.filter(kSuccess).size(), 2);
}

// halvern-upload on a terminal of its own, through script(1): what it draws, and keys typed.
class OnTerminal {
public:
    OnTerminal(const QString& config, const QStringList& arguments) {
        // script(1) runs the command through $SHELL -c; exec makes the program the terminal's foreground
        // process itself, so that Ctrl-C reaches it alone and not a shell that dies of it first (dash does).
        QString command = "exec " + quoted(HALVERN_UPLOAD_PATH);
        for (const QString& argument : arguments) command += ' ' + quoted(argument);
        process_.setProcessEnvironment(environment_with_config(config));
        process_.start("script", {"-q", "-e", "-c", command, "/dev/null"});
    }
    static bool available() { return !QStandardPaths::findExecutable("script").isEmpty(); }
    // Waits until the terminal has shown text count times.
    bool wait_for(const QByteArray& text, int count = 1) {
        QElapsedTimer clock;
        clock.start();
        while (shown.count(text) < count && clock.elapsed() < 20000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            shown += process_.readAllStandardOutput();
        }
        return shown.count(text) >= count;
    }
    void type(const QByteArray& keys) { process_.write(keys); }
    // The exit status once it has ended.
    int finish() {
        if (!process_.waitForFinished(30000)) {
            process_.kill();
            process_.waitForFinished(1000);
            return -1;
        }
        shown += process_.readAllStandardOutput();
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }
    QByteArray shown;

private:
    static QString quoted(QString word) { return '\'' + word.replace('\'', "'\\''") + '\''; }
    QProcess process_;
};

TEST_F(Program, OnATerminalTheTableIsDrawnAndAConfirmedStopCancelsEveryPort) {
    if (!OnTerminal::available()) GTEST_SKIP() << "no script(1)";
    Sim first(port(1), {"--baud-pace"});
    Sim second(port(2), {"--baud-pace"});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = path("report.jsonl");
    OnTerminal t(config(), {"--emergency", "--port", port(1), "--port", port(2), "--dir", rel(), "--report", report,
                            "DEMO.PJV"});
    // Both rows of the table in the transfer, then Ctrl-C, then Yes.
    ASSERT_TRUE(t.wait_for("uploading ", 2));
    t.type("\x03");
    ASSERT_TRUE(t.wait_for("Stop now?"));
    t.type("y\n");
    EXPECT_EQ(t.finish(), 8);
    EXPECT_EQ(t.shown.count("Stop now?"), 1);
    EXPECT_TRUE(t.shown.contains("\x1b[3A"));  // the table of a header and two ports, redrawn in place
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& [name, line] : lines) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(line.outcome, "cancelled");
        EXPECT_EQ(line.exit, 6);
        EXPECT_EQ(line.messages.value(0), "Stopped on request.");
        EXPECT_EQ(line.messages.value(line.messages.size() - 1), kFailure);
    }
}

TEST_F(Program, CtrlCAtThePowerOffQuestionLeavesEveryProjectorOn) {
    if (!OnTerminal::available()) GTEST_SKIP() << "no script(1)";
    Sim first(port(1), {});
    Sim second(port(2), {});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = path("report.jsonl");
    OnTerminal t(config(), {"--port", port(1), "--port", port(2), "--dir", rel(), "--report", report, "DEMO.PJV"});
    ASSERT_TRUE(t.wait_for("Upload version 01.05 to 2 projectors? [y/N] "));
    t.type("y\n");
    ASSERT_TRUE(t.wait_for("2 projectors must be powered off to enter upload mode. Is it ok to turn them off? [y/N] "));
    t.type("\x03");
    EXPECT_EQ(t.finish(), 8);
    for (Sim* sim : {&first, &second}) EXPECT_FALSE(sim->log().contains("cmd S"));  // no standby request
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 2u);
    for (const auto& [name, line] : lines) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(line.outcome, "cancelled");
        EXPECT_EQ(line.messages, (QStringList{kSearching, kConfirmed, kStarting, kPowerOff.chopped(1) + "n"}));
    }
}

}  // namespace
}  // namespace halvern::test
