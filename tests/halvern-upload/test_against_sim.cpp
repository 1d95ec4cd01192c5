// The program itself against projector-sim on a pseudo-terminal: whole uploads, the files the
// projector received, the exit status of each ending and the lines on standard error.

#include "tests/support/RecordingReporter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <map>
#include <memory>

#include <signal.h>

namespace {

const QString kSuccess = QStringLiteral("The operating system has been uploaded successfully!");
const QString kFailure = QStringLiteral("There was an error uploading the operating system to the device.");

QStringList lines_of(const QByteArray& text) {
    QStringList out = QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
    if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
    return out;
}

// A simulated projector on a pseudo-terminal reached through a link in the test's directory.
class Sim {
public:
    Sim(const QString& link, QStringList args) {
        args << QStringLiteral("--link") << link;
        process_.setReadChannel(QProcess::StandardError);
        process_.start(QStringLiteral(PROJECTOR_SIM_PATH), args);
        QElapsedTimer clock;
        clock.start();
        while (!err_.contains("ready ") && clock.elapsed() < 5000 && process_.state() != QProcess::NotRunning) {
            process_.waitForReadyRead(100);
            err_ += process_.readAllStandardError();
        }
        ready_ = err_.contains("ready ");
    }
    ~Sim() {
        resume();
        process_.terminate();
        if (!process_.waitForFinished(3000)) process_.kill();
        process_.waitForFinished(1000);
    }
    bool ready() const { return ready_; }
    // A projector that hangs: it holds the line but answers nothing.
    void hang() { ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP); }
    void resume() { ::kill(static_cast<pid_t>(process_.processId()), SIGCONT); }
    // A projector whose cable is pulled: the simulator dies and its end of the line closes.
    void kill_now() {
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished(3000);
    }
    // Everything the simulator logged so far.
    QByteArray log() {
        while (process_.state() == QProcess::Running && process_.waitForReadyRead(100))
            err_ += process_.readAllStandardError();
        return err_ += process_.readAllStandardError();
    }

private:
    QProcess process_;
    QByteArray err_;
    bool ready_ = false;
};

struct Result {
    int code = -1;
    QStringList out;
    QStringList err;
    // Standard error without the progress lines.
    QStringList messages() const {
        QStringList m;
        for (const QString& l : err)
            if (!l.startsWith(QLatin1String("Uploaded "))) m << l;
        return m;
    }
};

// The lines of a --report file by port; every line is one JSON object.
std::map<QString, QJsonObject> report_by_port(const QString& path) {
    std::map<QString, QJsonObject> lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return lines;
    for (const QByteArray& line : file.readAll().split('\n')) {
        if (line.isEmpty()) continue;
        QJsonParseError error{};
        const QJsonObject object = QJsonDocument::fromJson(line, &error).object();
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        lines[object.value(QStringLiteral("port")).toString()] = object;
    }
    return lines;
}

