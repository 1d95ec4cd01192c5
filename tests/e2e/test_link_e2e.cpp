// The serial library and the upload road against projector-sim, as a technician meets the port:
// seeded uploads with faults on the line both ways, the projector's side of the line vanishing
// mid-transfer, and a second program reaching for the port an upload holds, under another name.
//
// Every upload must either succeed with the projector holding exactly the release, or fail with
// a chain of boxes, the failure line and its port closed: a success whose images differ from
// the release is a false success. The ordinary suite runs 30 seeded uploads; scripts/soak.sh
// runs more and writes the table:
//   HALVERN_SOAK_UPLOADS  number of uploads (default 30)
//   HALVERN_SOAK_SEED     first seed (default 1)
//   HALVERN_SOAK_REPORT   file to write the Markdown table to

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/SerialConnection.h"
#include "device/SerialDeviceLibrary.h"
#include "tests/support/ProgramRun.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SimProcess.h"
#include "upload/UploadCommand.h"
#include "upload/UploadSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>

#include <unistd.h>

namespace halvern {
namespace {

using test::RecordingReporter;
using test::RecordingView;
using test::SimProcess;

// The real library; with read_ms every port opens with that read time-out, so that a lost frame
// costs little.
class BoundedReads : public SerialDeviceLibrary {
public:
    BoundedReads(SettingsStore& settings, std::int32_t read_ms) : SerialDeviceLibrary(settings), read_ms_(read_ms) {}
    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port, std::int32_t baud,
                                    std::int32_t timeout_ms) override {
        return SerialDeviceLibrary::init_port_timeouts(handle, port, baud, read_ms_ ? read_ms_ : timeout_ms);
    }

private:
    std::int32_t read_ms_;
};

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel()}), 0);
    }
    QString path(const QString& name) const { return dir.filePath(name); }
    QString rel() const { return path("rel"); }
    QString mkdir(const QString& name) const {
        EXPECT_TRUE(QDir().mkpath(path(name)));
        return path(name);
    }

    QTemporaryDir dir;
    SettingsStore settings{path("settings.ini")};
};

// One emergency upload through the real serial connection.
struct Upload {
    Upload(DeviceLibrary& library, SettingsStore& settings, const QString& port, const QString& rel,
           const char* release)
        : connection(library, state, settings, reporter) {
        state.port_name = port;
        state.baud_rate = 38400;
        state.working_directory = rel;
        state.emergency_mode = true;
        request.selected_line = "Release";
        request.version_file = rel + '/' + release;
        request.working_directory = rel;
        request.emergency = true;
        request.pause = [] {};
    }
    bool run(UploadView& view) { return run_upload(connection, reporter, view, request).outcome == Outcome::Uploaded; }
    QString trace() const { return reporter.events.join('\n'); }

    AppState state;
    RecordingReporter reporter;
    SerialConnection connection;
    UploadRequest request;
};

struct Release {
    const char* file;
    QStringList names;
    int system_frames;  // frames the system transmits in a clean upload (faults aim inside)
    int device_frames;  // frames the device sends
};
const Release kReleases[] = {
    {"SMALL.PJV", {"TINY"}, 24, 45},
    {"DEMO.PJV", {"BOOT", "MAIN", "DATA"}, 60, 110},
};

// The fault kinds of projector-sim: on what the device receives and on what it sends.
const char* const kFaultKinds[] = {"drop-frame",    "corrupt-frame", "wrong-seq", "drop-reply",
                                   "corrupt-reply", "wrong-seq-ack", "garbage"};

