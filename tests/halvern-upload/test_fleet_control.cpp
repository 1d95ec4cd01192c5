// A fleet stopped or left by the person in front of it, against projector-sim: Ctrl-C and the
// stop question, a service stop (SIGTERM), a dropped session (SIGHUP), and the emergency road
// over several ports; the inventory of what is there and the retry of what failed. The
// program runs on a pseudo-terminal of its own (its controlling terminal and standard input,
// where the person types) with standard error sent elsewhere, as with 2>log.

#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"  // PrintTo for QString
#include "tests/support/ReportFile.h"
#include "tests/support/SimProcess.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

namespace halvern::test {
namespace {

// halvern-upload with a pseudo-terminal as its controlling terminal and standard input.
class OnTerminal {
public:
    OnTerminal(const QStringList& args, const QString& config) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_TRUE(master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);  // closing it here hangs the terminal up
        const std::string slave = ::ptsname(master_);
        process.setChildProcessModifier([slave] {
            ::setsid();
            const int fd = ::open(slave.c_str(), O_RDWR);  // the session's controlling terminal
            ::dup2(fd, 0);
        });
        start_program(process, args, config);
    }
    ~OnTerminal() { hang_up(); }
    // Reads the terminal until it shows text.
    bool screen_shows(const QByteArray& text, int ms = 20000) {
        QElapsedTimer clock;
        clock.start();
        while (!screen.contains(text) && clock.elapsed() < ms) {
            pollfd p{master_, POLLIN, 0};
            char buf[512];
            if (::poll(&p, 1, 50) > 0) {
                const ssize_t n = ::read(master_, buf, sizeof buf);
                if (n <= 0) break;
                screen.append(buf, n);
            }
        }
        return screen.contains(text);
    }
    // Standard error (the log) until it holds text.
    bool log_shows(const QByteArray& text, int ms = 20000) {
        return wait_until(process, log, [&](const QByteArray& e) { return e.contains(text); }, ms);
    }
    void type(const char* keys) { EXPECT_GT(::write(master_, keys, std::strlen(keys)), 0); }
    void signal(int s) { ::kill(static_cast<pid_t>(process.processId()), s); }
    // The session drops: the terminal hangs up.
    void hang_up() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    ProgramResult finish() { return test::finish(process, 30000, log); }

    QProcess process;
    QByteArray screen;
    QByteArray log;

private:
    int master_ = -1;
};

class FleetControl : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
        ASSERT_TRUE(QDir().mkpath(config()));
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString rel() const { return path("rel"); }
    QString config() const { return path("config"); }
    QString report() const { return path("report.jsonl"); }
    QString port(int n) const { return path(QStringLiteral("port%1").arg(n)); }
    // Two projectors: one in standby that goes straight into its transfer, one that is on and
    // cools down for four seconds once switched off.
    QStringList fleet(const QStringList& options, const QString& release) const {
        return options + QStringList{"--port", port(1), "--port", port(2), "--dir", rel(), "--test-poll-interval-ms",
                                     "100", "--report", report(), release};
    }
    // The report's lines by port ("" for the fleet's own line).
    std::map<QString, QJsonObject> lines() const { return report_by_port(report()); }
    void expect_outcome(const QString& port, const QString& outcome, int exit) const {
        SCOPED_TRACE(port.toStdString());
        const auto all = lines();
        ASSERT_TRUE(all.count(port));
        EXPECT_EQ(all.at(port).value("outcome").toString(), outcome);
        EXPECT_EQ(all.at(port).value("exit").toInt(), exit);
    }
    QStringList fleet_questions() const { return messages_of(lines()[""]); }

    QTemporaryDir dir;
};

const QByteArray kStopPrompt = "Stop now? The projector may not start until it is uploaded again. [y/N] ";

