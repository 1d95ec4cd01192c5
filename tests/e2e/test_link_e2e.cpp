// The serial library and the upload road against projector-sim, as a technician meets the port:
// seeded uploads with faults on the line both ways. (A line that hangs up, one port under
// several names and a port another program holds are the serial library's own tests.)
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
#include "tests/support/BoundedReads.h"
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
#include <map>
#include <random>

#include <unistd.h>

namespace halvern {
namespace {

using test::BoundedReads;
using test::RecordingReporter;
using test::RecordingView;
using test::SimProcess;

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

}  // namespace
}  // namespace halvern
