// The release catalogue: which files are listed, their lines, pairing with version_files, and
// the access-failure road into the working directory dialog.
#include "image/ReleaseCatalogue.h"

#include "image/FileLookup.h"
#include "VersionFileBuilder.h"
#include "tests/support/RecordingReporter.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::VersionFileBuilder;

namespace {

struct RecordingList : ReleaseListView {
    QStringList lines;
    int clears = 0;
    void clear_lines() override { lines.clear(); ++clears; }
    void add_line(const QString& line) override { lines << line; }
};

struct Listing {
    RecordingList list;
    RecordingReporter reporter;
    ReleaseCatalogue catalogue;
    int dialogs = 0;
    void run(const QString& directory) {
        catalogue.list_versions(list, directory, reporter, [this] { ++dialogs; });
    }
};

QString access_message(const QString& dir) {
    return "Unable to access " + dir + "." + QChar(13) + "Please select a valid working directory.";
}

}  // namespace

TEST(ReleaseCatalogue, ListsVersionControlFilesOfAnyCaseOnly) {
    QTemporaryDir dir;
    const QString d = dir.path();
    VersionFileBuilder().name("Alpha").version("0105").write(d, "a.pjv");
    VersionFileBuilder().name("Beta").version("0210xyz").write(d, "b.Swv");
    VersionFileBuilder().name("Gamma").version("0300").write(d, "c.PJVX");
    VersionFileBuilder().name("Hidden").version("0400").write(d, ".h.pjv");
    VersionFileBuilder().name("Mot").write(d, "d.mot");
    QDir(d).mkdir("e.PJV");

    Listing l;
    l.run(d);
    EXPECT_EQ(l.list.lines, (QStringList{"Alpha\t01.05", "Beta\t02.10"}));
    EXPECT_EQ(l.catalogue.version_files, (QStringList{d + "/a.pjv", d + "/b.Swv"}));
    EXPECT_TRUE(l.reporter.events.isEmpty());
    EXPECT_EQ(l.dialogs, 0);

    // A root given with its separator gets no second one.
    Listing root;
    root.run(d + "/");
    EXPECT_EQ(root.catalogue.path_of(0), d + "/a.pjv");
    EXPECT_EQ(root.catalogue.path_of(2), QString());
    EXPECT_EQ(root.catalogue.path_of(-1), QString());
}

TEST(ReleaseCatalogue, LinesPairWithPathsAndRefillStartsAfresh) {
    QTemporaryDir dir;
    const QString d = dir.path();
    VersionFileBuilder().name("Zeta").version("0901").write(d, "A.SWV");
    VersionFileBuilder().name("Alpha").version("0102").write(d, "z.pjv");
    Listing l;
    l.run(d);
    ASSERT_EQ(l.list.lines.size(), 2);
    for (int k = 0; k < 2; ++k) {
        QFile file(l.catalogue.path_of(k));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(release_line(file.readAll()), l.list.lines[k]) << k;
    }
    QFile::remove(d + "/A.SWV");
    l.run(d);
    EXPECT_EQ(l.list.clears, 2);
    EXPECT_EQ(l.list.lines, QStringList{"Alpha\t01.02"});
    EXPECT_EQ(l.catalogue.version_files, QStringList{d + "/z.pjv"});
}

TEST(ReleaseCatalogue, OddFilesShowWhatTheyHave) {
    const struct { QByteArray bytes; QString line; } cases[] = {
        {VersionFileBuilder().name("0123456789ABCDEF").version("1234").bytes(), "0123456789ABCDEF\t12.34"},
        {VersionFileBuilder().name("Short").version("07").bytes().left(36), QString("Short\t07.") + QChar(0) + QChar(0)},
        {VersionFileBuilder().name("Tiny").bytes().left(20), QString("Tiny\t") + QChar(0) + QChar(0) + "." + QChar(0) + QChar(0)},
        {QByteArray(), QString("\t") + QChar(0) + QChar(0) + "." + QChar(0) + QChar(0)},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        VersionFileBuilder::write_file(dir.path(), "R.PJV", c.bytes);
        Listing l;
        l.run(dir.path());
        EXPECT_EQ(l.list.lines, QStringList{c.line});
        EXPECT_TRUE(l.reporter.events.isEmpty());
        EXPECT_EQ(l.list.lines[0].right(5), c.line.right(5));
    }
}

TEST(ReleaseCatalogue, DirectoriesThatCannotBeUsedOpenTheDialog) {
    QTemporaryDir dir;
    const QString file = VersionFileBuilder().write(dir.path(), "plain.PJV");
    const struct { QString path; bool usable; } cases[] = {
        {dir.path() + "/not-there", true},        // missing on an available volume: quiet
        {dir.path() + "/not/there/either", true},
        {"", false},
        {"relative/dir", false},
        {file, false},                            // names a file
        {file + "/below", false},                 // a file in the way
    };
    for (const auto& c : cases) {
        Listing l;
        l.list.lines << "old line";
        l.catalogue.version_files << "old path";
        l.run(c.path);
        EXPECT_TRUE(l.list.lines.isEmpty()) << c.path.toStdString();
        EXPECT_TRUE(l.catalogue.version_files.isEmpty());
        EXPECT_EQ(l.reporter.boxes(), c.usable ? QStringList() : QStringList{access_message(c.path)}) << c.path.toStdString();
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

TEST(ReleaseCatalogue, UploadIsEnabledOnlyWithASelectedLine) {
    EXPECT_FALSE(upload_enabled_for(0));
    EXPECT_TRUE(upload_enabled_for(1));
}
