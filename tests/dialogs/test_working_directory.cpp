// The working directory dialog, headless: the real controls are clicked.
#include "dialogs/frmWorkingDirectory.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/WindowDriver.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QPushButton>
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

TEST(WorkingDirectoryDialog, ShowsItsControls) {
    Fixture f;
    f.open();
    EXPECT_EQ(f.dialog->windowTitle(), "Select Working Directory");
    EXPECT_EQ(test::texts(*f.dialog, {"cmdSelect", "cmdCancel"}), (QStringList{"&Select", "&Cancel"}));
    ASSERT_NE(f.control<QComboBox>("drvFiles"), nullptr);
    EXPECT_EQ(f.dialog->current_directory(), f.work());
    // The path from the root down, and the current directory's subdirectories.
    EXPECT_NE(f.item("/"), nullptr);
    EXPECT_NE(f.item(f.tmp.path()), nullptr);
    EXPECT_NE(f.item(f.work() + "/sub1"), nullptr);
    EXPECT_NE(f.item(f.work() + "/sub2"), nullptr);
}

TEST(WorkingDirectoryDialog, SelectTakesTheHighlightedEntryElseTheCurrentDirectoryCancelNothing) {
    // Paths below the temporary directory; a null stored path: nothing is written.
    const struct { const char* name; QString sub; bool double_click; const char* button; QString state, stored; } cases[] = {
        {"right after opening", {}, false, "cmdSelect", "/work", "/work"},
        {"single click highlights", "/work/sub1", false, "cmdSelect", "/work/sub1", "/work/sub1"},
        {"double click opens", "/work/sub2", true, "cmdSelect", "/work/sub2", "/work/sub2"},
        {"single click on a parent", "", false, "cmdSelect", "", ""},
        {"cancel after a double click", "/work/sub1", true, "cmdCancel", "/work", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Fixture f;
        f.device = true;
        f.open();
        const QString base = f.tmp.path();
        if (!c.sub.isNull()) {
            const QString target = base + c.sub;
            c.double_click ? f.double_click(target) : f.click(target);
            EXPECT_EQ(f.dialog->current_directory(), c.double_click ? target : f.work());
        }
        f.press(c.button);
        const bool selected = c.button == QString("cmdSelect");
        EXPECT_EQ(f.state.working_directory, base + c.state);
        EXPECT_EQ(f.settings.startup(kKey), c.stored.isNull() ? QString() : base + c.stored);
        EXPECT_EQ(f.refills, selected ? 1 : 0);
        EXPECT_FALSE(f.dialog->isVisible());
        EXPECT_EQ(f.dialog->result(), selected ? QDialog::Accepted : QDialog::Rejected);
    }
}

TEST(WorkingDirectoryDialog, SelectRefillsTheListOnlyWithADeviceOrInEmergencyMode) {
    const struct { bool device, emergency; int refills; } cases[] = {
        {true, false, 1}, {false, false, 0}, {false, true, 1}, {true, true, 1}};
    for (const auto& c : cases) {
        Fixture f;
        f.device = c.device;
        f.emergency = c.emergency;
        f.open();
        f.click(f.work() + "/sub1");
        f.press("cmdSelect");
        EXPECT_EQ(f.refills, c.refills) << c.device << c.emergency;
        EXPECT_EQ(f.state.working_directory, f.work() + "/sub1");
        EXPECT_TRUE(f.reporter.events.isEmpty());
    }
}

TEST(WorkingDirectoryDialog, StartingDirectory) {
    const struct { QString stored; QString expected; } cases[] = {
        {"/work/deleted", QCoreApplication::applicationDirPath()},  // relative to the temporary dir
        {"", "/"},
        {"relative/path", "/"},
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
    EXPECT_EQ(drives->currentIndex(), 0);
    ASSERT_EQ(drives->count(), 3);

    QTest::keyClick(drives, Qt::Key_Down);  // the drive without a medium
    EXPECT_EQ(f.reporter.boxes(),
              QStringList{"The directory specified is unavailable.  Please select a new working directory."});
    EXPECT_EQ(drives->currentIndex(), 1);
    EXPECT_EQ(f.dialog->current_directory(), f.work());
    EXPECT_NE(f.item(f.work() + "/sub1"), nullptr);

    QTest::keyClick(drives, Qt::Key_Down);  // a ready volume: its root becomes current
    EXPECT_EQ(f.reporter.boxes().size(), 1);
    EXPECT_EQ(f.dialog->current_directory(), f.tmp.path() + "/usb");
    EXPECT_NE(f.item(f.tmp.path() + "/usb/firmware"), nullptr);
    EXPECT_EQ(f.item(f.work() + "/sub1"), nullptr);
}
