// The real main window over the real serial-port library, against projector-sim on a
// pseudo-terminal: the controls are clicked as a technician clicks them, and the files the
// simulated projector flashed are compared with the images the release's S-record files
// convert to.

#include "app/frmUpload.h"
#include "device/SerialDeviceLibrary.h"
#include "tests/support/RecordingReporter.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

using namespace halvern;
using halvern::test::RecordingReporter;

namespace {

const QString kSuccess = QStringLiteral("status 1: The operating system has been uploaded successfully!");
const QString kFailure = QStringLiteral("status 3: There was an error uploading the operating system to the device.");

// The real library with every read bounded by two seconds, so that a frame the projector
// never sends costs seconds here instead of the thirty of an upload.
class ShortWaitLibrary : public SerialDeviceLibrary {
public:
    using SerialDeviceLibrary::SerialDeviceLibrary;
    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port, std::int32_t baud,
                                    std::int32_t timeout_ms) override {
        return SerialDeviceLibrary::init_port_timeouts(handle, port, baud, std::min(timeout_ms, 2000));
    }
};

struct Bench {
    QTemporaryDir tmp;
    QString releases = tmp.filePath("releases");
    QString dumps = tmp.filePath("flashed");
    QString link = tmp.filePath("projector");
    QProcess sim;
    QByteArray sim_log;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ShortWaitLibrary library{settings};
    RecordingReporter reporter;
    std::unique_ptr<frmUpload> window;

    explicit Bench(QStringList sim_args) {
        QDir().mkpath(dumps);
        EXPECT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {releases}), 0);
        sim_args << "--link" << link << "--dump" << dumps << "--model" << "PJ-SIM" << "--version" << "0100";
        sim.start(QStringLiteral(PROJECTOR_SIM_PATH), sim_args);
        QElapsedTimer clock;
        clock.start();
        while (!sim_log.contains("ready ") && clock.elapsed() < 5000 && sim.state() != QProcess::NotRunning) {
            sim.waitForReadyRead(100);
            sim_log += sim.readAllStandardError();
        }
        EXPECT_TRUE(sim_log.contains("ready ")) << sim_log.constData();

        settings.set_startup("Working Directory", releases);
        settings.set_startup("Port", "COM1");
        settings.set_startup("Baud Rate", "19200");
        settings.set("Ports", "COM1", link);
        frmUploadOptions options;
        options.program_dir = tmp.path();
        options.reporter = &reporter;
        options.end_program = [] {};
        window = std::make_unique<frmUpload>(state, settings, library, options);
        window->show();
    }
    ~Bench() {
        window.reset();
        sim.terminate();
        if (!sim.waitForFinished(3000)) sim.kill();
    }
    const frmUpload::Controls& ui() const { return window->ui(); }

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

    // The flashed file begins with the window's image and holds only FF after it.
    void expect_flashed(const QString& name) const {
        QFile expected(QDir(releases).filePath(name + ".expected.bin"));
        QFile flashed(QDir(dumps).filePath(name + ".bin"));
        ASSERT_TRUE(expected.open(QIODevice::ReadOnly)) << name.toStdString();
        ASSERT_TRUE(flashed.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray image = expected.readAll();
        const QByteArray bytes = flashed.readAll();
        ASSERT_GE(bytes.size(), image.size()) << name.toStdString();
        EXPECT_TRUE(bytes.left(image.size()) == image) << name.toStdString();
        const QByteArray rest = bytes.mid(image.size());
        EXPECT_EQ(rest.count('\xFF'), rest.size()) << name.toStdString();
    }
    std::vector<std::string> flashed_names() const {
        std::vector<std::string> out;
        for (const QString& f : QDir(dumps).entryList({"*.bin"}, QDir::Files, QDir::Name)) out.push_back(f.toStdString());
        return out;
    }
};

}  // namespace

TEST(MainWindowEndToEnd, NormalUploadFromAProjectorThatIsOn) {
    Bench bench({"--state", "on", "--cooldown", "1"});
    bench.ui().cmdSearch->click();
    EXPECT_EQ(bench.ui().txtProjector->text(), "PJ-SIM");
    EXPECT_EQ(bench.ui().txtVersion->text(), "01.00");
    bench.ui().cmdQueryStatus->click();
    EXPECT_EQ(bench.reporter.last_status(), "status 1: Device is on.");

    bench.select("DEMO.PJV");
    bench.ui().cmdUpload->click();  // through the power-off question and the cool-down window
    EXPECT_EQ(bench.reporter.last_status(), kSuccess) << bench.reporter.events.join("\n").toStdString();
    EXPECT_TRUE(bench.reporter.boxes().isEmpty());
    EXPECT_EQ(bench.flashed_names(), (std::vector<std::string>{"BOOT.bin", "DATA.bin", "MAIN.bin"}));
    for (const char* name : {"BOOT", "DATA", "MAIN"}) bench.expect_flashed(name);

    // The projector now runs the release it was given.
    bench.ui().cmdSearch->click();
    EXPECT_NE(bench.ui().txtVersion->text(), "01.00");
}

TEST(MainWindowEndToEnd, EmergencyUploadAndRetriesThatRecover) {
    // The third and seventh frames are lost and a later one arrives damaged: the retries
    // carry the upload through.
    Bench bench({"--state", "standby", "--fault", "drop-frame:3,7", "--fault", "corrupt-frame:12"});
    bench.ui().mnuEmergencyMode->trigger();
    bench.select("SMALL.PJV");
    bench.ui().cmdUpload->click();
    EXPECT_EQ(bench.reporter.last_status(), kSuccess) << bench.reporter.events.join("\n").toStdString();
    bench.expect_flashed("TINY");
    EXPECT_EQ(bench.library.close_port(bench.state.serial_handle), kInvalidHandle);  // the port was closed
}

TEST(MainWindowEndToEnd, ProjectorThatStopsAnsweringNeverShowsSuccess) {
    Bench bench({"--state", "standby", "--fault", "no-reply:9"});
    bench.ui().mnuEmergencyMode->trigger();
    bench.select("SMALL.PJV");
    bench.ui().cmdUpload->click();
    EXPECT_EQ(bench.reporter.boxes(), (QStringList{"Unable to receive acknowledgement of flash to ROM.",
                                                   "Unable to flash to ROM.", "Error sending frame 1 of TINY.mot file.",
                                                   "Error uploading TINY.mot"}));
    EXPECT_EQ(bench.reporter.last_status(), kFailure);
    EXPECT_EQ(bench.library.close_port(bench.state.serial_handle), kInvalidHandle);
}
