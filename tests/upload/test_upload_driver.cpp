// upload_version against a scripted projector: the order of the messages, the block message
// size from the device's reply, the progress window, and where each failure stops it.

#include "upload/UploadDriver.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kOutOfRetries = "Unable to communicate with device.  Maximum number of retries reached.";

struct DriverRig {
    QTemporaryDir dir;
    ScriptedDeviceLibrary lib;
    LinkPeer peer{lib};
    RecordingReporter reporter;
    RecordingView view;
    std::int32_t handle = 1;
    FrameLayer frames{lib, handle, reporter};
    UploadLink link{frames, reporter, view};
    int pauses = 0;
    UploadDriver driver{link, reporter, view, [this] { ++pauses; }};
    VersionFileBuilder vcf;
    QString path;
    std::vector<Frame> images;

    DriverRig() { link.working_directory = dir.path(); }

    // Entry index named name, holding size bytes at 0x1000 * (index + 1).
    void file(int index, const QByteArray& name, std::size_t size) {
        const std::uint32_t start = 0x1000u * static_cast<std::uint32_t>(index + 1);
        vcf.entry(index, name, start, start + static_cast<std::uint32_t>(size) - 1);
        images.push_back(pattern(size, static_cast<std::uint8_t>(index)));
        VersionFileBuilder::write_file(dir.path(), name + ".mot", s3_records(start, images.back()));
    }
    bool run(UploadDriver* other = nullptr) {
        path = vcf.name("Release").version("0123").write(dir.path(), "R.PJV");
        VersionControlRecord record{};
        return (other ? *other : driver).upload_version(record, path);
    }
};

}  // namespace

TEST(UploadDriver, SendsEveryUsedEntryBetweenTheOpeningAndClosingMessages) {
    DriverRig rig;
    rig.peer.block_message_size = 120;  // blocks of 100 bytes
    rig.file(0, "FIRST", 150);          // two blocks
    rig.file(3, "FOURTH", 100);         // one block
    ASSERT_TRUE(rig.run());

    EXPECT_EQ(rig.peer.codes(), (std::vector<int>{1, 3, 5, 7, 9, 7, 9, 11, 5, 7, 9, 11, 13, 15}));
    EXPECT_EQ(rig.link.block_message_size, 120);
    EXPECT_EQ(rig.peer.messages[1].bytes.size(), 20u + 768u);  // the whole version control file
    EXPECT_EQ(rig.peer.messages[2].data(), Frame({'F', 'I', 'R', 'S', 'T', '.', 'm', 'o', 't'}));

    Frame expected = rig.images[0];
    expected.resize(200, 0xFF);
    expected.insert(expected.end(), rig.images[1].begin(), rig.images[1].end());
    EXPECT_EQ(rig.peer.block_bytes(), expected);

    // The window is loaded once, its maximum set before each file to the byte total.
    EXPECT_EQ(rig.view.maximum_sets, 2);
    EXPECT_FLOAT_EQ(rig.view.maximum, 149 + 99);
    EXPECT_FLOAT_EQ(rig.view.value, 149 + 99);  // three steps of 120 stop at the maximum
    EXPECT_TRUE(rig.view.shown);
    EXPECT_FALSE(rig.view.busy);
    EXPECT_EQ(rig.view.busy_changes, 2);
    EXPECT_EQ(rig.pauses, 1);
    EXPECT_TRUE(rig.reporter.events.isEmpty());
}

TEST(UploadDriver, EachFailureStopsWhereItHappens) {
    struct Case {
        const char* what;
        std::set<std::uint8_t> silent;
        int quiet_after;
        bool missing_file;
        bool bad_third_file;
        std::vector<int> codes;
        QStringList boxes;
        std::int32_t block_message_size = 120;
    } cases[] = {
        {"upload mode not opened", {}, 0, false, false, {}, {kOutOfRetries, "Error initiating upload mode of device."}},
        {"no reply to the opening message", {1}, -1, false, false, {1}, {}},
        {"no reply to the version control file", {3}, -1, false, false, {1, 3}, {}},
        // In emergency mode the release is first checked here, after the device has it.
        {"a file of the release is missing", {}, -1, true, false, {1, 3},
         {"Motorola file FOURTH.MOT is missing.  Unable to continue processing."}},
        {"the third of four files fails", {}, -1, false, true, {1, 3, 5, 7, 9, 11, 5, 7, 9, 11},
         {"Motorola format error.  First character of each record must be an 'S'.", "Error during read of THIRD.mot file.",
          "Error uploading THIRD.mot"}},
        {"reset not delivered", {}, 19, false, false, {1, 3, 5, 7, 9, 11, 5, 7, 9, 11, 5, 7, 9, 11, 5, 7, 9, 11, 13},
         {kOutOfRetries, "Unable to reset device status.", "Error resetting device status."}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DriverRig rig;
        rig.peer.block_message_size = c.block_message_size;
        rig.peer.silent_codes = c.silent;
        rig.peer.quiet_after = c.quiet_after;
        for (const char* name : {"FIRST", "SECOND", "THIRD", "FOURTH"}) rig.file(int(rig.images.size()), name, 50);
        if (c.missing_file) QFile::remove(rig.dir.filePath("FOURTH.mot"));
        if (c.bad_third_file) VersionFileBuilder::write_file(rig.dir.path(), "THIRD.mot", "X3090000300001020304F9\r\n");
        EXPECT_FALSE(rig.run());
        EXPECT_EQ(rig.peer.codes(), c.codes);
        EXPECT_EQ(rig.reporter.boxes(), c.boxes);
        EXPECT_FALSE(rig.view.busy);  // the hourglass goes on every path
        EXPECT_EQ(rig.view.busy_changes, 2);
    }
}

// The real program's driver pauses one second in the reporter before the first frame; the
// block message size comes from the device's reply (00 00 40 00 here).
TEST(UploadDriver, WithoutItsOwnPauseItWaitsOneSecondInTheReporterBeforeTheFirstMessage) {
    DriverRig rig;
    std::size_t sent_before_pause = 99;
    UploadDriver driver(rig.link, rig.reporter, rig.view);
    rig.lib.on_send = [&, peer_side = rig.lib.on_send](ScriptedDeviceLibrary& l, const ScriptedDeviceLibrary::Frame& f) {
        if (sent_before_pause == 99) sent_before_pause = rig.reporter.pauses.size();
        peer_side(l, f);
    };
    rig.file(0, "ONE", 40);
    ASSERT_TRUE(rig.run(&driver));
    EXPECT_EQ(rig.reporter.pauses, std::vector<int>{1000});
    EXPECT_EQ(sent_before_pause, 1u);
    EXPECT_EQ(rig.link.block_message_size, 16384);
    EXPECT_EQ(rig.peer.messages[3].bytes.size(), 16384u);
}
