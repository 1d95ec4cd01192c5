// The real main window over the real serial-port library against projector-sim: on its
// pseudo-terminal directly, and through a real serial device server (ser2net on 127.0.0.1
// serving the pseudo-terminal, set up at 9600 baud, as an RFC 2217 port that the window and
// halvern-upload reach as rfc2217://127.0.0.1:PORT). The controls are clicked as a technician
// clicks them, and the files the simulated projector flashed are compared with the images the
// release's S-record files convert to.

#include "app/frmUpload.h"
#include "tests/support/BoundedReads.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SimProcess.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kSuccess = "The operating system has been uploaded successfully!";
const QString kFailure = "There was an error uploading the operating system to the device.";

// The main window, shown, with COM2 mapped to port.
struct Window {
    Window(const QString& dir, const QString& releases, const QString& port, const QString& baud, std::int32_t cap_ms)
        : settings(dir + "/settings.ini"), library(settings, cap_ms) {
        settings.set_startup("Working Directory", releases);
        settings.set_startup("Port", "COM2");
        settings.set_startup("Baud Rate", baud);
        settings.set("Ports", "COM2", port);
        frmUploadOptions options;
        options.program_dir = dir;
        options.reporter = &reporter;
        options.end_program = [] {};
        window = std::make_unique<frmUpload>(state, settings, library, options);
        window->show();
    }
    const frmUpload::Controls& ui() const { return window->ui(); }
    std::string trace() const { return reporter.events.join('\n').toStdString(); }

    // Clicks the line of the release whose version control file is named file_name.
    void select(const QString& file_name) {
        const QStringList& files = window->catalogue().version_files;
        const auto it = std::find_if(files.begin(), files.end(), [&](const QString& p) { return p.endsWith(file_name); });
        ASSERT_NE(it, files.end());
        QListWidget* list = ui().lstVersions;
        const QRect rect = list->visualItemRect(list->item(static_cast<int>(it - files.begin())));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
        ASSERT_TRUE(ui().cmdUpload->isEnabled());
    }

    SettingsStore settings;
    AppState state;
    BoundedReads library;
    RecordingReporter reporter;
    std::unique_ptr<frmUpload> window;
};

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {releases}), 0);
        ASSERT_TRUE(QDir().mkpath(dumps));
        ASSERT_TRUE(QDir().mkpath(config));
    }
    QStringList sim_args(const char* state) const {
        return {"--state", state, "--cooldown", "1", "--dump", dumps, "--model", "PJ-SIM", "--version", "0100"};
    }

    QTemporaryDir tmp;
    QString releases = tmp.filePath("releases");
    QString dumps = tmp.filePath("flashed");
    QString config = tmp.filePath("config");
    QString link = tmp.filePath("projector");
};

// Directly on the pseudo-terminal, every read bounded by two seconds, so that a frame the
// projector never sends costs seconds here instead of the thirty of an upload.
using MainWindowEndToEnd = EndToEnd;

TEST_F(MainWindowEndToEnd, EmergencyUploadEndsInSuccessOnlyWhenTheRetriesRecover) {
    const struct {
        QStringList faults;
        QStringList boxes;  // empty: uploaded
    } cases[] = {
        // The third and seventh frames are lost and a later one arrives damaged: the retries carry it.
        {{"--fault", "drop-frame:3,7", "--fault", "corrupt-frame:12"}, {}},
        // A projector that stops answering never shows success.
        {{"--fault", "no-reply:9"},
         {"Unable to receive acknowledgement of flash to ROM.", "Unable to flash to ROM.",
          "Error sending frame 1 of TINY.mot file.", "Error uploading TINY.mot"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.faults.join(' ').toStdString());
        QFile::remove(tmp.filePath("settings.ini"));  // each window starts from the same settings
        SimProcess sim(link, sim_args("standby") + c.faults);
        ASSERT_TRUE(sim.ready());
        Window w(tmp.path(), releases, link, "19200", 2000);
        w.ui().mnuEmergencyMode->trigger();
        w.select("SMALL.PJV");
        w.ui().cmdUpload->click();
        EXPECT_EQ(w.reporter.boxes(), c.boxes);
        EXPECT_EQ(w.reporter.last_status(), c.boxes.isEmpty() ? "status 1: " + kSuccess : "status 3: " + kFailure)
            << w.trace();
        if (c.boxes.isEmpty()) {
            EXPECT_TRUE(flashed_release(releases, dumps, {"TINY"}));
        }
        EXPECT_EQ(w.library.close_port(w.state.serial_handle), kInvalidHandle);  // the port was closed
    }
}

QString ser2net_program() {
    return QStandardPaths::findExecutable("ser2net", {"/usr/sbin", "/usr/bin", "/sbin"});
}

// Whether something listens on 127.0.0.1:port (the kernel's table; a probe connection would
// make the server open the device).
bool listening(quint16 port) {
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly)) return false;
    const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local && fields[3] == "0A") return true;
    }
    return false;
}

