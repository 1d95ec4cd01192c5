// The port as a technician meets it: the projector's side of the line vanishing in the middle
// of a transfer, and a second program reaching for the port that an upload holds, by another
// name for the same device.

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/SerialConnection.h"
#include "device/SerialDeviceLibrary.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SimProcess.h"
#include "upload/UploadCommand.h"
#include "upload/UploadSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <functional>
#include <memory>
#include <unistd.h>

namespace halvern {
namespace {

using test::RecordingReporter;
using test::RecordingView;
using test::SimProcess;

const QString kSim = QStringLiteral(PROJECTOR_SIM_PATH);

bool images_match(const QString& release_dir, const QString& dump_dir, const QStringList& names) {
    for (const QString& name : names) {
        QFile expected(release_dir + QLatin1Char('/') + name + QStringLiteral(".expected.bin"));
        QFile got(dump_dir + QLatin1Char('/') + name + QStringLiteral(".bin"));
        if (!expected.open(QIODevice::ReadOnly) || !got.open(QIODevice::ReadOnly)) return false;
        const QByteArray e = expected.readAll();
        const QByteArray g = got.readAll();
        if (g.size() < e.size() || g.left(e.size()) != e || g.mid(e.size()) != QByteArray(g.size() - e.size(), '\xFF'))
            return false;
    }
    return true;
}

struct PortTest : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
        ASSERT_TRUE(QDir().mkpath(dump()));
    }
    QString rel() const { return dir.filePath(QStringLiteral("rel")); }
    QString dump() const { return dir.filePath(QStringLiteral("dump")); }
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }

    QTemporaryDir dir;
};

// A view that pulls the plug once the first block has gone.
class PullingView : public RecordingView {
public:
    std::function<void()> on_progress;
    void set_progress_value(float v) override {
        RecordingView::set_progress_value(v);
        if (v > 0 && on_progress) {
            on_progress();
            on_progress = nullptr;
        }
    }
};