QStringList strings(const QJsonValue& array) {
    QStringList out;
    for (const QJsonValue& v : array.toArray()) out << v.toString();
    return out;
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
    QString rel() const { return dir.filePath(QStringLiteral("rel")); }
    QString dump() const { return dir.filePath(QStringLiteral("dump")); }
    QString config() const { return dir.filePath(QStringLiteral("config")); }
    QString port(int n = 0) const { return dir.filePath(QStringLiteral("port%1").arg(n)); }

    QProcessEnvironment environment() const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config());
        return env;
    }
    void start(QProcess& p, const QString& program, const QStringList& args) const {
        p.setProcessEnvironment(environment());
        p.start(program, args);
        p.closeWriteChannel();  // standard input is no terminal
    }
    Result finish(QProcess& p, int ms = 30000) const {
        Result r;
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished(1000);
            ADD_FAILURE() << "did not end in time";
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = lines_of(p.readAllStandardOutput());
        r.err = lines_of(p.readAllStandardError());
        return r;
    }
    Result run(QStringList args) const {
        QProcess p;
        start(p, QStringLiteral(HALVERN_UPLOAD_PATH), args);
        return finish(p);
    }

    // Every dumped file is the release's expected window, then FF to the end of its last block.
    void expect_dumps(const QStringList& names, const QString& where = QString()) const {
        const QString dumped = where.isEmpty() ? dump() : where;
        for (const QString& name : names) {
            SCOPED_TRACE(name.toStdString());
            QFile expected(rel() + QLatin1Char('/') + name + QStringLiteral(".expected.bin"));
            QFile got(dumped + QLatin1Char('/') + name + QStringLiteral(".bin"));
            ASSERT_TRUE(expected.open(QIODevice::ReadOnly));
            ASSERT_TRUE(got.open(QIODevice::ReadOnly));
            const QByteArray e = expected.readAll();
            const QByteArray g = got.readAll();
            ASSERT_GE(g.size(), e.size());
            EXPECT_EQ(g.size() % 16364, 0);
            EXPECT_LT(g.size() - e.size(), 16364);
            EXPECT_TRUE(g.left(e.size()) == e);
            EXPECT_EQ(g.mid(e.size()), QByteArray(g.size() - e.size(), '\xFF'));
        }
    }

    QTemporaryDir dir;
};

