// The working directory dialog, headless: the real controls are clicked.
#include "dialogs/frmWorkingDirectory.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/WindowDriver.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;

namespace {

const QString kKey = QStringLiteral("Working Directory");

struct Fixture {
    QTemporaryDir tmp;
    AppState state;
    SettingsStore settings{tmp.filePath("settings.ini")};
    RecordingReporter reporter;
    bool device = false;
    bool emergency = false;
    int refills = 0;
    QList<Volume> volumes{{QStringLiteral("/"), QString(), true}};
    std::unique_ptr<frmWorkingDirectory> dialog;

    Fixture() {
        QDir(tmp.path()).mkpath("work/sub1");
        QDir(tmp.path()).mkpath("work/sub2");
        state.working_directory = work();
    }
    QString work() const { return tmp.path() + "/work"; }

    frmWorkingDirectory& open() {
        WorkingDirectoryHooks hooks;
        hooks.shows_device = [this] { return device; };
        hooks.emergency_mode = [this] { return emergency; };
        hooks.list_versions = [this] { ++refills; };
        hooks.volumes = [this] { return volumes; };
        dialog = std::make_unique<frmWorkingDirectory>(state, settings, reporter, hooks);
        dialog->show();
        dialog->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
        return *dialog;
    }
    template <class W> W* control(const char* name) { return test::control<W>(*dialog, name); }
    QTreeWidget* tree() { return control<QTreeWidget>("dirFiles"); }

    QTreeWidgetItem* item(const QString& path) {
        for (QTreeWidgetItemIterator it(tree()); *it; ++it)
            if ((*it)->data(0, Qt::UserRole).toString() == path) return *it;
        return nullptr;
    }
    QPoint at(const QString& path) {
        QTreeWidgetItem* i = item(path);
        EXPECT_NE(i, nullptr) << path.toStdString();
        return i ? tree()->visualItemRect(i).center() : QPoint();
    }
    void click(const QString& path) { QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, at(path)); }
    // A person's double click: a first click, then the second press that the system reports
    // as a double click.
    void double_click(const QString& path) {
        const QPoint point = at(path);
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, point);
        QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, point);
    }
    void press(const char* button) { test::click(*dialog, button); }
};

}  // namespace

TEST(WorkingDirectoryDialog, ListsThePathFromTheRootAndTheFoldersOnly) {
    Fixture f;
    ASSERT_TRUE(QFile::link("/dev/null", f.work() + "/device"));  // a link to a device is no folder
    ASSERT_TRUE(QFile::link(f.work() + "/sub1", f.work() + "/folder-link"));
    f.open();
    EXPECT_EQ(f.dialog->current_directory(), f.work());
    for (const QString& path : {QString("/"), f.tmp.path(), f.work() + "/sub1", f.work() + "/folder-link"})
        EXPECT_NE(f.item(path), nullptr) << path.toStdString();
    EXPECT_EQ(f.item(f.work() + "/device"), nullptr);
}

TEST(WorkingDirectoryDialog, EnterOpensTheHighlightedFolderAndSelectStoresIt) {
    Fixture f;
    QDir(f.work()).mkpath("sub1/deeper");
    f.open();
    f.tree()->setFocus();
    const auto enter_on = [&](const QString& path) {
        f.tree()->setCurrentItem(f.item(path));
        QTest::keyClick(f.tree(), Qt::Key_Return);
    };
    enter_on(f.work() + "/sub1");
    EXPECT_EQ(f.dialog->current_directory(), f.work() + "/sub1");
    enter_on(f.work() + "/sub1/deeper");
    EXPECT_TRUE(f.dialog->isVisible());
    EXPECT_EQ(f.dialog->current_directory(), f.work() + "/sub1/deeper");
    enter_on(f.work());  // back up the path
    EXPECT_TRUE(f.reporter.events.isEmpty());
    // A folder that will not open says why, as the system says it.
    QDir(f.work() + "/sub2").removeRecursively();
    enter_on(f.work() + "/sub2");
    EXPECT_EQ(f.reporter.boxes(), QStringList{"Unexpected error. No such file or directory: " + f.work() + "/sub2"});
    f.tree()->setCurrentItem(f.item(f.work() + "/sub1"));
    QTest::keyClick(f.tree(), Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return f.dialog->result() == QDialog::Accepted; }));  // an animated click
    EXPECT_EQ(f.settings.startup(kKey), f.work() + "/sub1");
}

