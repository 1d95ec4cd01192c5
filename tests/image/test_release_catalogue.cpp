// The release catalogue (which files are listed and how, the road into the working directory
// dialog) and what counts as a file: only a regular one (after following links) is a NAME.mot
// or a release; FIFOs, devices, directories and dangling links are missing or not listed, and
// never opened.
#include "image/FileLookup.h"
#include "image/MotorolaReader.h"
#include "image/ReleaseCatalogue.h"
#include "image/VersionControl.h"

#include "VersionFileBuilder.h"
#include "tests/support/NonRegularFiles.h"
#include "tests/support/RecordingReporter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace halvern;
using namespace halvern::test;

namespace {

struct Listing : ReleaseListView {
    QStringList lines;
    int clears = 0;
    int dialogs = 0;
    RecordingReporter reporter;
    ReleaseCatalogue catalogue;
    void clear_lines() override { lines.clear(); ++clears; }
    void add_line(const QString& line) override { lines << line; }
    void run(const QString& directory) { catalogue.list_versions(*this, directory, reporter, [this] { ++dialogs; }); }
};

}  // namespace

// Lines pair with version_files in the order of the file names; listing again starts afresh.
TEST(ReleaseCatalogue, ListsVersionControlFilesOfAnyCaseOnly) {
    QTemporaryDir dir;
    const QString d = dir.path();
    VersionFileBuilder().name("Zeta").version("0105").write(d, "a.pjv");
    VersionFileBuilder().name("Beta").version("0210xyz").write(d, "b.Swv");
    VersionFileBuilder().name("Gamma").version("0300").write(d, "c.PJVX");
    VersionFileBuilder().name("Hidden").version("0400").write(d, ".h.pjv");
    VersionFileBuilder().name("Mot").write(d, "d.mot");
    QDir(d).mkdir("e.PJV");

    Listing l;
    l.run(d + "/");  // a root given with its separator gets no second one
    EXPECT_EQ(l.lines, (QStringList{"Zeta\t01.05", "Beta\t02.10"}));
    EXPECT_EQ(l.catalogue.version_files, (QStringList{d + "/a.pjv", d + "/b.Swv"}));
    EXPECT_EQ(l.catalogue.path_of(1), d + "/b.Swv");
    EXPECT_EQ(l.catalogue.path_of(2), QString());
    EXPECT_EQ(l.catalogue.path_of(-1), QString());
    EXPECT_TRUE(l.reporter.events.isEmpty());
    EXPECT_EQ(l.dialogs, 0);

    QFile::remove(d + "/a.pjv");
    l.run(d);
    EXPECT_EQ(l.clears, 2);
    EXPECT_EQ(l.lines, QStringList{"Beta\t02.10"});
    EXPECT_EQ(l.catalogue.version_files, QStringList{d + "/b.Swv"});
}

// Short files show what they have: NUL where the name or version is cut off.
TEST(ReleaseCatalogue, OddFilesShowWhatTheyHave) {
    const QChar nul(0);
    const struct { QByteArray bytes; QString line; } cases[] = {
        {VersionFileBuilder().name("0123456789ABCDEF").version("1234").bytes(), "0123456789ABCDEF\t12.34"},
        {VersionFileBuilder().name("Short").version("07").bytes().left(36), QString("Short\t07.") + nul + nul},
        {VersionFileBuilder().name("Tiny").bytes().left(20), QString("Tiny\t") + nul + nul + "." + nul + nul},
        {QByteArray(), QString("\t") + nul + nul + "." + nul + nul},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "R.PJV", c.bytes);
        Listing l;
        l.run(dir.path());
        EXPECT_EQ(l.lines, QStringList{c.line});
        EXPECT_TRUE(l.reporter.events.isEmpty());
    }
}