int env_number(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

using Soak = LinkTest;

TEST_F(Soak, SeededUploadsWithFaultsBothWays) {
    const int uploads = env_number("HALVERN_SOAK_UPLOADS", 30);
    const int first_seed = env_number("HALVERN_SOAK_SEED", 1);
    std::map<std::string, int> injected;  // fault kind: how many were asked for
    int successes = 0, failures = 0, false_successes = 0, unclosed = 0, silent_failures = 0, faulty_uploads = 0;
    qint64 longest_ms = 0;
    for (int seed = first_seed; seed < first_seed + uploads; ++seed) {
        std::mt19937 random(static_cast<std::uint32_t>(seed));
        const Release& release = kReleases[random() % 3 == 0 ? 1 : 0];
        QStringList faults;
        const int count = static_cast<int>(random() % 4);  // 0 to 3 faults
        for (int i = 0; i < count; ++i) {
            const std::string kind = kFaultKinds[random() % std::size(kFaultKinds)];
            const bool received = kind == "drop-frame" || kind == "corrupt-frame" || kind == "wrong-seq";
            const int range = received || kind == "wrong-seq-ack" ? release.system_frames : release.device_frames;
            faults << QString::fromStdString(kind + ":" + std::to_string(1 + random() % range));
            ++injected[kind];
        }
        if (!faults.isEmpty()) ++faulty_uploads;
        const QString dump = mkdir(QStringLiteral("dump%1").arg(seed));
        QStringList args{"--ack-timeout", "0.2", "--dump", dump};
        for (const QString& f : faults) args << "--fault" << f;
        const QString port = path(QStringLiteral("port%1").arg(seed));
        SimProcess sim(port, args);
        ASSERT_TRUE(sim.ready()) << seed;

        BoundedReads library(settings, 600);
        Upload upload(library, settings, port, rel(), release.file);
        RecordingView view;
        QElapsedTimer clock;
        clock.start();
        const bool uploaded = upload.run(view);
        longest_ms = std::max(longest_ms, clock.elapsed());
        const std::string trace = QStringLiteral("seed %1, %2, faults: %3\n%4")
                                      .arg(seed)
                                      .arg(release.file, faults.join(' '), upload.trace())
                                      .toStdString();
        // Every road closes its port.
        if (library.close_port(upload.state.serial_handle) != kInvalidHandle) {
            ++unclosed;
            ADD_FAILURE() << "port left open: " << trace;
        }
        if (uploaded) {
            ++successes;
            if (upload.reporter.last_status() != "status 1: " + kUploadSuccess ||
                !test::flashed_release(rel(), dump, release.names)) {
                ++false_successes;
                ADD_FAILURE() << "false success: " << trace;
            }
        } else {
            ++failures;
            if (upload.reporter.boxes().isEmpty() || upload.reporter.last_status() != "status 3: " + kUploadFailure) {
                ++silent_failures;
                ADD_FAILURE() << "failure without its chain: " << trace;
            }
        }
    }
    EXPECT_EQ(false_successes, 0);
    EXPECT_EQ(successes + failures, uploads);
    // Most faults are mended by the retries: far more uploads succeed than fail.
    EXPECT_GT(successes, uploads / 2);

    if (const char* report = std::getenv("HALVERN_SOAK_REPORT"); report && *report) {
        QFile out(QString::fromLocal8Bit(report));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QTextStream t(&out);
        t << "| Fault kind | Injected | Per upload |\n|---|---:|---:|\n";
        for (const char* kind : kFaultKinds)
            t << "| `" << kind << "` | " << injected[kind] << " | "
              << QString::number(double(injected[kind]) / uploads, 'f', 2) << " |\n";
        t << "\n| Uploads | With faults | Successes | Reported failures | False successes | "
             "Failures without their chain | Ports left open | Longest run |\n"
             "|---:|---:|---:|---:|---:|---:|---:|---:|\n"
          << "| " << uploads << " | " << faulty_uploads << " | " << successes << " | " << failures << " | "
          << false_successes << " | " << silent_failures << " | " << unclosed << " | "
          << QString::number(longest_ms / 1000.0, 'f', 2) << " s |\n";
    }
}

using PortTest = LinkTest;

// A view that pulls the plug once the first block has gone.
class PullingView : public RecordingView {
public:
    std::function<void()> on_progress;
    void set_progress_value(float v) override {
        RecordingView::set_progress_value(v);
        if (v > 0 && on_progress) std::exchange(on_progress, nullptr)();
    }
};

TEST_F(PortTest, PulledPlugMidTransferFailsAtOnceAndThePortIsFreeAgain) {
    const QString port = path("port");
    auto sim = std::make_unique<SimProcess>(port, QStringList{});
    ASSERT_TRUE(sim->ready());
    BoundedReads library(settings, 0);
    Upload upload(library, settings, port, rel(), "DEMO.PJV");
    PullingView view;
    QElapsedTimer since_pulled;
    view.on_progress = [&] {
        sim->kill();
        since_pulled.start();
    };
    // The port was opened with the upload's 30-second read time-out: only a line that reports
    // its hang-up at once ends this within a second.
    EXPECT_FALSE(upload.run(view));
    ASSERT_TRUE(since_pulled.isValid()) << "the transfer never began";
    EXPECT_LT(since_pulled.elapsed(), 1000);
    EXPECT_FALSE(upload.reporter.boxes().isEmpty());
    EXPECT_EQ(upload.reporter.last_status(), "status 3: " + kUploadFailure);
    EXPECT_EQ(library.close_port(upload.state.serial_handle), kInvalidHandle) << "the upload left its port open";

    // The same program, with a projector on the line again, uploads as before.
    const QString dump = mkdir("dump");
    sim = std::make_unique<SimProcess>(port, QStringList{"--dump", dump});
    ASSERT_TRUE(sim->ready());
    upload.reporter.events.clear();
    RecordingView view2;
    EXPECT_TRUE(upload.run(view2)) << upload.trace().toStdString();
    EXPECT_EQ(upload.reporter.last_status(), "status 1: " + kUploadSuccess);
    EXPECT_TRUE(test::flashed_release(rel(), dump, {"BOOT", "MAIN", "DATA"}));
}

// Inside one program: the port held under one name is refused under every other name of the
// same device, and free again once closed.
TEST_F(PortTest, OneDeviceUnderTwoNamesIsOnePort) {
    SimProcess sim(path("port"), {});
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(::symlink(sim.slave().toLocal8Bit().constData(), path("other").toLocal8Bit().constData()), 0);
    settings.set("Ports", "COM3", path("other"));
    SerialDeviceLibrary library(settings);
    auto open = [](DeviceLibrary& l, const QString& name, std::int32_t& handle) {
        return l.init_port_timeouts(handle, name.toLocal8Bit().constData(), 38400, 500);
    };
    std::int32_t held = 0;
    ASSERT_EQ(open(library, path("port"), held), kOk);
    for (const QString& name : {sim.slave(), path("other"), QStringLiteral("COM3")}) {
        SCOPED_TRACE(name.toStdString());
        std::int32_t second = 0;
        EXPECT_EQ(open(library, name, second), kAccessDenied);
        SerialDeviceLibrary another(settings);
        EXPECT_EQ(open(another, name, second), kAccessDenied);
    }
    ASSERT_EQ(library.close_port(held), kOk);
    std::int32_t again = 0;
    EXPECT_EQ(open(library, path("other"), again), kOk);
}

// Two programs of ours on one port, whoever runs them (in CI: root, whom the driver's
// exclusive-use flag does not stop): the second is refused before it says anything on the
// line, and the first upload goes on untouched.
TEST_F(PortTest, SecondProgramOnTheSamePortIsRefusedAndTheUploadGoesOn) {
    const QString dump = mkdir("dump");
    SimProcess sim(path("port"), {"--baud-pace", "--state", "standby", "--dump", dump});
    ASSERT_TRUE(sim.ready());
    ASSERT_EQ(::symlink(sim.slave().toLocal8Bit().constData(), path("other").toLocal8Bit().constData()), 0);
    const QString config = path("config");
    QProcess first;
    test::start_program(first, {"--yes", "--port", path("port"), "--dir", rel(), "SMALL.PJV"}, config);
    // Once the file is announced, its one block crawls over the line at 38,400 baud for
    // about four seconds: the second program comes in then.
    if (!sim.wait_for("announce", 15000)) {
        test::finish(first, 0);
        FAIL() << sim.log().toStdString();
    }
    const QByteArray before = sim.log();
    const struct {
        QStringList args;
        QString status;  // the status line of the command whose open failed
    } seconds[] = {
        {{"--status", "--port", path("other")}, "Unable to communicate with serial port."},
        {{"--status", "--port", sim.slave()}, "Unable to communicate with serial port."},
        {{"--yes", "--port", path("other"), "--dir", rel(), "SMALL.PJV"}, "Unable to connect to serial port."},
    };
    for (const auto& s : seconds) {
        SCOPED_TRACE(s.args.join(' ').toStdString());
        const test::ProgramResult second = test::run_program(s.args, config, 20000);
        EXPECT_EQ(second.code, 3);
        ASSERT_GE(second.err.size(), 2) << second.err.join('\n').toStdString();
        // The status line, then the cause, naming the program that holds the port.
        EXPECT_EQ(second.err[second.err.size() - 2], s.status);
        EXPECT_TRUE(second.err.last().startsWith("halvern-upload: " + s.args[s.args.indexOf("--port") + 1] +
                                                 ": in use by process"))
            << second.err.last().toStdString();
        EXPECT_TRUE(second.err.last().contains(QStringLiteral("%1 (halvern-upload)").arg(first.processId())))
            << second.err.last().toStdString();
    }
    // Nothing of the second program reached the projector.
    EXPECT_FALSE(sim.log().mid(before.size()).contains("cmd")) << sim.log().mid(before.size()).toStdString();

    const test::ProgramResult r = test::finish(first, 30000);
    EXPECT_EQ(r.code, 0) << r.err.join('\n').toStdString();
    EXPECT_TRUE(test::flashed_release(rel(), dump, {"TINY"}));
}

}  // namespace
}  // namespace halvern
