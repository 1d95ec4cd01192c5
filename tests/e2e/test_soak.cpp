// Seeded uploads through the real serial library against projector-sim with faults on the
// line in both directions. Every upload must either succeed with the projector holding exactly
// the release, or fail with a chain of boxes, the failure line and its port closed. A success
// whose images differ from the release is a false success, and there must be none.
//
// The ordinary suite runs 30 uploads. scripts/soak.sh runs more and writes the table:
//   HALVERN_SOAK_UPLOADS  number of uploads (default 30)
//   HALVERN_SOAK_SEED     first seed (default 1)
//   HALVERN_SOAK_REPORT   file to write the Markdown table to

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
#include <QTextStream>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>

namespace halvern {
namespace {

using test::RecordingReporter;
using test::RecordingView;
using test::SimProcess;

// Every port opens with a short read time-out, so that a lost frame costs little.
class ShortReads : public DeviceLibrary {
public:
    ShortReads(DeviceLibrary& inner, std::int32_t timeout_ms) : inner_(inner), timeout_ms_(timeout_ms) {}
    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port_name, std::int32_t baud_rate,
                                    std::int32_t) override {
        return inner_.init_port_timeouts(handle, port_name, baud_rate, timeout_ms_);
    }
    std::int32_t close_port(std::int32_t handle) override { return inner_.close_port(handle); }
    std::int32_t query_upload_status(std::int32_t h, DeviceReply& r) override { return inner_.query_upload_status(h, r); }
    std::int32_t request_standby_mode(std::int32_t h, DeviceReply& r) override { return inner_.request_standby_mode(h, r); }
    std::int32_t request_upload_mode(std::int32_t h, DeviceReply& r) override { return inner_.request_upload_mode(h, r); }
    std::int32_t get_proj_info(std::int32_t h, DeviceReply& r) override { return inner_.get_proj_info(h, r); }
    std::int32_t send_data(std::int32_t h, std::span<const std::uint8_t> f, std::int32_t& out) override {
        return inner_.send_data(h, f, out);
    }
    std::int32_t get_data(std::int32_t h, std::span<std::uint8_t> b, std::int32_t& out) override {
        return inner_.get_data(h, b, out);
    }

private:
    DeviceLibrary& inner_;
    std::int32_t timeout_ms_;
};

struct Release {
    const char* file;
    QStringList names;
    int system_frames;  // frames the system transmits in a clean upload (faults aim inside)
    int device_frames;  // frames the device sends
};
const Release kReleases[] = {
    {"SMALL.PJV", {QStringLiteral("TINY")}, 24, 45},
    {"DEMO.PJV", {QStringLiteral("BOOT"), QStringLiteral("MAIN"), QStringLiteral("DATA")}, 60, 110},
};

// The fault kinds of projector-sim: on what the device receives and on what it sends.
const char* const kFaultKinds[] = {"drop-frame", "corrupt-frame", "wrong-seq",     "drop-reply",
                                   "corrupt-reply", "wrong-seq-ack", "garbage"};

// Whether the projector holds exactly the release: each file's window, then FF to the end of
// its last block.
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

int env_number(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

TEST(Soak, SeededUploadsWithFaultsBothWays) {
    const int uploads = env_number("HALVERN_SOAK_UPLOADS", 30);
    const int first_seed = env_number("HALVERN_SOAK_SEED", 1);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString rel = dir.filePath(QStringLiteral("rel"));
    ASSERT_EQ(QProcess::execute(QStringLiteral(SAMPLE_RELEASE_PATH), {rel}), 0);
    SettingsStore settings(dir.filePath(QStringLiteral("settings.ini")));

    std::map<std::string, int> injected;  // fault kind: how many were asked for
    int successes = 0, failures = 0, false_successes = 0, unclosed = 0, silent_failures = 0, faulty_uploads = 0;
    qint64 longest_ms = 0;
    for (int seed = first_seed; seed < first_seed + uploads; ++seed) {
        std::mt19937 random(static_cast<std::uint32_t>(seed));
        const Release& release = kReleases[random() % 3 == 0 ? 1 : 0];
        QStringList args{QStringLiteral("--ack-timeout"), QStringLiteral("0.2")};
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
        for (const QString& f : faults) args << QStringLiteral("--fault") << f;
        const QString dump = dir.filePath(QStringLiteral("dump%1").arg(seed));
        ASSERT_TRUE(QDir().mkpath(dump));
        args << QStringLiteral("--dump") << dump;
        const QString port = dir.filePath(QStringLiteral("port%1").arg(seed));
        SimProcess sim(QStringLiteral(PROJECTOR_SIM_PATH), port, args);
        ASSERT_TRUE(sim.ready()) << seed;

        SerialDeviceLibrary serial(settings);
        ShortReads library(serial, 600);
        AppState state;
        state.port_name = port;
        state.baud_rate = 38400;
        state.working_directory = rel;
        state.emergency_mode = true;
        RecordingReporter reporter;
        RecordingView view;
        SerialConnection connection(library, state, settings, reporter);
        UploadRequest request;
        request.selected_line = QStringLiteral("Release");
        request.version_file = rel + QLatin1Char('/') + QLatin1String(release.file);
        request.working_directory = rel;
        request.emergency = true;
        request.pause = [] {};

        QElapsedTimer clock;
        clock.start();
        const bool uploaded = run_upload(connection, reporter, view, request);
        longest_ms = std::max(longest_ms, clock.elapsed());
        const QString trace = QStringLiteral("seed %1, %2, faults: %3\n%4")
                                  .arg(seed)
                                  .arg(QLatin1String(release.file), faults.join(QLatin1Char(' ')),
                                       reporter.events.join(QLatin1Char('\n')));
        // Every road closes its port.
        if (library.close_port(state.serial_handle) != kInvalidHandle) {
            ++unclosed;
            ADD_FAILURE() << "port left open: " << trace.toStdString();
        }
        if (uploaded) {
            ++successes;
            if (reporter.last_status() != QStringLiteral("status 1: ") + kUploadSuccess ||
                !images_match(rel, dump, release.names)) {
                ++false_successes;
                ADD_FAILURE() << "false success: " << trace.toStdString();
            }
        } else {
            ++failures;
            if (reporter.boxes().isEmpty() || reporter.last_status() != QStringLiteral("status 3: ") + kUploadFailure) {
                ++silent_failures;
                ADD_FAILURE() << "failure without its chain: " << trace.toStdString();
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
