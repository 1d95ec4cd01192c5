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
#include <QTemporaryDir>

#include <signal.h>

namespace halvern::test {
namespace {

using Sim = SimProcess;

const QString kConfirmed = "Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] y";

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

}  // namespace
}  // namespace halvern::test