TEST_F(Program, NormalUploadThroughStandbyAndCoolDown) {
    Sim sim(port(), {QStringLiteral("--cooldown"), QStringLiteral("1"), QStringLiteral("--dump"), dump()});
    ASSERT_TRUE(sim.ready());
    const Result r = run({QStringLiteral("--yes"), QStringLiteral("--port"), port(), QStringLiteral("--dir"), rel(),
                          QStringLiteral("--test-poll-interval-ms"), QStringLiteral("100"), QStringLiteral("DEMO.PJV")});
    EXPECT_EQ(r.code, 0);
    const QStringList m = r.messages();
    ASSERT_GE(m.size(), 6);
    EXPECT_EQ(m.mid(0, 4),
              (QStringList{QStringLiteral("Are you sure you want to upload version 01.05 to the Orvelle device "
                                          "selected? [y/N] y"),
                           QStringLiteral("Starting upload..."),
                           QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn "
                                          "device off? [y/N] y"),
                           QStringLiteral("This projector needs time to cool down before it can start receiving "
                                          "the operating system from the pc.")}));
    for (const QString& l : m.mid(4, m.size() - 5)) EXPECT_TRUE(l.startsWith(QLatin1String("Remaining Time: 0 min ")));
    EXPECT_EQ(m.last(), kSuccess);
    EXPECT_EQ(r.err.filter(QStringLiteral("Uploaded 100%")).size(), 1);
    expect_dumps({QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")});
}

TEST_F(Program, EmergencyUploadWritesTheReleaseWindows) {
    Sim sim(port(), {QStringLiteral("--dump"), dump()});
    ASSERT_TRUE(sim.ready());
    for (const char* release : {"SMALL.PJV", "demo.pjv"}) {
        const Result r = run({QStringLiteral("--emergency"), QStringLiteral("--port"), port(), QStringLiteral("--dir"),
                              rel(), QLatin1String(release)});
        EXPECT_EQ(r.code, 0) << release;
        EXPECT_EQ(r.messages(), QStringList{kSuccess});
    }
    expect_dumps({QStringLiteral("TINY"), QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")});
}

TEST_F(Program, NoReplyToTheFirstFlashGivesItsChainAndExitSix) {
    Sim sim(port(), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--fault"),
                     QStringLiteral("no-reply:9")});
    ASSERT_TRUE(sim.ready());
    const QString report = dir.filePath(QStringLiteral("one.jsonl"));
    const Result r = run({QStringLiteral("--yes"), QStringLiteral("--port"), port(), QStringLiteral("--test-read-timeout-ms"),
                          QStringLiteral("300"), QStringLiteral("--report"), report, rel() + QStringLiteral("/DEMO.PJV")});
    EXPECT_EQ(r.code, 6);
    // One port: the road is as without --report, and the report has its one line.
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines.begin()->first, port());
    EXPECT_EQ(lines.begin()->second.value(QStringLiteral("outcome")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(lines.begin()->second.value(QStringLiteral("exit")).toInt(-1), 6);
    EXPECT_EQ(strings(lines.begin()->second.value(QStringLiteral("messages"))), r.err);
    EXPECT_EQ(r.err, (QStringList{
                         QStringLiteral("Are you sure you want to upload version 01.05 to the Orvelle device "
                                        "selected? [y/N] y"),
                         QStringLiteral("Starting upload..."),
                         QStringLiteral("Unable to receive acknowledgement of flash to ROM."),
                         QStringLiteral("Unable to flash to ROM."),
                         QStringLiteral("Error sending frame 1 of BOOT.mot file."),
                         QStringLiteral("Error uploading BOOT.mot"),
                         kFailure,
                     }));
}

TEST_F(Program, CtrlCDuringTheCoolDownCancelsWithExitFive) {
    Sim sim(port(), {QStringLiteral("--cooldown"), QStringLiteral("60")});
    ASSERT_TRUE(sim.ready());
    QProcess p;
    start(p, QStringLiteral(HALVERN_UPLOAD_PATH),
          {QStringLiteral("--yes"), QStringLiteral("--port"), port(), QStringLiteral("--dir"), rel(),
           QStringLiteral("--test-poll-interval-ms"), QStringLiteral("100"), QStringLiteral("DEMO.PJV")});
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains("Remaining Time:") && clock.elapsed() < 10000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
    }
    ASSERT_TRUE(err.contains("Remaining Time:"));
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    Result r = finish(p, 10000);
    EXPECT_EQ(r.code, 5);
    EXPECT_EQ(r.err.value(r.err.size() - 1, QString()), QStringLiteral("User canceled device cool down."));
}

TEST_F(Program, ExitStatusOfPortAndDeviceFailures) {
    Sim refusing(port(1), {QStringLiteral("--fault"), QStringLiteral("refuse-standby")});
    Sim silent(port(2), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--fault"),
                         QStringLiteral("silent")});
    Sim hung(port(3), {});
    ASSERT_TRUE(refusing.ready() && silent.ready() && hung.ready());
    hung.hang();
    const QStringList upload = {QStringLiteral("--yes"), QStringLiteral("--dir"), rel(),
                                QStringLiteral("--test-read-timeout-ms"), QStringLiteral("300"),
                                QStringLiteral("DEMO.PJV")};
    const struct {
        QStringList args;
        int code;
        QString last;
    } cases[] = {
        {QStringList{QStringLiteral("--port"), port(9)} + upload, 3, QStringLiteral("Unable to connect to serial port.")},
        {{QStringLiteral("--port"), port(9), QStringLiteral("--find")}, 3, QStringLiteral("Unable to connect to serial port.")},
        {{QStringLiteral("--port"), port(9), QStringLiteral("--status")}, 3,
         QStringLiteral("Unable to communicate with serial port.")},
        {QStringList{QStringLiteral("--port"), port(1)} + upload, 4, QStringLiteral("Unable to turn device off.")},
        {QStringList{QStringLiteral("--port"), port(3)} + upload, 4, QStringLiteral("Unable to get device status.")},
        {{QStringLiteral("--port"), port(3), QStringLiteral("--test-read-timeout-ms"), QStringLiteral("300"),
          QStringLiteral("--find")},
         4, QStringLiteral("Unable to find any devices connect to this computer.")},
        {{QStringLiteral("--port"), port(3), QStringLiteral("--test-read-timeout-ms"), QStringLiteral("300"),
          QStringLiteral("--status")},
         4, QStringLiteral("Unable to query device status.")},
        {QStringList{QStringLiteral("--port"), port(2)} + upload, 6, kFailure},
        {{QStringLiteral("--port"), port(1), QStringLiteral("DEMO.PJV")}, 2,
         QStringLiteral("halvern-upload: no release file DEMO.PJV in ") +
             QFileInfo(QStringLiteral(HALVERN_UPLOAD_PATH)).absolutePath()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const Result r = run(c.args);
        EXPECT_EQ(r.code, c.code);
        QStringList err = r.err;
        if (c.code == 3) {  // a port that would not open: the status line, then its cause
            EXPECT_EQ(err.value(err.size() - 1, QString()), QStringLiteral("halvern-upload: ") + port(9) +
                                                                 QStringLiteral(": not found"));
            if (!err.isEmpty()) err.removeLast();
        }
        EXPECT_EQ(err.value(err.size() - 1, QString()), c.last);
    }
}

TEST_F(Program, ListsEveryReleaseOfTheDirectory) {
    QFile::copy(rel() + QStringLiteral("/SMALL.PJV"), rel() + QStringLiteral("/a.pjv"));
    QFile::copy(rel() + QStringLiteral("/DEMO.PJV"), rel() + QStringLiteral("/b.Swv"));
    QFile::copy(rel() + QStringLiteral("/DEMO.PJV"), rel() + QStringLiteral("/c.PJVX"));
    const Result r = run({QStringLiteral("--list"), QStringLiteral("--dir"), rel()});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, (QStringList{QStringLiteral("Small Release\t02.00\ta.pjv"),
                                  QStringLiteral("Demo Release\t01.05\tb.Swv"),
                                  QStringLiteral("Demo Release\t01.05\tDEMO.PJV"),
                                  QStringLiteral("Small Release\t02.00\tSMALL.PJV")}));
    EXPECT_TRUE(r.err.isEmpty());

    const Result missing = run({QStringLiteral("--list"), QStringLiteral("--dir"), dir.filePath(QStringLiteral("none"))});
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.out.isEmpty());
}

