// The program itself against projector-sim on a pseudo-terminal: the exit status of each ending
// and the last line on standard error. (A whole upload is the device server tests' and the fleet
// tests', tests/e2e and test_fleet_control.cpp; a transfer that fails is the device server
// test's, tests/e2e/test_main_window_e2e.cpp.)

#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString
#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <map>

#include <signal.h>

namespace halvern::test {
namespace {

using Sim = SimProcess;

const QString kSuccess = "The operating system has been uploaded successfully!";
const QString kConfirmed = "Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] y";

// The report on standard output (--report -), by port: outcome, exit status, last message.
std::map<QString, QString> reported(const ProgramResult& r) {
    std::map<QString, QString> by_port;
    for (const QString& line : r.out) {
        const QJsonObject o = QJsonDocument::fromJson(line.toUtf8()).object();
        if (o.value("port").isString())
            by_port[o.value("port").toString()] = QStringLiteral("%1 %2 %3").arg(
                o.value("outcome").toString(), QString::number(o.value("exit").toInt()), o.value("messages").toArray().last().toString());
    }
    return by_port;
}

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
        ASSERT_TRUE(QDir().mkpath(config()));
    }
    void TearDown() override {
        // The user's settings are only read.
        EXPECT_TRUE(QDir(config()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString rel() const { return path("rel"); }
    QString config() const { return path("config"); }
    QString port(int n = 0) const { return path(QStringLiteral("port%1").arg(n)); }
    ProgramResult run(const QStringList& args) const { return run_program(args, config()); }
    void start(QProcess& p, const QStringList& args) const { start_program(p, args, config()); }

    QTemporaryDir dir;
};

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

TEST_F(Program, ExitStatusOfPortDeviceReleaseAndAnswerFailures) {
    Sim refusing(port(1), {"--fault", "refuse-standby"});
    ASSERT_TRUE(refusing.ready());
    const QStringList upload = {"--dir", rel(), "--test-read-timeout-ms", "300", "DEMO.PJV"};
    const struct {
        QStringList args;
        int code;
        QString last;
    } cases[] = {
        {QStringList{"--yes", "--port", port(9)} + upload, 3, "Unable to connect to serial port."},
        {QStringList{"--yes", "--port", port(1)} + upload, 4, "Unable to turn device off."},
        {QStringList{"--port", port(1)} + upload, 7, kConfirmed.chopped(1) + "n"},
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

TEST_F(Program, SkipCurrentLeavesAProjectorOnTheReleaseAlone) {
    Sim current(port(1), {"--version", "0105"});
    Sim older(port(2), {"--state", "standby"});
    ASSERT_TRUE(current.ready() && older.ready());
    const ProgramResult fleet = run({"--yes", "--skip-current", "--report", "-", "--port", port(1), "--port", port(2),
                                     "--dir", rel(), "DEMO.PJV"});
    EXPECT_EQ(fleet.code, 0);
    const QString left = "The projector already runs version 01.05; it was left as it was.";
    EXPECT_EQ(reported(fleet), (std::map<QString, QString>{{port(1), "current 0 " + left}, {port(2), "uploaded 0 " + kSuccess}}));
    // One port alone is identified too, and is asked nothing.
    const ProgramResult single = run({"--skip-current", "--port", port(1), "--dir", rel(), "DEMO.PJV"});
    EXPECT_EQ(single.code, 0);
    EXPECT_EQ(single.err, (QStringList{"Searching for devices...", left}));
    const QByteArray log = current.log();
    EXPECT_EQ(log.count("cmd I"), 2);
    EXPECT_FALSE(log.contains("cmd Q") || log.contains("cmd S") || log.contains("cmd U")) << log.toStdString();
}

TEST_F(Program, VerifyWaitsForTheRestartAndComparesTheVersion) {
    Sim back(port(1), {"--state", "standby", "--restart", "1"});
    Sim keeps(port(2), {"--state", "standby", "--restart", "1", "--fault", "keep-version"});
    Sim gone(port(3), {"--state", "standby", "--restart", "60"});
    ASSERT_TRUE(back.ready() && keeps.ready() && gone.ready());
    const QStringList wait = {"--yes", "--dir", rel(), "--test-poll-interval-ms", "200", "--test-read-timeout-ms", "300"};
    const ProgramResult fleet =
        run(wait + QStringList{"--verify", "20", "--report", "-", "--port", port(1), "--port", port(2), "small.pjv"});
    EXPECT_EQ(fleet.code, 8);
    const QString wrong = "The projector runs version 01.00 after the upload, not version 02.00 of the release.";
    EXPECT_EQ(reported(fleet), (std::map<QString, QString>{{port(1), "verified 0 The projector restarted on version 02.00."},
                                                           {port(2), "not-verified 11 " + wrong}}));
    EXPECT_TRUE(keeps.log().contains("bytes ignored (restarting)"));
    const struct {
        QString port, verify, last;
    } singles[] = {
        {port(2), "--verify=20", wrong},
        {port(3), "--verify=1", "The projector did not answer within 1 second after the upload."},
    };
    for (const auto& c : singles) {
        const ProgramResult r = run(wait + QStringList{c.verify, "--port", c.port, "small.pjv"});
        EXPECT_EQ(r.code, 11);
        EXPECT_EQ(r.err.value(r.err.size() - 1), c.last);
    }
}

}  // namespace
}  // namespace halvern::test
