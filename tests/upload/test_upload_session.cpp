// A whole press of "Start &Upload" through the session with real release files: a damaged
// release is refused with its box chain before the first exchange with the device.

#include "upload/UploadSession.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

TEST(UploadSession, DamagedReleaseNeverReachesTheDevice) {
    const QByteArray good = s3_records(0x1000, pattern(64));
    // Line 2 with AX for its first data byte and two blanks at its end.
    QByteArray trailing_data = good;
    const qsizetype second = good.indexOf("\r\n") + 2;
    trailing_data.replace(second + 12, 2, "AX");
    trailing_data.insert(trailing_data.indexOf("\r\n", second), "  ");
    const struct {
        const char* what;
        bool emergency;
        QByteArray b_text;
        QStringList boxes;
    } cases[] = {
        {"normal mode", false, trailing_data,
         {"Motorola format error.  Line 2 of B.mot holds a character that is not a hexadecimal digit.",
          "Error during read of B.mot file."}},
        {"emergency mode", true, trailing_data,
         {"Motorola format error.  Line 2 of B.mot holds a character that is not a hexadecimal digit.",
          "Error during read of B.mot file."}},
        {"missing file, emergency mode", true, {}, {"Motorola file B.MOT is missing.  Unable to continue processing."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "A.mot", good);
        if (!c.b_text.isEmpty()) VersionFileBuilder::write_file(dir.path(), "B.mot", c.b_text);
        const QString release = VersionFileBuilder()
                                    .name("Release")
                                    .version("0123")
                                    .entry(0, "A", 0x1000, 0x10FF)
                                    .entry(1, "B", 0x1000, 0x10FF)
                                    .write(dir.path(), "R.PJV");
        SettingsStore settings(dir.filePath("settings.ini"));
        AppState state;
        state.port_name = "COM1";
        ScriptedDeviceLibrary library;
        RecordingReporter reporter;
        RecordingView view;
        SerialConnection connection(library, state, settings, reporter);
        UploadRequest request;
        request.selected_line = "Release\t01.23";
        request.version_file = release;
        request.working_directory = dir.path();
        request.emergency = c.emergency;
        request.pause = [] {};

        EXPECT_FALSE(run_upload(connection, reporter, view, request));
        QStringList expected;
        for (const QString& box : c.boxes) expected << "box: " + box;
        expected << "status 3: Unable to read select version control file.";
        EXPECT_EQ(reporter.events, expected);  // no confirmation asked
        EXPECT_TRUE(library.calls.empty());    // the port was never opened
    }
}