// Ctrl-C while one projector is in its transfer and one cools down: the question is asked on
// the terminal, not in the log; the cooling one cools on and is held before upload mode while
// the question waits; Yes leaves it untouched and stops the transfer after its frame.
TEST_F(FleetControl, StopQuestionHoldsTheCoolingProjectorAndYesLeavesItUntouched) {
    SimProcess transferring(port(1), {"--state", "standby", "--baud-pace"});
    SimProcess cooling(port(2), {"--cooldown", "4"});
    ASSERT_TRUE(transferring.ready() && cooling.ready());
    OnTerminal run(fleet({"--yes"}, "DEMO.PJV"), config());
    ASSERT_TRUE(transferring.wait_for("upload mode", 20000));
    ASSERT_TRUE(run.log_shows("Remaining Time:"));
    run.type("\x03");
    ASSERT_TRUE(run.screen_shows(kStopPrompt));
    ASSERT_TRUE(run.log_shows("Held before upload mode until the question is answered."));
    run.type("y\n");
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.code, 8);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(kStopPrompt) + "y"));  // the log has the question and its answer
    expect_outcome(port(1), "cancelled", 6);
    expect_outcome(port(2), "stopped", 9);
    EXPECT_FALSE(cooling.log().contains("upload mode"));
    EXPECT_EQ(fleet_questions().value(1), QString::fromUtf8(kStopPrompt) + "y");
}

// A second Ctrl-C at the stop question means Yes: the run can always be ended from the keyboard.
TEST_F(FleetControl, SecondCtrlCAtTheStopQuestionMeansYes) {
    SimProcess transferring(port(1), {"--state", "standby", "--baud-pace"});
    SimProcess cooling(port(2), {"--cooldown", "4"});
    ASSERT_TRUE(transferring.ready() && cooling.ready());
    OnTerminal run(fleet({"--yes"}, "DEMO.PJV"), config());
    ASSERT_TRUE(transferring.wait_for("upload mode", 20000));
    run.type("\x03");
    ASSERT_TRUE(run.screen_shows(kStopPrompt));
    run.type("\x03");
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.code, 8);
    expect_outcome(port(1), "cancelled", 6);
    expect_outcome(port(2), "stopped", 9);
}

// SIGTERM: the cooling projector never enters upload mode, the transfer under way goes on;
// a second SIGTERM stops it after its frame. Every port has its report line.
TEST_F(FleetControl, ServiceStopKeepsProjectorsOutOfUploadModeThenStopsTheTransfers) {
    SimProcess transferring(port(1), {"--state", "standby", "--baud-pace", "--block-size", "2048"});
    SimProcess cooling(port(2), {"--cooldown", "4"});
    ASSERT_TRUE(transferring.ready() && cooling.ready());
    OnTerminal run(fleet({"--yes"}, "DEMO.PJV"), config());
    ASSERT_TRUE(transferring.wait_for("upload mode", 20000));
    ASSERT_TRUE(run.log_shows("Remaining Time:"));
    run.signal(SIGTERM);
    ASSERT_TRUE(run.log_shows("User canceled device cool down."));
    ASSERT_TRUE(run.log_shows(" Uploaded "));
    run.signal(SIGTERM);
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.code, 8);
    expect_outcome(port(1), "cancelled", 6);
    expect_outcome(port(2), "stopped", 9);
    EXPECT_FALSE(cooling.log().contains("upload mode"));
}

// The session drops while the power-off question waits: the run goes on without its terminal,
// the question is answered No (the projector that is on stays on), the one that cooled down
// meanwhile and was held before upload mode is uploaded, and the log and the report are whole.
TEST_F(FleetControl, HangUpAnswersTheOpenQuestionNoAndTheRunGoesOn) {
    SimProcess cooling(port(1), {"--state", "cooling", "--cooldown", "3"});
    SimProcess on(port(2), {});
    ASSERT_TRUE(cooling.ready() && on.ready());
    OnTerminal run(fleet({}, "SMALL.PJV"), config());
    ASSERT_TRUE(run.screen_shows("to 2 projectors? [y/N] "));
    run.type("y\n");
    ASSERT_TRUE(run.screen_shows("1 projector must be powered off to enter upload mode."));
    ASSERT_TRUE(run.log_shows("Held before upload mode until the question is answered."));
    run.hang_up();
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.code, 8) << r.err.join('\n').toStdString();
    expect_outcome(port(1), "uploaded", 0);
    expect_outcome(port(2), "declined", 7);
    EXPECT_FALSE(on.log().contains("cmd S"));
    EXPECT_EQ(fleet_questions().value(1),
              "1 projector must be powered off to enter upload mode. Is it ok to turn it off? [y/N] n");
    EXPECT_TRUE(r.err.contains(fleet_questions().value(0)));  // the log has every question with its answer
}