TEST_F(Program, AShellLoopTellsWhichProjectorsWereUpdated) {
    Sim good(port(1), {QStringLiteral("--state"), QStringLiteral("standby")});
    Sim refusing(port(2), {QStringLiteral("--fault"), QStringLiteral("status3")});
    ASSERT_TRUE(good.ready() && refusing.ready());
    QProcess sh;
    start(sh, QStringLiteral("/bin/sh"),
          {QStringLiteral("-c"),
           QStringLiteral("for p in \"$@\"; do \"%1\" --yes --port \"$p\" --dir \"%2\" SMALL.PJV 2>/dev/null; "
                          "echo \"$p $?\"; done")
               .arg(QStringLiteral(HALVERN_UPLOAD_PATH), rel()),
           QStringLiteral("sh"), port(1), port(2), port(3)});
    const Result r = finish(sh);
    EXPECT_EQ(r.out, (QStringList{port(1) + QStringLiteral(" 0"), port(2) + QStringLiteral(" 4"),
                                  port(3) + QStringLiteral(" 3")}));
}

const QString kSearching = QStringLiteral("Searching for devices...");
const QString kConfirmed =
    QStringLiteral("Are you sure you want to upload version 01.05 to the Orvelle device selected? [y/N] y");
const QString kStarting = QStringLiteral("Starting upload...");
const QString kPowerOff =
    QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn device off? [y/N] y");