TEST(WorkingDirectoryDialog, SelectTakesTheHighlightedEntryAndRefillsWithADeviceOrInEmergencyMode) {
    // Paths below the temporary directory; a null stored path: nothing is written.
    const struct { const char* name; QString sub; bool double_click, device, emergency; const char* button;
                   QString state, stored; int refills; } cases[] = {
        {"right after opening, a device shown", {}, false, true, false, "cmdSelect", "/work", "/work", 1},
        {"single click highlights, no device", "/work/sub1", false, false, false, "cmdSelect", "/work/sub1", "/work/sub1", 0},
        {"double click opens, emergency mode", "/work/sub2", true, false, true, "cmdSelect", "/work/sub2", "/work/sub2", 1},
        {"cancel after a double click", "/work/sub1", true, true, false, "cmdCancel", "/work", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.device = c.device;
        f.emergency = c.emergency;
        f.open();
        const QString base = f.tmp.path();
        if (!c.sub.isNull()) {
            c.double_click ? f.double_click(base + c.sub) : f.click(base + c.sub);
            EXPECT_EQ(f.dialog->current_directory(), c.double_click ? base + c.sub : f.work());
        }
        f.press(c.button);
        EXPECT_EQ(f.state.working_directory, base + c.state);
        EXPECT_EQ(f.settings.startup(kKey), c.stored.isNull() ? QString() : base + c.stored);
        EXPECT_EQ(f.refills, c.refills);
        EXPECT_FALSE(f.dialog->isVisible());
    }
}

TEST(WorkingDirectoryDialog, StartingDirectory) {
    const struct { QString stored; QString expected; } cases[] = {
        {"/work/deleted", QCoreApplication::applicationDirPath()},  // relative to the temporary dir
        {"", "/"},
    };
    for (const auto& c : cases) {
        Fixture f;
        f.state.working_directory = c.stored.startsWith('/') ? f.tmp.path() + c.stored : c.stored;
        f.open();
        EXPECT_EQ(f.dialog->current_directory(), c.expected) << c.stored.toStdString();
        EXPECT_TRUE(f.reporter.events.isEmpty());
        f.press("cmdSelect");
        EXPECT_EQ(f.settings.startup(kKey), c.expected);
    }
}

TEST(WorkingDirectoryDialog, VolumeThatIsNotReadyLeavesTheListWhereItWas) {
    Fixture f;
    QDir(f.tmp.path()).mkpath("usb/firmware");
    f.volumes = {{"/", QString(), true}, {f.tmp.path() + "/cdrom", "CD", false}, {f.tmp.path() + "/usb", "USB", true}};
    f.open();
    auto* drives = f.control<QComboBox>("drvFiles");
    ASSERT_EQ(drives->count(), 3);

    QTest::keyClick(drives, Qt::Key_Down);  // the drive without a medium
    EXPECT_EQ(f.reporter.boxes(),
              QStringList{"The directory specified is unavailable.  Please select a new working directory."});
    EXPECT_EQ(drives->currentIndex(), 1);
    EXPECT_EQ(f.dialog->current_directory(), f.work());

    QTest::keyClick(drives, Qt::Key_Down);  // a ready volume: its root becomes current
    EXPECT_EQ(f.reporter.boxes().size(), 1);
    EXPECT_EQ(f.dialog->current_directory(), f.tmp.path() + "/usb");
    EXPECT_NE(f.item(f.tmp.path() + "/usb/firmware"), nullptr);
}