// A missing directory on an available volume lists nothing quietly; one that cannot be used
// shows the box and opens the dialog. Either way nothing of an earlier listing stays.
TEST(ReleaseCatalogue, DirectoriesThatCannotBeUsedOpenTheDialog) {
    QTemporaryDir dir;
    const QString file = VersionFileBuilder().write(dir.path(), "plain.PJV");
    const struct { QString path; bool usable; } cases[] = {
        {dir.path() + "/not-there", true}, {dir.path() + "/not/there/either", true},
        {"", false}, {"relative/dir", false}, {file, false}, {file + "/below", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        Listing l;
        l.lines << "old line";
        l.catalogue.version_files << "old path";
        l.run(c.path);
        EXPECT_TRUE(l.lines.isEmpty());
        EXPECT_TRUE(l.catalogue.version_files.isEmpty());
        EXPECT_EQ(l.reporter.boxes(), c.usable ? QStringList() : QStringList{"Unable to access " + c.path + "." + QChar(13) +
                                                                            "Please select a valid working directory."});
        EXPECT_EQ(l.dialogs, c.usable ? 0 : 1);
    }
}

TEST(ReleaseCatalogue, UnlistableDirectoryIsUnusable) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    QTemporaryDir dir;
    const QString locked = dir.path() + "/locked";
    QDir(dir.path()).mkdir("locked");
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    EXPECT_EQ(classify_directory(locked), DirectoryAccess::Unusable);
    QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

namespace {

// What stands at directory/name for each case; each is read under a watchdog, so a reader
// that blocks on one fails within seconds instead of hanging the suite.
enum class Kind { Regular, LinkToRegular, Fifo, LinkToFifo, LinkToDevZero, DanglingLink, Directory };

const struct { Kind kind; const char* label; bool regular; } kKinds[] = {
    {Kind::Regular, "regular file", true},         {Kind::LinkToRegular, "link to a regular file", true},
    {Kind::Fifo, "FIFO", false},                   {Kind::LinkToFifo, "link to a FIFO", false},
    {Kind::LinkToDevZero, "link to /dev/zero", false}, {Kind::DanglingLink, "dangling link", false},
    {Kind::Directory, "directory", false},
};

void make(Kind kind, const QString& dir, const QString& name, const QByteArray& content) {
    switch (kind) {
    case Kind::Regular: VersionFileBuilder::write_file(dir, name, content); break;
    case Kind::LinkToRegular: make_link(dir, name, VersionFileBuilder::write_file(dir, name + ".target", content)); break;
    case Kind::Fifo: make_fifo(dir, name); break;
    case Kind::LinkToFifo: make_link(dir, name, make_fifo(dir, name + ".fifo")); break;
    case Kind::LinkToDevZero: make_link(dir, name, "/dev/zero"); break;
    case Kind::DanglingLink: make_link(dir, name, QDir(dir).filePath("nothing-here")); break;
    case Kind::Directory: QDir(dir).mkdir(name); break;
    }
}

}  // namespace

// A.PJV names MAIN, which stands as main.MOT (found without regard to case); B.SWV is a
// release of its own. Each stands as the kind of file of the case.
TEST(NonRegularFiles, CountOnlyAsRegularFiles) {
    for (const auto& c : kKinds) {
        SCOPED_TRACE(c.label);
        QTemporaryDir dir;
        const QString d = dir.path();
        VersionFileBuilder().name("Plain").version("0100").entry(0, "MAIN", 0, 0xFF).write(d, "A.PJV");
        make(c.kind, d, "main.MOT", "S1130000000102030405060708090A0B0C0D0E0F74\r\nS9030000FC\r\n");
        make(c.kind, d, "B.SWV", VersionFileBuilder().name("Special").version("0102").bytes());
        Watchdog watchdog(std::string("a release of files each a ") + c.label);

        EXPECT_EQ(find_ordinary_file(d, "MAIN.mot").isEmpty(), !c.regular);
        const QStringList missing =
            c.regular ? QStringList() : QStringList{"Motorola file MAIN.MOT is missing.  Unable to continue processing."};
        RecordingReporter reporter;
        VersionControlRecord record{};
        ProgressTotals totals;
        EXPECT_EQ(read_version_control_file(d + "/A.PJV", d, record, totals, reporter), c.regular);
        EXPECT_EQ(reporter.boxes(), missing);
        // The reader refuses it too, should it be swapped in after the version control file was read.
        RecordingReporter reading;
        ImageBuffer image;
        EXPECT_EQ(read_motorola_file("MAIN.mot", d, image, 0, 0xFF, reading), c.regular);
        EXPECT_EQ(reading.boxes(), missing);
        if (c.regular) {
            EXPECT_EQ(image[15], 0x0F);
        }

        Listing l;
        l.run(d);
        EXPECT_TRUE(l.reporter.events.isEmpty());
        EXPECT_EQ(l.lines, c.regular ? QStringList({"Plain\t01.00", "Special\t01.02"}) : QStringList{"Plain\t01.00"});
        EXPECT_EQ(l.catalogue.version_files.size(), l.lines.size());
        RecordingReporter opening;
        EXPECT_FALSE(read_version_control_file(d + "/B.SWV", d, record, totals, opening));  // no entry used
        EXPECT_EQ(opening.boxes(), c.regular ? QStringList()
                                             : QStringList{"Version control file " + d +
                                                           "/B.SWV cannot be opened.  Unable to continue processing."});
    }
}