TEST_F(Program, FourProjectorsInEveryStateAreAllUploadedInBothModes) {
    for (const bool emergency : {false, true}) {
        SCOPED_TRACE(emergency ? "emergency" : "normal");
        const int base = emergency ? 20 : 10;
        QStringList dumps;
        for (int i = 0; i < 4; ++i) {
            dumps << dir.filePath(QStringLiteral("dump%1").arg(base + i));
            ASSERT_TRUE(QDir().mkpath(dumps.last()));
        }
        // On, cooling down, in standby, and one whose second and sixth frames are lost.
        Sim on(port(base), {QStringLiteral("--cooldown"), QStringLiteral("1"), QStringLiteral("--dump"), dumps[0]});
        Sim cooling(port(base + 1), {QStringLiteral("--state"), QStringLiteral("cooling"), QStringLiteral("--cooldown"),
                                     QStringLiteral("1"), QStringLiteral("--dump"), dumps[1]});
        Sim standby(port(base + 2), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--dump"), dumps[2]});
        Sim dropping(port(base + 3), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--fault"),
                                      QStringLiteral("drop-frame:2,6"), QStringLiteral("--dump"), dumps[3]});
        ASSERT_TRUE(on.ready() && cooling.ready() && standby.ready() && dropping.ready());
        const QString report = dir.filePath(QStringLiteral("report%1.jsonl").arg(base));
        QStringList args{emergency ? QStringLiteral("--emergency") : QStringLiteral("--yes"),
                         QStringLiteral("--dir"), rel(), QStringLiteral("--test-poll-interval-ms"), QStringLiteral("100"),
                         // A lost frame is sent again after the read time-out.
                         QStringLiteral("--test-read-timeout-ms"), QStringLiteral("1000"),
                         QStringLiteral("--report"), report};
        for (int i = 0; i < 4; ++i) args << QStringLiteral("--port") << port(base + i);
        const Result r = run(args << QStringLiteral("DEMO.PJV"));
        EXPECT_EQ(r.code, 0);
        for (int i = 0; i < 4; ++i) expect_dumps({QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")}, dumps[i]);
        EXPECT_TRUE(dropping.log().contains("dropped (fault)"));

        const auto lines = report_by_port(report);
        ASSERT_EQ(lines.size(), 4u);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(i);
            const QJsonObject line = lines.at(port(base + i));
            EXPECT_EQ(line.value(QStringLiteral("outcome")).toString(), QStringLiteral("uploaded"));
            EXPECT_EQ(line.value(QStringLiteral("exit")).toInt(-1), 0);
            EXPECT_EQ(line.value(QStringLiteral("release_version")).toString(), QStringLiteral("01.05"));
            EXPECT_EQ(line.value(QStringLiteral("release")).toString(), rel() + QStringLiteral("/DEMO.PJV"));
            EXPECT_EQ(line.value(QStringLiteral("device")).toString(), QFileInfo(port(base + i)).canonicalFilePath());
            EXPECT_EQ(line.value(QStringLiteral("model")).toString(), emergency ? QString() : QStringLiteral("SIM-PROJECTOR"));
            EXPECT_EQ(line.value(QStringLiteral("version")).toString(), emergency ? QString() : QStringLiteral("01.00"));
            const QStringList expected =
                emergency ? QStringList{kSuccess}
                : i == 0  ? QStringList{kSearching, kConfirmed, kStarting, kPowerOff, kSuccess}
                          : QStringList{kSearching, kConfirmed, kStarting, kSuccess};
            EXPECT_EQ(strings(line.value(QStringLiteral("messages"))), expected);
        }
        ASSERT_EQ(r.out.size(), 5);
        EXPECT_TRUE(r.out.at(0).startsWith(QLatin1String("PORT ")));
        for (const QString& l : r.out.mid(1)) EXPECT_TRUE(l.contains(QLatin1String(" uploaded "))) << l.toStdString();
        // Without a terminal: plain lines, each prefixed with its port and a time, no escapes.
        EXPECT_FALSE(r.err.join(QLatin1Char('\n')).contains(QLatin1Char('\x1b')));
        const QRegularExpression prefixed(QStringLiteral("^%1/port[0-9]+ [0-9]{2}:[0-9]{2}:[0-9]{2} ")
                                              .arg(QRegularExpression::escape(dir.path())));
        for (const QString& l : r.err.mid(emergency ? 0 : 1)) EXPECT_TRUE(prefixed.match(l).hasMatch()) << l.toStdString();
        if (!emergency)
            EXPECT_EQ(r.err.value(0), QStringLiteral("Upload version 01.05 to 4 projectors? [y/N] y"));
    }
}

TEST_F(Program, FailuresInAFleetAreEachReportedWithTheirOwnChain) {
    const QString good_dump = dir.filePath(QStringLiteral("good"));
    ASSERT_TRUE(QDir().mkpath(good_dump));
    Sim good(port(1), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--dump"), good_dump});
    Sim silent(port(2), {});
    Sim refusing(port(3), {QStringLiteral("--fault"), QStringLiteral("refuse-standby")});
    // Paced, so that its transfer lasts long enough to be cut.
    Sim pulled(port(4), {QStringLiteral("--state"), QStringLiteral("standby"), QStringLiteral("--baud-pace")});
    ASSERT_TRUE(good.ready() && silent.ready() && refusing.ready() && pulled.ready());
    silent.hang();

    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    QProcess p;
    start(p, QStringLiteral(HALVERN_UPLOAD_PATH),
          {QStringLiteral("--yes"), QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(2),
           QStringLiteral("--port"), port(3), QStringLiteral("--port"), port(4), QStringLiteral("--dir"), rel(),
           QStringLiteral("--test-read-timeout-ms"), QStringLiteral("2000"), QStringLiteral("--report"), report,
           QStringLiteral("DEMO.PJV")});
    // The simulator dies once the transfer has begun: the first progress line of its port.
    p.setReadChannel(QProcess::StandardError);
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    const QByteArray progress = (port(4) + QLatin1Char(' ')).toLocal8Bit();
    auto transferring = [&] {
        for (const QByteArray& l : err.split('\n'))
            if (l.startsWith(progress) && l.contains(" Uploaded ")) return true;
        return false;
    };
    while (!transferring() && clock.elapsed() < 30000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
    }
    ASSERT_TRUE(transferring());
    pulled.kill_now();
    Result r = finish(p, 60000);
    r.err = lines_of(err) + r.err;
    EXPECT_EQ(r.code, 8);
    expect_dumps({QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")}, good_dump);

    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 4u);
    const struct {
        QString port;
        QString outcome;
        int exit;
        QStringList messages;  // the whole list; for the pulled cable its first three and last
    } expected[] = {
        {port(1), QStringLiteral("uploaded"), 0, {kSearching, kConfirmed, kStarting, kSuccess}},
        {port(2), QStringLiteral("device-error"), 4,
         {kSearching, QStringLiteral("Unable to find any devices connect to this computer.")}},
        {port(3), QStringLiteral("device-error"), 4,
         {kSearching, kConfirmed, kStarting, kPowerOff, QStringLiteral("Unable to turn device off.")}},
        {port(4), QStringLiteral("failed"), 6, {kSearching, kConfirmed, kStarting, kFailure}},
    };
    for (const auto& e : expected) {
        SCOPED_TRACE(e.port.toStdString());
        const QJsonObject line = lines.at(e.port);
        EXPECT_EQ(line.value(QStringLiteral("outcome")).toString(), e.outcome);
        EXPECT_EQ(line.value(QStringLiteral("exit")).toInt(-1), e.exit);
        EXPECT_EQ(line.value(QStringLiteral("model")).toString(), QStringLiteral("SIM-PROJECTOR").left(e.port == port(2) ? 0 : 13));
        const QStringList messages = strings(line.value(QStringLiteral("messages")));
        if (e.port != port(4)) {
            EXPECT_EQ(messages, e.messages);
        } else {
            ASSERT_GE(messages.size(), 6);
            EXPECT_EQ(messages.mid(0, 3), e.messages.mid(0, 3));
            EXPECT_EQ(messages.last(), kFailure);
            // Its chain names the file whose transfer was cut.
            EXPECT_EQ(messages.filter(QRegularExpression(QStringLiteral("^Error uploading [A-Z]+\\.mot$"))).size(), 1);
        }
        // Each chain is on standard error too, every line under its own port.
        QStringList printed;
        for (const QString& l : r.err)
            if (l.startsWith(e.port + QLatin1Char(' ')) && !l.contains(QLatin1String(" Uploaded ")))
                printed << l.mid(e.port.size() + 10);
        EXPECT_EQ(printed, messages);
    }
    EXPECT_EQ(r.out.size(), 5);
}

TEST_F(Program, TheSameDeviceNamedTwiceIsRefusedBeforeAnythingStarts) {
    Sim sim(port(1), {QStringLiteral("--state"), QStringLiteral("standby")});
    ASSERT_TRUE(sim.ready());
    ASSERT_TRUE(QFile::link(port(1), port(2)));  // a second link to the same line
    const QString device = QFileInfo(port(1)).canonicalFilePath();
    QFile list(dir.filePath(QStringLiteral("ports.txt")));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((port(2) + QStringLiteral("\n")).toLocal8Bit());
    list.close();
    const struct {
        QStringList ports;
        QString first, second;
    } cases[] = {
        {{QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(1)}, port(1), port(1)},
        {{QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(2)}, port(1), port(2)},
        {{QStringLiteral("--port"), device, QStringLiteral("--ports"), list.fileName()}, device, port(2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ports.join(QLatin1Char(' ')).toStdString());
        const Result r = run(c.ports + QStringList{QStringLiteral("--yes"), QStringLiteral("--dir"), rel(), QStringLiteral("DEMO.PJV")});
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(r.err, QStringList{QStringLiteral("halvern-upload: %1 and %2 name the same device %3")
                                         .arg(c.first, c.second, device)});
        EXPECT_TRUE(r.out.isEmpty());
    }
    // Nothing reached the projector.
    EXPECT_FALSE(sim.log().contains("cmd"));
}

TEST_F(Program, CtrlCBeforeAnyTransferStopsTheWholeFleetAtOnce) {
    Sim first(port(1), {QStringLiteral("--state"), QStringLiteral("cooling"), QStringLiteral("--cooldown"), QStringLiteral("60")});
    Sim second(port(2), {QStringLiteral("--cooldown"), QStringLiteral("60")});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    QProcess p;
    start(p, QStringLiteral(HALVERN_UPLOAD_PATH),
          {QStringLiteral("--yes"), QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(2),
           QStringLiteral("--dir"), rel(), QStringLiteral("--test-poll-interval-ms"), QStringLiteral("100"),
           QStringLiteral("--report"), report, QStringLiteral("DEMO.PJV")});
    p.setReadChannel(QProcess::StandardError);
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    auto cooling = [&](int n) {
        return !lines_of(err).filter(QRegularExpression(QStringLiteral("/port%1 .* Remaining Time:").arg(n))).isEmpty();
    };
    auto both_cooling = [&] { return cooling(1) && cooling(2); };
    while (!both_cooling() && clock.elapsed() < 15000 && p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(100);
        err += p.readAllStandardError();
    }
    ASSERT_TRUE(both_cooling());
    // No projector is in its transfer: nothing is asked, and both waits end.
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    Result r = finish(p, 10000);
    r.err = lines_of(err) + r.err;
    EXPECT_EQ(r.code, 8);
    EXPECT_TRUE(r.err.filter(QStringLiteral("Stop now?")).isEmpty());
    const auto lines = report_by_port(report);
    ASSERT_EQ(lines.size(), 2u);
    for (const QString& name : {port(1), port(2)}) {
        SCOPED_TRACE(name.toStdString());
        const QJsonObject line = lines.at(name);
        EXPECT_EQ(line.value(QStringLiteral("outcome")).toString(), QStringLiteral("cancelled"));
        EXPECT_EQ(line.value(QStringLiteral("exit")).toInt(-1), 5);
        const QStringList messages = strings(line.value(QStringLiteral("messages")));
        EXPECT_EQ(messages.value(messages.size() - 1), QStringLiteral("User canceled device cool down."));
    }
}

TEST_F(Program, CtrlCDuringTransfersAsksOnceForTheWholeFleet) {
    // Paced: the one block of SMALL.PJV takes over four seconds on each line.
    Sim first(port(1), {QStringLiteral("--baud-pace")});
    Sim second(port(2), {QStringLiteral("--baud-pace")});
    ASSERT_TRUE(first.ready() && second.ready());
    QProcess p;
    start(p, QStringLiteral(HALVERN_UPLOAD_PATH),
          {QStringLiteral("--emergency"), QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(2),
           QStringLiteral("--dir"), rel(), QStringLiteral("SMALL.PJV")});
    // The emergency road guards both projectors from their first open on.
    ASSERT_TRUE(p.waitForStarted(5000));
    QThread::msleep(1500);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    const Result r = finish(p, 30000);
    // Without a terminal the answer is No, given once, and both transfers go on.
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err.filter(QStringLiteral("Stop now?")),
              QStringList{QStringLiteral("Stop now? The projector may not start until it is uploaded again. [y/N] n")});
    EXPECT_EQ(r.err.filter(kSuccess).size(), 2);
}

// halvern-upload on a terminal of its own, through script(1): what it draws, and keys typed.
class OnTerminal {
public:
    OnTerminal(const QProcessEnvironment& environment, const QStringList& arguments) {
        // script(1) runs the command through $SHELL -c; exec makes the program the terminal's foreground
        // process itself, so that Ctrl-C reaches it alone and not a shell that dies of it first (dash does).
        QString command = QStringLiteral("exec ") + quoted(QStringLiteral(HALVERN_UPLOAD_PATH));
        for (const QString& argument : arguments) command += QLatin1Char(' ') + quoted(argument);
        process_.setProcessEnvironment(environment);
        process_.start(QStringLiteral("script"), {QStringLiteral("-q"), QStringLiteral("-e"), QStringLiteral("-c"),
                                                  command, QStringLiteral("/dev/null")});
    }
    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("script")).isEmpty(); }
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
    static QString quoted(QString word) {
        word.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
        return QLatin1Char('\'') + word + QLatin1Char('\'');
    }
    QProcess process_;
};

TEST_F(Program, OnATerminalTheTableIsDrawnAndAConfirmedStopCancelsEveryPort) {
    if (!OnTerminal::available()) GTEST_SKIP() << "no script(1)";
    Sim first(port(1), {QStringLiteral("--baud-pace")});
    Sim second(port(2), {QStringLiteral("--baud-pace")});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    OnTerminal t(environment(), {QStringLiteral("--emergency"), QStringLiteral("--port"), port(1), QStringLiteral("--port"),
                                 port(2), QStringLiteral("--dir"), rel(), QStringLiteral("--report"), report,
                                 QStringLiteral("DEMO.PJV")});
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
        EXPECT_EQ(line.value(QStringLiteral("outcome")).toString(), QStringLiteral("cancelled"));
        EXPECT_EQ(line.value(QStringLiteral("exit")).toInt(-1), 6);
        const QStringList messages = strings(line.value(QStringLiteral("messages")));
        EXPECT_EQ(messages.value(0), QStringLiteral("Stopped on request."));
        EXPECT_EQ(messages.value(messages.size() - 1), kFailure);
    }
}

TEST_F(Program, CtrlCAtThePowerOffQuestionLeavesEveryProjectorOn) {
    if (!OnTerminal::available()) GTEST_SKIP() << "no script(1)";
    Sim first(port(1), {});
    Sim second(port(2), {});
    ASSERT_TRUE(first.ready() && second.ready());
    const QString report = dir.filePath(QStringLiteral("report.jsonl"));
    OnTerminal t(environment(), {QStringLiteral("--port"), port(1), QStringLiteral("--port"), port(2),
                                 QStringLiteral("--dir"), rel(), QStringLiteral("--report"), report,
                                 QStringLiteral("DEMO.PJV")});
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
        EXPECT_EQ(line.value(QStringLiteral("outcome")).toString(), QStringLiteral("cancelled"));
        EXPECT_EQ(strings(line.value(QStringLiteral("messages"))),
                  (QStringList{kSearching, kConfirmed, kStarting,
                               QStringLiteral("Device must be powered off to enter upload mode.  Is it ok to turn "
                                              "device off? [y/N] n")}));
    }
}

}  // namespace
