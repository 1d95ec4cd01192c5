// The system through a real serial device server: ser2net on 127.0.0.1 serves the simulated
// projector's pseudo-terminal (set up at 9600 baud) as an RFC 2217 port, and the main window
// and halvern-upload reach it as rfc2217://127.0.0.1:PORT. The simulator paces its line at
// the rate the server sets on it, and logs every change of that rate.

#include "app/frmUpload.h"
#include "device/SerialDeviceLibrary.h"
#include "tests/support/RecordingReporter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <gtest/gtest.h>

#include <algorithm>

using namespace halvern;
using halvern::test::RecordingReporter;

namespace {

const QString kSuccess = QStringLiteral("The operating system has been uploaded successfully!");
const QString kFailure = QStringLiteral("There was an error uploading the operating system to the device.");

QString ser2net_program() { return QStandardPaths::findExecutable(QStringLiteral("ser2net"), {"/usr/sbin", "/usr/bin", "/sbin"}); }

// A port on 127.0.0.1 that nothing listens on at the moment.
quint16 free_port() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

// Whether something listens on 127.0.0.1:port (the kernel's table; a probe connection would
// make the server open the device).
bool listening(quint16 port) {
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
        if (fields.size() > 3 && fields[1] == local && fields[3] == QLatin1String("0A")) return true;
    }
    return false;
}

// Collects a process's standard error until a text shows up or the time is over.
bool wait_for_text(QProcess& process, QByteArray& log, const QByteArray& text, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!log.contains(text) && clock.elapsed() < ms && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(50);
        log += process.readAllStandardError();
    }
    log += process.readAllStandardError();
    return log.contains(text);
}

struct Sim {
    QProcess process;
    QByteArray log;
    Sim(const QString& link, QStringList args) {
        args << QStringLiteral("--link") << link << QStringLiteral("--baud-pace");
        process.start(QStringLiteral(PROJECTOR_SIM_PATH), args);
        EXPECT_TRUE(wait_for_text(process, log, "ready ", 5000)) << log.constData();
    }
    ~Sim() {
        process.terminate();
        if (!process.waitForFinished(3000)) process.kill();
        process.waitForFinished(1000);
    }
    bool wait_for(const QByteArray& text, int ms) { return wait_for_text(process, log, text, ms); }
    QStringList lines() {
        while (process.waitForReadyRead(100)) log += process.readAllStandardError();
        log += process.readAllStandardError();
        return QString::fromLocal8Bit(log).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // The rate the simulator's line ran at when the first line containing `what` was logged.
    QString rate_at(const QString& what) {
        QString rate;
        for (const QString& l : lines()) {
            if (l.contains(what)) return rate;
            if (l.startsWith(QLatin1String("line at "))) rate = l.mid(8);
        }
        return QStringLiteral("(no '%1' logged)").arg(what);
    }
};

// ser2net in the foreground with its own configuration: one RFC 2217 port in front of device.
struct Ser2net {
    QProcess process;
    quint16 port = free_port();
    Ser2net(const QString& dir, const QString& device) {
        const QString config = QDir(dir).filePath(QStringLiteral("ser2net.yaml"));
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QTextStream(&file) << "%YAML 1.1\n---\n"
                           << "connection: &projector\n"
                           << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                           << "  connector: serialdev," << device << ",9600n81,local\n"
                           << "  options:\n"
                           << "    kickolduser: false\n";
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ser2net_program(), {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("-c"), config});
        QElapsedTimer clock;
        clock.start();
        while (!listening(port) && clock.elapsed() < 5000 && process.state() != QProcess::NotRunning)
            QTest::qWait(20);
        EXPECT_TRUE(listening(port)) << "ser2net does not listen on " << port;
    }
    ~Ser2net() { stop(); }
    void stop() {
        if (process.state() == QProcess::NotRunning) return;
        process.terminate();
        if (!process.waitForFinished(3000)) process.kill();
        process.waitForFinished(1000);
    }
    QString address() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port); }
};

class Ser2netTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (ser2net_program().isEmpty()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh installs it)";
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {releases}), 0);
        ASSERT_TRUE(QDir().mkpath(dumps));
        ASSERT_TRUE(QDir().mkpath(config));
    }
    QStringList sim_args(const char* state) const {
        return {QStringLiteral("--state"), QLatin1String(state), QStringLiteral("--cooldown"), QStringLiteral("1"),
                QStringLiteral("--dump"), dumps, QStringLiteral("--model"), QStringLiteral("PJ-SIM"),
                QStringLiteral("--version"), QStringLiteral("0100")};
    }
    void start_upload(QProcess& p, const QString& address, const QString& release) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(HALVERN_UPLOAD_PATH),
                {QStringLiteral("--yes"), QStringLiteral("--port"), address, QStringLiteral("--baud"),
                 QStringLiteral("9600"), QStringLiteral("--dir"), releases, QStringLiteral("--test-read-timeout-ms"),
                 QStringLiteral("10000"), QStringLiteral("--test-poll-interval-ms"), QStringLiteral("100"), release});
        p.closeWriteChannel();
    }
    // The program's exit status and standard error once it has ended (-1 if it did not in time).
    static std::pair<int, QString> finish(QProcess& p, int ms) {
        if (!p.waitForFinished(ms)) {
            p.kill();
            p.waitForFinished(1000);
            return {-1, QString::fromLocal8Bit(p.readAllStandardError())};
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromLocal8Bit(p.readAllStandardError())};
    }
    void expect_flashed(const QString& name) const {
        QFile expected(QDir(releases).filePath(name + ".expected.bin"));
        QFile flashed(QDir(dumps).filePath(name + ".bin"));
        ASSERT_TRUE(expected.open(QIODevice::ReadOnly)) << name.toStdString();
        ASSERT_TRUE(flashed.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray image = expected.readAll();
        const QByteArray bytes = flashed.readAll();
        ASSERT_GE(bytes.size(), image.size()) << name.toStdString();
        EXPECT_TRUE(bytes.left(image.size()) == image) << name.toStdString();
        EXPECT_EQ(bytes.mid(image.size()), QByteArray(bytes.size() - image.size(), '\xFF')) << name.toStdString();
    }

    QTemporaryDir tmp;
    QString releases = tmp.filePath("releases");
    QString dumps = tmp.filePath("flashed");
    QString config = tmp.filePath("config");
    QString link = tmp.filePath("projector");
};

