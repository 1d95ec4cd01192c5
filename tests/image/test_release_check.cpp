// The whole check of a release before the first exchange with the device: the boxes it shows
// (innermost first) and what it found in each file.
#include "image/ReleaseCheck.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"
#include "tests/support/NonRegularFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

TEST(CheckRelease, BoxChainsOfTheFirstFault) {
    const QByteArray good = s3_records(0x1000, pattern(40));  // 3 data records and an S7
    const QByteArray damaged = good.left(good.indexOf("\r\n") + 2) + "S30900001010AXBBCC00\r\n";
    // Line 3 with one data digit changed and its checksum kept.
    QByteArray wrong_sum = good;
    const qsizetype third = good.indexOf("\r\nS3", good.indexOf("\r\nS3") + 1) + 2;
    wrong_sum[third + 12] = good[third + 12] == '0' ? '1' : '0';
    const QString missing = "Motorola file B.MOT is missing.  Unable to continue processing.";
    const struct {
        const char* label;
        QByteArray b_text;       // the content of B.mot ("fifo": a link to a FIFO, "": no file)
        std::uint32_t b_end;
        QStringList boxes;
        int files_read;
    } cases[] = {
        {"accepted", good, 0x10FF, {}, 2},
        {"damaged record in the second file", damaged, 0x10FF,
         {"Motorola format error.  Line 2 of B.mot holds a character that is not a hexadecimal digit.",
          "Error during read of B.mot file."}, 1},
        {"checksum", wrong_sum, 0x10FF,
         {"Motorola format error.  Checksum of line 3 of B.mot does not match.", "Error during read of B.mot file."}, 1},
        {"missing file", "", 0x10FF, {missing}, 0},
        {"link to a FIFO", "fifo", 0x10FF, {missing}, 0},
        {"window too large", good, 0x101000,
         {"Motorola file B.MOT has an address window that does not fit the image buffer.  Unable to continue processing."}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "A.mot", good);
        if (c.b_text == "fifo")
            make_link(dir.path(), "B.mot", make_fifo(dir.path(), "b.fifo"));
        else if (!c.b_text.isEmpty())
            VersionFileBuilder::write_file(dir.path(), "B.mot", c.b_text);
        const QString release =
            VersionFileBuilder().entry(0, "A", 0x1000, 0x10FF).entry(3, "B", 0x1000, c.b_end).write(dir.path(), "R.PJV");

        Watchdog watchdog(c.label);
        RecordingReporter reporter;
        std::vector<ReleaseFileCheck> files;
        EXPECT_EQ(check_release(release, dir.path(), reporter, &files), c.boxes.isEmpty());
        EXPECT_EQ(reporter.boxes(), c.boxes);
        EXPECT_EQ(static_cast<int>(files.size()), c.files_read);
    }
}

TEST(CheckRelease, LinesOfTheCheck) {
    QTemporaryDir dir;
    // 40 bytes at 0x1000 in three records; the window starts 8 bytes in and ends at 0x10FF.
    VersionFileBuilder::write_file(dir.path(), "main.MOT", "S00600004844521B\r\n" + s3_records(0x1000, pattern(40)));
    VersionFileBuilder::write_file(dir.path(), "Boot.mot", s_record('1', "0000AABB") + "\n");
    const QString release =
        VersionFileBuilder().entry(0, "MAIN", 0x1008, 0x10FF).entry(1, "Boot", 0, 0xFFFF).write(dir.path(), "R.PJV");
    RecordingReporter reporter;
    std::vector<ReleaseFileCheck> files;
    ASSERT_TRUE(check_release(release, dir.path(), reporter, &files));
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(release_file_check_line(files[0]),
              "MAIN.mot: 5 records, 32 bytes inside the window 00001008-000010FF, 8 bytes outside it, "
              "216 addresses of the window filled with FF");
    EXPECT_EQ(release_file_check_line(files[1]),
              "Boot.mot: 1 records, 2 bytes inside the window 00000000-0000FFFF, 0 bytes outside it, "
              "65534 addresses of the window filled with FF");
}