// An open question holds up nothing but upload mode: transfers go on, and once every port has
// ended the run ends, the unanswered question counting as No.
TEST_F(FleetControl, UnansweredStopQuestionDoesNotHoldUpTheEndOfTheRun) {
    ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {"--sized", "MID", "6000", rel()}), 0);
    SimProcess one(port(1), {"--state", "standby", "--baud-pace"});
    SimProcess two(port(2), {"--state", "standby", "--baud-pace"});
    ASSERT_TRUE(one.ready() && two.ready());
    OnTerminal run(fleet({"--yes"}, "MID.PJV"), config());
    ASSERT_TRUE(one.wait_for("upload mode", 20000) && two.wait_for("upload mode", 20000));
    run.type("\x03");
    ASSERT_TRUE(run.screen_shows(kStopPrompt));
    const ProgramResult r = run.finish();
    EXPECT_EQ(r.code, 0);
    expect_outcome(port(1), "uploaded", 0);
    expect_outcome(port(2), "uploaded", 0);
    EXPECT_EQ(fleet_questions().value(1), QString::fromUtf8(kStopPrompt) + "n");
}

// One port: SIGTERM during the cool-down keeps the projector out of upload mode (exit 9).
TEST_F(FleetControl, ServiceStopOfOnePortBeforeUploadMode) {
    SimProcess sim(port(1), {"--cooldown", "60"});
    ASSERT_TRUE(sim.ready());
    QProcess p;
    start_program(p, {"--yes", "--port", port(1), "--dir", rel(), "--test-poll-interval-ms", "100", "--report",
                      report(), "DEMO.PJV"}, config());
    QByteArray err;
    ASSERT_TRUE(wait_until(p, err, [](const QByteArray& e) { return e.contains("Remaining Time:"); }, 10000));
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    EXPECT_EQ(finish(p, 10000, err).code, 9);
    expect_outcome(port(1), "stopped", 9);
    EXPECT_FALSE(sim.log().contains("upload mode"));
}

// Emergency mode over several ports asks first; without a terminal and without --yes the
// answer is No: nothing reaches any projector, exit status 7.
TEST_F(FleetControl, EmergencyOverSeveralPortsWithoutATerminalSendsNothing) {
    SimProcess one(port(1), {});
    SimProcess two(port(2), {});
    ASSERT_TRUE(one.ready() && two.ready());
    const ProgramResult r = run_program(fleet({"--emergency"}, "DEMO.PJV"), config());
    EXPECT_EQ(r.code, 7);
    ASSERT_FALSE(r.err.isEmpty());
    EXPECT_TRUE(r.err.first().startsWith("Upload version 01.05 to 2 projectors in emergency mode? No device steps are made"));
    EXPECT_TRUE(r.err.first().endsWith("[y/N] n"));
    for (SimProcess* sim : {&one, &two}) EXPECT_FALSE(sim->log().contains("msg "));
    expect_outcome(port(1), "declined", 7);
    expect_outcome(port(2), "declined", 7);
}

// The inventory asks every projector at once: one line per port in the order given, one
// report line each; a projector that does not answer makes the run incomplete (exit 8).
TEST_F(FleetControl, InventoryOfProjectorsInEveryPowerState) {
    SimProcess on(port(1), {"--model", "PJ-ONE", "--version", "0105"});
    SimProcess cooling(port(2), {"--state", "cooling", "--cooldown", "600", "--model", "PJ-TWO", "--version", "0200"});
    SimProcess standby(port(3), {"--state", "standby", "--model", "PJ-THREE", "--version", "1234"});
    SimProcess odd(port(4), {"--fault", "status3"});  // and nothing on port 5
    ASSERT_TRUE(on.ready() && cooling.ready() && standby.ready() && odd.ready());
    const struct {
        QStringList options;
        QStringList out;
        QStringList outcomes;
        int exit;
        QStringList err;  // the failures, each after its port's name
    } cases[] = {
        {{"--find", "--port", port(3), "--port", port(1), "--port", port(2)},
         {port(3) + "\tPJ-THREE\t12.34\tstandby", port(1) + "\tPJ-ONE\t01.05\ton", port(2) + "\tPJ-TWO\t02.00\tcooling"},
         {"found", "found", "found"}, 0, {}},
        {{"--status", "--port", port(2), "--port", port(4), "--port", port(5)},
         {port(2) + "\t-\t-\tcooling", port(4) + "\t-\t-\t-", port(5) + "\t-\t-\t-"},
         {"status", "device-error", "port-error"}, 8,
         {port(4) + ": Unexpected status code from device (2) 0", port(5) + ": Unable to communicate with serial port.",
          port(5) + ": halvern-upload: " + port(5) + ": not found"}},
    };
    const QStringList keys{"device", "exit", "messages", "model", "outcome", "port", "power", "run", "seconds", "time", "version"};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        QFile::remove(report());
        const ProgramResult r = run_program(c.options + QStringList{"--report", report()}, config());
        EXPECT_EQ(r.code, c.exit);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        const auto all = lines();
        ASSERT_EQ(all.size(), static_cast<std::size_t>(c.out.size()));
        for (qsizetype i = 0; i < c.out.size(); ++i) {
            const QJsonObject line = all.at(c.out[i].section('\t', 0, 0));
            EXPECT_EQ(line.keys(), keys);
            EXPECT_EQ(line.value("outcome").toString(), c.outcomes[i]);
            QStringList fields;
            for (const char* key : {"port", "model", "version", "power"}) fields << line.value(key).toString("-");
            EXPECT_EQ(fields.join('\t'), c.out[i]);  // null where the line has "-"
        }
    }
    EXPECT_EQ(lines().at(port(4)).value("exit").toInt(), 4);
    EXPECT_EQ(lines().at(port(5)).value("exit").toInt(), 3);
}