TEST_F(Ser2netTest, MainWindowFindsQueriesAndUploadsThroughTheServer) {
    Sim sim(link, sim_args("on"));
    Ser2net server(tmp.path(), link);

    SettingsStore settings(tmp.filePath("settings.ini"));
    settings.set_startup("Working Directory", releases);
    settings.set_startup("Port", "COM2");
    settings.set_startup("Baud Rate", "9600");
    settings.set("Ports", "COM2", server.address());
    AppState state;
    SerialDeviceLibrary library(settings);
    RecordingReporter reporter;
    frmUploadOptions options;
    options.program_dir = tmp.path();
    options.reporter = &reporter;
    options.end_program = [] {};
    frmUpload window(state, settings, library, options);
    window.show();
    const frmUpload::Controls& ui = window.ui();

    ui.cmdSearch->click();
    EXPECT_EQ(ui.txtProjector->text(), "PJ-SIM");
    EXPECT_EQ(ui.txtVersion->text(), "01.00");
    ui.cmdQueryStatus->click();
    EXPECT_EQ(reporter.last_status(), "status 1: Device is on.");
    EXPECT_EQ(sim.rate_at(QStringLiteral("cmd I")), "9600 baud");
    EXPECT_EQ(sim.rate_at(QStringLiteral("cmd Q")), "9600 baud");

    // SMALL.PJV: one block, mostly FF padding, which the line must carry doubled and undoubled.
    const QStringList& files = window.catalogue().version_files;
    const auto it = std::find_if(files.begin(), files.end(), [](const QString& p) { return p.endsWith("SMALL.PJV"); });
    ASSERT_NE(it, files.end());
    QListWidget* list = ui.lstVersions;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(static_cast<int>(it - files.begin()))).center());
    ui.cmdUpload->click();  // through the power-off question and the cool-down window
    EXPECT_EQ(reporter.last_status(), "status 1: " + kSuccess) << reporter.events.join("\n").toStdString();
    EXPECT_TRUE(reporter.boxes().isEmpty()) << reporter.events.join("\n").toStdString();
    expect_flashed("TINY");
    // The device commands ran at the configured rate, the transfer at 38400 on the projector's line.
    EXPECT_EQ(sim.rate_at(QStringLiteral("cmd U")), "9600 baud");
    EXPECT_EQ(sim.rate_at(QStringLiteral("msg 1 ")), "38400 baud");
    EXPECT_EQ(sim.rate_at(QStringLiteral("msg 7 ")), "38400 baud");
}

TEST_F(Ser2netTest, ServerStoppedMidTransferIsAReportedFailure) {
    Sim sim(link, sim_args("standby"));
    Ser2net server(tmp.path(), link);
    QProcess upload;
    start_upload(upload, server.address(), QStringLiteral("SMALL.PJV"));
    ASSERT_TRUE(sim.wait_for("msg 5 ", 20000)) << sim.log.constData();  // the file is announced
    server.stop();
    // The lost connection ends the transfer well within the read time-out's retries.
    const auto [code, err] = finish(upload, 30000);
    EXPECT_EQ(code, 6) << err.toStdString();
    EXPECT_TRUE(err.contains(kFailure)) << err.toStdString();
    EXPECT_FALSE(err.contains(kSuccess)) << err.toStdString();
}

TEST_F(Ser2netTest, ASecondProgramOnTheSameAddressIsRefused) {
    Sim sim(link, sim_args("standby"));
    Ser2net server(tmp.path(), link);
    QProcess first;
    start_upload(first, server.address(), QStringLiteral("SMALL.PJV"));
    ASSERT_TRUE(sim.wait_for("msg 5 ", 20000)) << sim.log.constData();

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    second.setProcessEnvironment(env);
    // The same address, written differently.
    second.start(QStringLiteral(HALVERN_UPLOAD_PATH),
                 {QStringLiteral("--status"), QStringLiteral("--port"),
                  QStringLiteral("RFC2217://127.0.0.1:%1/").arg(server.port)});
    const auto [second_code, second_err] = finish(second, 15000);
    EXPECT_EQ(second_code, 3) << second_err.toStdString();

    // The first program carries on undisturbed.
    const auto [code, err] = finish(first, 40000);
    EXPECT_EQ(code, 0) << err.toStdString();
    EXPECT_TRUE(err.contains(kSuccess)) << err.toStdString();
    expect_flashed("TINY");
}

}  // namespace
