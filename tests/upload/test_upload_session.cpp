// A whole press of "Start &Upload" through the session with real release files: a damaged
// release is refused with its box chain before the first exchange with the device.

#include "upload/UploadSession.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/SRecords.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

TEST(UploadSession, DamagedReleaseNeverReachesTheDevice) {
    const QByteArray good = s3_records(0x1000, pattern(64));
    // Line 2 with AX for its first data byte and two blanks at its end.
    QByteArray damaged = good;
    const qsizetype second = good.indexOf("\r\n") + 2;
    damaged.replace(second + 12, 2, "AX");
    damaged.insert(damaged.indexOf("\r\n", second), "  ");
    const QStringList damaged_boxes = {
        "box: Motorola format error.  Line 2 of B.mot holds a character that is not a hexadecimal digit.",
        "box: Error during read of B.mot file."};
    const struct { bool emergency; QByteArray b_text; QStringList boxes; } cases[] = {
        {false, damaged, damaged_boxes},
        {true, damaged, damaged_boxes},
        {true, {}, {"box: Motorola file B.MOT is missing.  Unable to continue processing."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.emergency ? c.b_text.isEmpty() ? "missing file, emergency mode" : "emergency mode" : "normal mode");
        ConnectionRig rig;
        rig.state.port_name = "COM1";
        VersionFileBuilder::write_file(rig.tmp.path(), "A.mot", good);
        if (!c.b_text.isEmpty()) VersionFileBuilder::write_file(rig.tmp.path(), "B.mot", c.b_text);
        UploadRequest request;
        request.selected_line = "Release\t01.23";
        request.version_file = VersionFileBuilder().name("Release").version("0123").entry(0, "A", 0x1000, 0x10FF)
                                   .entry(1, "B", 0x1000, 0x10FF).write(rig.tmp.path(), "R.PJV");
        request.working_directory = rig.tmp.path();
        request.emergency = c.emergency;
        request.pause = [] {};

        EXPECT_EQ(run_upload(rig.connection, rig.reporter, rig.view, request).outcome, Outcome::ReleaseRejected);
        // No confirmation asked, and the port was never opened.
        EXPECT_EQ(rig.reporter.events, c.boxes + QStringList{"status 3: Unable to read select version control file."});
        EXPECT_TRUE(rig.library.calls.empty());
    }
}
