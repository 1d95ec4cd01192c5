// The version control file: lengths, declared length, entry checks in order, byte totals.
#include "image/VersionControl.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::VersionFileBuilder;

namespace {

struct Release {
    QTemporaryDir dir;
    RecordingReporter reporter;
    VersionControlRecord record{};
    ProgressTotals totals;

    void mot(const QString& name) { VersionFileBuilder::write_file(dir.path(), name, "S9030000FC\r\n"); }
    bool read(const VersionFileBuilder& file, QString* path_out = nullptr) {
        const QString path = file.write(dir.path(), QStringLiteral("REL.PJV"));
        if (path_out) *path_out = path;
        return read_version_control_file(path, dir.path(), record, totals, reporter);
    }
};

}  // namespace

TEST(GetBigEndian, FirstByteIsMostSignificantAndWide) {
    const struct { std::vector<std::uint8_t> bytes; int start, count; std::int64_t value; } cases[] = {
        {{0x00, 0x00, 0x00, 0xFF}, 0, 4, 255},
        {{0x00, 0x00, 0x01, 0x00}, 0, 4, 256},
        {{0x00, 0x00, 0x03, 0x00}, 0, 4, 768},
        {{0x00, 0x03, 0x00, 0x00}, 0, 4, 196608},
        {{0x80, 0x00, 0x00, 0x00}, 0, 4, 0x80000000LL},
        {{0xFF, 0xFF, 0xFF, 0xFF}, 0, 4, 0xFFFFFFFFLL},
        {{0x12, 0x34, 0x56}, 1, 2, 0x3456},
        {{0x12, 0x34}, 0, 0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(get_big_endian(c.bytes, c.start, c.count), c.value);
    EXPECT_EQ(get_big_endian(QByteArray("\x00\x00\x02\x40", 4), 0, 4), 576);
}

TEST(ReadVersionControlFile, LengthsAndDeclaredLength) {
    const struct { int length; std::uint32_t declared; bool ok; int message; } cases[] = {
        {575, 575, false, 1},  // below the minimum
        {576, 576, true, 0},   // 00 00 02 40, no trailer
        {768, 768, true, 0},   // 00 00 03 00
        {768, 0x00030000, false, 2},  // little-endian order of 768
        {700, 768, false, 2},
    };
    for (const auto& c : cases) {
        Release r;
        r.mot("A.mot");
        QString path;
        const bool ok = r.read(VersionFileBuilder(c.length).put(52, c.declared).entry(0, "A", 0, 100), &path);
        EXPECT_EQ(ok, c.ok) << c.length;
        QStringList expected;
        if (c.message == 1)
            expected << "Version control file " + path + " is not the minimum file length.  Unable to continue processing.";
        if (c.message == 2)
            expected << "Specified file length of the version control file " + path +
                            " does not match the actual file length.  Unable to continue processing.";
        EXPECT_EQ(r.reporter.boxes(), expected) << c.length;
    }
}

TEST(ReadVersionControlFile, TheFirstFailingEntryWins) {
    {   // entry 2 misses its file, entry 5 has a wrong sequence: the missing file is reported
        Release r;
        r.mot("A.mot");
        EXPECT_FALSE(r.read(VersionFileBuilder().entry(0, "A", 0, 10).entry(2, "GONE", 0, 10).sequence(5, 9)));
        EXPECT_EQ(r.reporter.boxes(), QStringList{"Motorola file GONE.MOT is missing.  Unable to continue processing."});
    }
    {   // an unused entry with a wrong sequence still fails, with no full stop at the end
        Release r;
        r.mot("A.mot");
        QString path;
        EXPECT_FALSE(r.read(VersionFileBuilder().entry(0, "A", 0, 10).sequence(15, 0), &path));
        EXPECT_EQ(r.reporter.boxes(),
                  QStringList{"Version control file " + path + " is not formatted correctly.  Unable to continue"});
    }
    {   // sixteen unused entries: false and no box
        Release r;
        EXPECT_FALSE(r.read(VersionFileBuilder()));
        EXPECT_TRUE(r.reporter.events.isEmpty());
    }
    {   // the file is found without regard to case, and the record holds the file
        Release r;
        r.mot("ABC.MOT");
        EXPECT_TRUE(r.read(VersionFileBuilder().name("Release A").entry(3, "abc", 0x10, 0x20)));
        EXPECT_TRUE(r.reporter.events.isEmpty());
        EXPECT_EQ(r.record.release_name_text(), "Release A");
        EXPECT_EQ(r.record.files[3].name(), "abc");
        EXPECT_EQ(r.record.files[3].start(), 0x10);
    }
    {   // hidden files and directories do not count as NAME.mot
        Release r;
        QDir(r.dir.path()).mkdir("D.mot");
        r.mot(".H.mot");
        EXPECT_FALSE(r.read(VersionFileBuilder().entry(0, "D", 0, 1)));
        EXPECT_FALSE(r.read(VersionFileBuilder().entry(0, ".H", 0, 1)));
        EXPECT_EQ(r.reporter.boxes().size(), 2);
    }
}

TEST(ReadVersionControlFile, ByteTotalsAndDivisor) {
    const struct { std::vector<std::pair<std::uint32_t, std::uint32_t>> windows; double total; int divisor; } cases[] = {
        {{{0, 32767}}, 32767, 1},
        {{{0, 40000}}, 20000, 2},
        {{{0, 65535}}, 32767, 2},
        {{{0, 65536}}, 16384, 4},
        {{{0, 20000}, {100, 20100}}, 20000, 2},
        {{{0x7FFFFFFF, 0x800FFFFE}}, 0xFFFFF >> 5, 32},  // top-bit addresses in wide arithmetic
        {{{0xFFF00000, 0xFFFFFFFF}}, 0xFFFFF >> 5, 32},
    };
    for (const auto& c : cases) {
        Release r;
        VersionFileBuilder file;
        for (std::size_t i = 0; i < c.windows.size(); ++i) {
            const QString name = QStringLiteral("F%1").arg(i);
            r.mot(name + ".mot");
            file.entry(static_cast<int>(i), name.toLatin1(), c.windows[i].first, c.windows[i].second);
        }
        EXPECT_TRUE(r.read(file));
        EXPECT_EQ(r.totals.progress_total, c.total);
        EXPECT_EQ(r.totals.progress_divisor, c.divisor);
        EXPECT_LE(r.totals.progress_total, 32767);
    }
}

TEST(ReadVersionControlFile, WindowsThatDoNotFitTheImageBufferAreRejected) {
    const struct { std::uint32_t start, end; bool ok; } cases[] = {
        {0, 0xFFFFF, true},             // exactly 1,048,576 addresses
        {0, 0x100000, false},           // one more
        {0x1000, 0x0FFF, false},        // reversed: would lower the total
        {0, 0xFFFFFFFF, false},
        {0x80000000, 0x800FFFFF, true},
    };
    for (const auto& c : cases) {
        Release r;
        r.mot("BIG.mot");
        EXPECT_EQ(r.read(VersionFileBuilder().entry(1, "BIG", c.start, c.end)), c.ok) << c.start << " " << c.end;
        const QStringList expected = c.ok ? QStringList() : QStringList{
            "Motorola file BIG.MOT has an address window that does not fit the image buffer.  Unable to continue processing."};
        EXPECT_EQ(r.reporter.boxes(), expected);
    }
}

TEST(VersionControlRecord, NameFieldsWithoutNul) {
    const VersionControlRecord record = VersionControlRecord::from_bytes(
        VersionFileBuilder().name("0123456789ABCDEF").entry(0, "NAME_OF_15CHARS", 0, 1).version("0210xyz").bytes());
    EXPECT_EQ(record.release_name_text(), "0123456789ABCDEF");
    EXPECT_EQ(record.files[0].name(), "NAME_OF_15CHARS");
    EXPECT_EQ(record.release_version_text(), "02.10");
}

TEST(ReadVersionControlFile, UnreadablePathIsReportedNotPassed) {
    RecordingReporter reporter;
    VersionControlRecord record{};
    ProgressTotals totals;
    EXPECT_FALSE(read_version_control_file("/nonexistent/REL.PJV", "/nonexistent", record, totals, reporter));
    EXPECT_EQ(reporter.boxes(),
              QStringList{"Version control file /nonexistent/REL.PJV cannot be opened.  Unable to continue processing."});
}
