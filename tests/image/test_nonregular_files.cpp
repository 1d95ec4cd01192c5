// Only a regular file (after following links) counts as a NAME.mot or a release: FIFOs,
// devices, directories and dangling links are missing or not listed, and never opened.
#include "image/FileLookup.h"
#include "image/MotorolaReader.h"
#include "image/ReleaseCatalogue.h"
#include "image/VersionControl.h"

#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/NonRegularFiles.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

// What stands at directory/name for each case.
enum class Kind { Regular, LinkToRegular, Fifo, LinkToFifo, LinkToDevZero, DanglingLink, Directory };

const struct {
    Kind kind;
    const char* label;
    bool regular;
} kKinds[] = {
    {Kind::Regular, "regular file", true},
    {Kind::LinkToRegular, "link to a regular file", true},
    {Kind::Fifo, "FIFO", false},
    {Kind::LinkToFifo, "link to a FIFO", false},
    {Kind::LinkToDevZero, "link to /dev/zero", false},
    {Kind::DanglingLink, "dangling link", false},
    {Kind::Directory, "directory", false},
};

void make(Kind kind, const QString& dir, const QString& name, const QByteArray& content) {
    switch (kind) {
    case Kind::Regular: VersionFileBuilder::write_file(dir, name, content); break;
    case Kind::LinkToRegular:
        make_link(dir, name, VersionFileBuilder::write_file(dir, "target.bin", content));
        break;
    case Kind::Fifo: make_fifo(dir, name); break;
    case Kind::LinkToFifo: make_link(dir, name, make_fifo(dir, "target.fifo")); break;
    case Kind::LinkToDevZero: make_link(dir, name, "/dev/zero"); break;
    case Kind::DanglingLink: make_link(dir, name, QDir(dir).filePath("nothing-here")); break;
    case Kind::Directory: QDir(dir).mkdir(name); break;
    }
}

struct Lines : ReleaseListView {
    QStringList lines;
    void clear_lines() override { lines.clear(); }
    void add_line(const QString& line) override { lines << line; }
};

const QByteArray kRecords = "S1130000000102030405060708090A0B0C0D0E0F74\r\nS9030000FC\r\n";

}  // namespace

TEST(NonRegularFiles, NameMotCountsOnlyAsARegularFile) {
    for (const auto& c : kKinds) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        make(c.kind, dir.path(), "MAIN.mot", kRecords);
        const QString release = VersionFileBuilder().entry(0, "MAIN", 0, 0xFF).write(dir.path(), "REL.PJV");

        Watchdog watchdog(std::string("reading a release whose MAIN.mot is a ") + c.label);
        EXPECT_EQ(find_ordinary_file(dir.path(), "main.MOT").isEmpty(), !c.regular);

        RecordingReporter reporter;
        VersionControlRecord record{};
        ProgressTotals totals;
        EXPECT_EQ(read_version_control_file(release, dir.path(), record, totals, reporter), c.regular);
        EXPECT_EQ(reporter.boxes(), c.regular ? QStringList()
                                              : QStringList{"Motorola file MAIN.MOT is missing.  Unable to continue processing."});

        // The reader refuses it too, should it be swapped in after the version control file was read.
        RecordingReporter reading;
        ImageBuffer image;
        EXPECT_EQ(read_motorola_file("MAIN.mot", dir.path(), image, 0, 0xFF, reading), c.regular);
        EXPECT_EQ(reading.boxes(), reporter.boxes());
        if (c.regular) {
            EXPECT_EQ(image[15], 0x0F);
        }
    }
}

TEST(NonRegularFiles, ReleaseIsListedAndReadOnlyAsARegularFile) {
    const QByteArray release = VersionFileBuilder().name("Special").version("0102").bytes();
    for (const auto& c : kKinds) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        VersionFileBuilder().name("Plain").version("0100").write(dir.path(), "A.PJV");
        make(c.kind, dir.path(), "B.SWV", release);

        Watchdog watchdog(std::string("listing a directory whose B.SWV is a ") + c.label);
        Lines list;
        RecordingReporter reporter;
        ReleaseCatalogue catalogue;
        catalogue.list_versions(list, dir.path(), reporter, {});
        EXPECT_TRUE(reporter.events.isEmpty());
        const QStringList expected =
            c.regular ? QStringList{"Plain\t01.00", "Special\t01.02"} : QStringList{"Plain\t01.00"};
        EXPECT_EQ(list.lines, expected);
        EXPECT_EQ(catalogue.version_files.size(), list.lines.size());

        const QString path = QDir(dir.path()).filePath("B.SWV");
        RecordingReporter reading;
        VersionControlRecord record{};
        ProgressTotals totals;
        EXPECT_FALSE(read_version_control_file(path, dir.path(), record, totals, reading));  // no entry used
        EXPECT_EQ(reading.boxes(), c.regular ? QStringList()
                                             : QStringList{"Version control file " + path +
                                                           " cannot be opened.  Unable to continue processing."});
    }
}
