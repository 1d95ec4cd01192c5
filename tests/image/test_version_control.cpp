// The version control file (lengths, entry checks in order, byte totals) and the whole check
// of a release before the first exchange with the device.
#include "image/ReleaseCheck.h"
#include "image/VersionControl.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

struct Release {
    QTemporaryDir dir;
    RecordingReporter reporter;
    VersionControlRecord record{};
    ProgressTotals totals;
    QString path;

    void mot(const QString& name) { VersionFileBuilder::write_file(dir.path(), name, "S9030000FC\r\n"); }
    bool read(const VersionFileBuilder& file) {
        path = file.write(dir.path(), "REL.PJV");
        return read_version_control_file(path, dir.path(), record, totals, reporter);
    }
};

const QString kMissing = "Motorola file %1.MOT is missing.  Unable to continue processing.";

}  // namespace

// The first fault found is the one reported: the file's length, then its entries in order (a
// missing NAME.mot, a window the image buffer cannot hold, a sequence byte out of place even in
// an unused entry). A release with no entry used fails without a box. %1 is the file's path.
TEST(ReadVersionControlFile, TheFirstFaultIsReported) {
    const QString too_short = "Version control file %1 is not the minimum file length.  Unable to continue processing.";
    const QString mismatch = "Specified file length of the version control file %1 does not match the actual file "
                             "length.  Unable to continue processing.";
    const QString window = "Motorola file A.MOT has an address window that does not fit the image buffer.  Unable to "
                           "continue processing.";
    auto a = [](std::uint32_t start, std::uint32_t end) { return VersionFileBuilder().entry(1, "A", start, end); };
    const struct { const char* what; VersionFileBuilder file; bool ok; QString box; } cases[] = {
        {"575 bytes", VersionFileBuilder(575).entry(0, "A", 0, 100), false, too_short},
        {"576 bytes: 00 00 02 40, no trailer", VersionFileBuilder(576).entry(0, "A", 0, 100), true, {}},
        {"768 declared little-endian", a(0, 100).put(52, 0x00030000), false, mismatch},
        {"700 bytes declaring 768", VersionFileBuilder(700).put(52, 768).entry(0, "A", 0, 100), false, mismatch},
        {"entry 2 misses its file, entry 5 has a wrong sequence",
         a(0, 10).entry(2, "GONE", 0, 10).sequence(5, 9), false, kMissing.arg("GONE")},
        {"unused entry with a wrong sequence: no full stop at the end", a(0, 10).sequence(15, 0), false,
         "Version control file %1 is not formatted correctly.  Unable to continue"},
        {"sixteen unused entries", VersionFileBuilder(), false, {}},
        {"a hidden file is no NAME.mot", VersionFileBuilder().entry(0, ".H", 0, 1), false, kMissing.arg(".H")},
        {"exactly 1,048,576 addresses", a(0, 0xFFFFF), true, {}},
        {"one more", a(0, 0x100000), false, window},
        {"reversed: would lower the total", a(0x1000, 0x0FFF), false, window},
        {"the whole 32-bit space", a(0, 0xFFFFFFFF), false, window},
        {"top-bit addresses", a(0x80000000, 0x800FFFFF), true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Release r;
        r.mot("A.mot");
        r.mot(".H.mot");
        EXPECT_EQ(r.read(c.file), c.ok);
        EXPECT_EQ(r.reporter.boxes(), c.box.isEmpty() ? QStringList() : QStringList{QString(c.box).replace("%1", r.path)});
    }
    // The file is found without regard to case; names fill their fields without a NUL.
    Release r;
    r.mot("name_of_15chars.MOT");
    ASSERT_TRUE(r.read(VersionFileBuilder().name("0123456789ABCDEF").version("0210xyz").entry(3, "NAME_OF_15CHARS", 0x10, 0x20)));
    EXPECT_TRUE(r.reporter.events.isEmpty());
    EXPECT_EQ(r.record.release_name_text(), "0123456789ABCDEF");
    EXPECT_EQ(r.record.release_version_text(), "02.10");
    EXPECT_EQ(r.record.files[3].name(), "NAME_OF_15CHARS");
    EXPECT_EQ(r.record.files[3].start(), 0x10);
}

// The progress total stays within 32767 by a power-of-two divisor, in wide arithmetic.
TEST(ReadVersionControlFile, ByteTotalsAndDivisor) {
    const struct { std::vector<std::pair<std::uint32_t, std::uint32_t>> windows; double total; int divisor; } cases[] = {
        {{{0, 32767}}, 32767, 1},
        {{{0, 40000}}, 20000, 2},
        {{{0, 65535}}, 32767, 2},
        {{{0, 65536}}, 16384, 4},
        {{{0, 20000}, {100, 20100}}, 20000, 2},
        {{{0x7FFFFFFF, 0x800FFFFE}}, 0xFFFFF >> 5, 32},
        {{{0xFFF00000, 0xFFFFFFFF}}, 0xFFFFF >> 5, 32},
    };
    for (const auto& c : cases) {
        Release r;
        VersionFileBuilder file;
        for (std::size_t i = 0; i < c.windows.size(); ++i) {
            r.mot(QStringLiteral("F%1.mot").arg(i));
            file.entry(static_cast<int>(i), QByteArray("F") + QByteArray::number(qulonglong(i)), c.windows[i].first, c.windows[i].second);
        }
        EXPECT_TRUE(r.read(file));
        EXPECT_EQ(r.totals.progress_total, c.total);
        EXPECT_EQ(r.totals.progress_divisor, c.divisor);
    }
}

// check_release stops at the first faulty file with its box chain, innermost first.
TEST(CheckRelease, BoxChainsOfTheFirstFault) {
    const QByteArray good = s3_records(0x1000, pattern(40));  // 3 data records and an S7
    const QByteArray damaged = good.left(good.indexOf("\r\n") + 2) + "S30900001010AXBBCC00\r\n";
    const QString read_error = "Error during read of B.mot file.";
    const struct {
        const char* what;
        QByteArray b_text;  // the content of B.mot ("": no file)
        QStringList boxes;
        int files_read;
    } cases[] = {
        {"accepted", good, {}, 2},
        {"damaged record in the second file", damaged,
         {"Motorola format error.  Line 2 of B.mot holds a character that is not a hexadecimal digit.", read_error}, 1},
        {"missing file", "", {kMissing.arg("B")}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "A.mot", good);
        if (!c.b_text.isEmpty())
            VersionFileBuilder::write_file(dir.path(), "B.mot", c.b_text);
        const QString release =
            VersionFileBuilder().entry(0, "A", 0x1000, 0x10FF).entry(3, "B", 0x1000, 0x10FF).write(dir.path(), "R.PJV");

        RecordingReporter reporter;
        std::vector<ReleaseFileCheck> files;
        EXPECT_EQ(check_release(release, dir.path(), reporter, &files), c.boxes.isEmpty());
        EXPECT_EQ(reporter.boxes(), c.boxes);
        EXPECT_EQ(static_cast<int>(files.size()), c.files_read);
    }
}