// A fleet with one failure, then --retry-failed with its report: only the failed port is
// touched again, and once its projector is mended it is uploaded; then nothing is left.
TEST_F(FleetControl, RetryFailedGoesOverOnlyThePortThatFailed) {
    SimProcess good(port(1), {"--state", "standby"});
    auto bad = std::make_unique<SimProcess>(port(2), QStringList{"--state", "standby", "--fault", "status3"});
    ASSERT_TRUE(good.ready() && bad->ready());
    EXPECT_EQ(run_program(fleet({"--yes"}, "SMALL.PJV"), config()).code, 8);
    expect_outcome(port(2), "device-error", 4);
    const QByteArray good_log = good.log();
    bad.reset();
    bad = std::make_unique<SimProcess>(port(2), QStringList{"--state", "standby"});
    ASSERT_TRUE(bad->ready());
    const QStringList retry{"--yes", "--retry-failed", report(), "--report", report(), "--dir", rel(), "SMALL.PJV"};
    EXPECT_EQ(run_program(retry, config()).code, 0);
    expect_outcome(port(2), "uploaded", 0);
    EXPECT_EQ(good.log(), good_log);
    const ProgramResult nothing_left = run_program(retry, config());
    EXPECT_EQ(nothing_left.code, 2);
    EXPECT_EQ(nothing_left.err,
              QStringList{"halvern-upload: the report " + report() + " holds no port that failed with " + rel() + "/SMALL.PJV"});
}

// --jobs 1: one transfer at a time, by the simulators' clocks from upload mode to the reset;
// the others are queued before upload mode, and their plain lines say so once.
TEST_F(FleetControl, OneJobAtATimeQueuesTheOthersBeforeUploadMode) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (int n = 1; n <= 3; ++n) {
        sims.push_back(std::make_unique<SimProcess>(port(n), QStringList{"--state", "standby"}));
        ASSERT_TRUE(sims.back()->ready());
    }
    const ProgramResult r = run_program(fleet({"--yes", "--jobs", "1", "--port", port(3)}, "SMALL.PJV"), config());
    EXPECT_EQ(r.code, 0) << r.err.join('\n').toStdString();
    std::vector<std::pair<double, double>> uploads;
    const QRegularExpression clock(R"(\[clock ([0-9.]+)\])");
    for (const auto& sim : sims) {
        const QString log = QString::fromUtf8(sim->log());
        QList<double> at;
        for (auto it = clock.globalMatch(log); it.hasNext();) at << it.next().captured(1).toDouble();
        ASSERT_EQ(at.size(), 2) << log.toStdString();
        uploads.emplace_back(at[0], at[1]);
    }
    std::sort(uploads.begin(), uploads.end());
    for (std::size_t i = 1; i < uploads.size(); ++i) EXPECT_GT(uploads[i].first, uploads[i - 1].second);
    qsizetype queued = 0;
    for (int n = 1; n <= 3; ++n) {
        const qsizetype said = r.err.filter(port(n) + " ").filter("Queued before upload mode until a transfer ends.").size();
        EXPECT_LE(said, 1);
        queued += said;
        expect_outcome(port(n), "uploaded", 0);
    }
    EXPECT_GE(queued, 1);
}

}  // namespace
}  // namespace halvern::test