// ser2net in the foreground with its own configuration: one RFC 2217 port in front of device.
struct Ser2net {
    QProcess process;
    quint16 port = 0;
    Ser2net(const QString& dir, const QString& device) {
        QTcpServer probe;  // a port on 127.0.0.1 that nothing listens on at the moment
        if (probe.listen(QHostAddress::LocalHost, 0)) port = probe.serverPort();
        probe.close();
        const QString config = QDir(dir).filePath("ser2net.yaml");
        QFile file(config);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        QTextStream(&file) << "%YAML 1.1\n---\n"
                           << "connection: &projector\n"
                           << "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << port << "\n"
                           << "  connector: serialdev," << device << ",9600n81,local\n"
                           << "  options:\n"
                           << "    kickolduser: false\n";
        file.close();
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(ser2net_program(), {"-n", "-d", "-c", config});
        QElapsedTimer clock;
        clock.start();
        while (!listening(port) && clock.elapsed() < 5000 && process.state() != QProcess::NotRunning) QTest::qWait(20);
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

class Ser2netTest : public EndToEnd {
protected:
    void SetUp() override {
        if (ser2net_program().isEmpty()) GTEST_SKIP() << "ser2net is not installed (scripts/setup.sh installs it)";
        EndToEnd::SetUp();
    }
    QStringList paced(const char* state) const { return sim_args(state) << "--baud-pace"; }
    // halvern-upload of a release through the server, once the file is announced on the line.
    bool start_upload(QProcess& p, SimProcess& sim, const QString& address, const QString& release) const {
        start_program(p, {"--yes", "--port", address, "--baud", "9600", "--dir", releases, "--test-read-timeout-ms",
                          "10000", "--test-poll-interval-ms", "100", release},
                      config);
        return sim.wait_for("msg 5 ", 20000);
    }
};

TEST_F(Ser2netTest, MainWindowFindsQueriesAndUploadsThroughTheServer) {
    SimProcess sim(link, paced("on"));
    ASSERT_TRUE(sim.ready());
    Ser2net server(tmp.path(), link);
    Window w(tmp.path(), releases, server.address(), "9600", 30000);

    w.ui().cmdSearch->click();
    EXPECT_EQ(w.ui().txtProjector->text(), "PJ-SIM");
    EXPECT_EQ(w.ui().txtVersion->text(), "01.00");
    w.ui().cmdQueryStatus->click();
    EXPECT_EQ(w.reporter.last_status(), "status 1: Device is on.");
    EXPECT_EQ(sim.rate_at("cmd I"), "9600 baud");
    EXPECT_EQ(sim.rate_at("cmd Q"), "9600 baud");

    // SMALL.PJV: one block, mostly FF padding, which the line must carry doubled and undoubled.
    w.select("SMALL.PJV");
    w.ui().cmdUpload->click();  // through the power-off question and the cool-down window
    EXPECT_EQ(w.reporter.last_status(), "status 1: " + kSuccess) << w.trace();
    EXPECT_TRUE(w.reporter.boxes().isEmpty()) << w.trace();
    EXPECT_TRUE(flashed_release(releases, dumps, {"TINY"}));
    // The device commands ran at the configured rate, the transfer at 38400 on the projector's line.
    EXPECT_EQ(sim.rate_at("cmd U"), "9600 baud");
    EXPECT_EQ(sim.rate_at("msg 1 "), "38400 baud");
    EXPECT_EQ(sim.rate_at("msg 7 "), "38400 baud");
}

TEST_F(Ser2netTest, ServerStoppedMidTransferIsAReportedFailure) {
    SimProcess sim(link, paced("standby"));
    ASSERT_TRUE(sim.ready());
    Ser2net server(tmp.path(), link);
    QProcess upload;
    ASSERT_TRUE(start_upload(upload, sim, server.address(), "SMALL.PJV")) << sim.log().constData();
    server.stop();
    // The lost connection ends the transfer well within the read time-out's retries.
    const ProgramResult r = finish(upload, 30000);
    EXPECT_EQ(r.code, 6) << r.err.join('\n').toStdString();
    EXPECT_TRUE(r.err.contains(kFailure));
    EXPECT_FALSE(r.err.contains(kSuccess));
}

TEST_F(Ser2netTest, ASecondProgramOnTheSameAddressIsRefused) {
    SimProcess sim(link, paced("standby"));
    ASSERT_TRUE(sim.ready());
    Ser2net server(tmp.path(), link);
    QProcess first;
    ASSERT_TRUE(start_upload(first, sim, server.address(), "SMALL.PJV")) << sim.log().constData();
    // The same address, written differently.
    const ProgramResult second =
        run_program({"--status", "--port", QStringLiteral("RFC2217://127.0.0.1:%1/").arg(server.port)}, config, 15000);
    EXPECT_EQ(second.code, 3) << second.err.join('\n').toStdString();
    // The first program carries on undisturbed.
    const ProgramResult r = finish(first, 40000);
    EXPECT_EQ(r.code, 0) << r.err.join('\n').toStdString();
    EXPECT_TRUE(r.err.contains(kSuccess));
    EXPECT_TRUE(flashed_release(releases, dumps, {"TINY"}));
}

}  // namespace