TEST_F(PortTest, PulledPlugMidTransferFailsAtOnceAndThePortIsFreeAgain) {
    const QString port = path("port");
    auto sim = std::make_unique<SimProcess>(kSim, port, QStringList{});
    ASSERT_TRUE(sim->ready());

    SettingsStore settings(path("settings.ini"));
    SerialDeviceLibrary library(settings);
    AppState state;
    state.port_name = port;
    state.baud_rate = 38400;
    state.working_directory = rel();
    state.emergency_mode = true;
    RecordingReporter reporter;
    PullingView view;
    SerialConnection connection(library, state, settings, reporter);
    UploadRequest request;
    request.selected_line = QStringLiteral("Demo Release\t01.05");
    request.version_file = rel() + QStringLiteral("/DEMO.PJV");
    request.working_directory = rel();
    request.emergency = true;
    request.pause = [] {};

    QElapsedTimer since_pulled;
    view.on_progress = [&] {
        sim->kill();
        since_pulled.start();
    };
    // The port was opened with the upload's 30-second read time-out: only a line that reports
    // its hang-up at once ends this within a second.
    EXPECT_FALSE(run_upload(connection, reporter, view, request));
    ASSERT_TRUE(since_pulled.isValid()) << "the transfer never began";
    EXPECT_LT(since_pulled.elapsed(), 1000);
    EXPECT_FALSE(reporter.boxes().isEmpty());
    EXPECT_EQ(reporter.last_status(), QStringLiteral("status 3: ") + kUploadFailure);
    EXPECT_EQ(library.close_port(state.serial_handle), kInvalidHandle) << "the upload left its port open";

    // The same program, with a projector on the line again, uploads as before.
    sim = std::make_unique<SimProcess>(kSim, port, QStringList{QStringLiteral("--dump"), dump()});
    ASSERT_TRUE(sim->ready());
    RecordingReporter again;
    RecordingView view2;
    EXPECT_TRUE(run_upload(connection, again, view2, request)) << again.events.join('\n').toStdString();
    EXPECT_EQ(again.last_status(), QStringLiteral("status 1: ") + kUploadSuccess);
    EXPECT_TRUE(images_match(rel(), dump(), {QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")}));
}

// Inside one program: the port held under one name is refused under every other name of the
// same device, and free again once closed.
TEST_F(PortTest, OneDeviceUnderTwoNamesIsOnePort) {
    SimProcess sim(kSim, path("port"), {});
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(::symlink(sim.slave().toLocal8Bit().constData(), path("other").toLocal8Bit().constData()), 0);
    SettingsStore settings(path("settings.ini"));
    settings.set(QStringLiteral("Ports"), QStringLiteral("COM3"), path("other"));
    SerialDeviceLibrary library(settings);
    std::int32_t held = 0;
    ASSERT_EQ(library.init_port_timeouts(held, path("port").toLocal8Bit().constData(), 38400, 500), kOk);
    for (const QString& name : {sim.slave(), path("other"), QStringLiteral("COM3")}) {
        std::int32_t second = 0;
        EXPECT_EQ(library.init_port_timeouts(second, name.toLocal8Bit().constData(), 38400, 500), kAccessDenied)
            << name.toStdString();
        SerialDeviceLibrary another(settings);
        EXPECT_EQ(another.init_port_timeouts(second, name.toLocal8Bit().constData(), 38400, 500), kAccessDenied)
            << name.toStdString();
    }
    ASSERT_EQ(library.close_port(held), kOk);
    std::int32_t again = 0;
    EXPECT_EQ(library.init_port_timeouts(again, path("other").toLocal8Bit().constData(), 38400, 500), kOk);
}

struct ProgramRun {
    int code = -1;
    QString err;
};

ProgramRun run_program(const QStringList& args, const QString& config) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(HALVERN_UPLOAD_PATH), args);
    p.closeWriteChannel();
    ProgramRun r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished(1000);
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Two programs of ours on one port, whoever runs them (in CI: root, whom the driver's
// exclusive-use flag does not stop): the second is refused before it says anything on the
// line, and the first upload goes on untouched.
TEST_F(PortTest, SecondProgramOnTheSamePortIsRefusedAndTheUploadGoesOn) {
    SimProcess sim(kSim, path("port"),
                   {QStringLiteral("--baud-pace"), QStringLiteral("--state"), QStringLiteral("standby"),
                    QStringLiteral("--dump"), dump()});
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(::symlink(sim.slave().toLocal8Bit().constData(), path("other").toLocal8Bit().constData()), 0);
    const QString config = path("config");

    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    first.setProcessEnvironment(env);
    first.start(QStringLiteral(HALVERN_UPLOAD_PATH),
                {QStringLiteral("--yes"), QStringLiteral("--port"), path("port"), QStringLiteral("--dir"), rel(),
                 QStringLiteral("SMALL.PJV")});
    first.closeWriteChannel();

    // Once the file is announced, its one block crawls over the line at 38,400 baud for
    // about four seconds: the second program comes in then.
    QElapsedTimer clock;
    clock.start();
    while (!sim.log().contains("announce") && clock.elapsed() < 15000) QThread::msleep(20);
    if (!sim.log().contains("announce")) {
        first.kill();
        first.waitForFinished(1000);
        FAIL() << sim.log().toStdString();
    }
    const QByteArray before = sim.log();
    struct Second {
        QStringList args;
        QString status;  // the status line of the command whose open failed
    };
    const Second seconds[] = {
        {{QStringLiteral("--status"), QStringLiteral("--port"), path("other")},
         QStringLiteral("Unable to communicate with serial port.")},
        {{QStringLiteral("--status"), QStringLiteral("--port"), sim.slave()},
         QStringLiteral("Unable to communicate with serial port.")},
        {{QStringLiteral("--yes"), QStringLiteral("--port"), path("other"),
          QStringLiteral("--dir"), rel(), QStringLiteral("SMALL.PJV")},
         QStringLiteral("Unable to connect to serial port.")},
    };
    for (const Second& s : seconds) {
        const ProgramRun second = run_program(s.args, config);
        EXPECT_EQ(second.code, 3) << s.args.join(' ').toStdString();
        const QStringList lines = second.err.trimmed().split(QLatin1Char('\n'));
        ASSERT_GE(lines.size(), 2) << second.err.toStdString();
        // The status line, then the cause, naming the program that holds the port.
        EXPECT_EQ(lines[lines.size() - 2], s.status) << second.err.toStdString();
        EXPECT_TRUE(lines.last().startsWith(QStringLiteral("halvern-upload: ") + s.args[s.args.indexOf("--port") + 1] +
                                            QStringLiteral(": in use by process")))
            << second.err.toStdString();
        EXPECT_TRUE(lines.last().contains(QStringLiteral("%1 (halvern-upload)").arg(first.processId())))
            << second.err.toStdString();
    }
    // Nothing of the second program reached the projector.
    EXPECT_FALSE(sim.log().mid(before.size()).contains("cmd")) << sim.log().mid(before.size()).toStdString();

    const bool finished = first.waitForFinished(30000);
    if (!finished) first.kill();
    first.waitForFinished(1000);
    ASSERT_TRUE(finished);
    EXPECT_EQ(first.exitCode(), 0) << first.readAllStandardError().toStdString();
    EXPECT_TRUE(images_match(rel(), dump(), {QStringLiteral("TINY")}));
}

}  // namespace
}  // namespace halvern
