// The main window's commands, clicked on the real controls against a scripted projector:
// device search, the release list, emergency mode and an upload with the other commands
// locked while it runs.

#include "app/frmUpload.h"
#include "dialogs/HelpWindow.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QAction>
#include <QFile>
#include <QTextBrowser>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>

using namespace halvern;
using namespace halvern::test;

namespace {

struct Window {
    QTemporaryDir tmp;
    QTemporaryDir releases;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    int ended = 0;
    std::unique_ptr<frmUpload> window;

    Window() {
        // Two releases, each of one small file.
        for (const char* name : {"A", "B"}) {
            const QByteArray file = QByteArray(name) + "IMG";
            VersionFileBuilder()
                .name(QByteArray("Release ") + name)
                .version("0105")
                .entry(0, file, 0x100, 0x100 + 149)
                .write(releases.path(), QString::fromLatin1(name) + ".PJV");
            VersionFileBuilder::write_file(releases.path(), file + ".mot", s3_records(0x100, pattern(150)));
        }
        settings.set_startup("Working Directory", releases.path());
        frmUploadOptions options;
        options.program_dir = tmp.path();
        options.end_program = [this] { ++ended; };
        options.reporter = &reporter;
        options.upload_pause = [] {};
        window = std::make_unique<frmUpload>(state, settings, library, options);
        window->show();
    }
    const frmUpload::Controls& ui() const { return window->ui(); }
    void identify(const char* model, const char* version) {
        library.info_steps.push_back({kOk, [=](DeviceReply& r) {
                                          std::memcpy(&r[19], model, std::min<std::size_t>(16, std::strlen(model)));
                                          std::memcpy(&r[35], version, 4);
                                      }});
    }
    void select(int line) {
        QListWidget* list = ui().lstVersions;
        const QRect rect = list->visualItemRect(list->item(line));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    }
    QString status() const { return reporter.last_status(); }
};

}  // namespace

TEST(MainWindowCommands, FindDeviceShowsTheDeviceAndListsReleases) {
    Window w;
    w.identify("  PJ-9000  ", "0105");
    w.ui().cmdSearch->click();
    EXPECT_EQ(w.ui().txtProjector->text(), "PJ-9000");
    EXPECT_EQ(w.ui().txtVersion->text(), "01.05");
    EXPECT_TRUE(w.ui().cmdQueryStatus->isEnabled());
    ASSERT_EQ(w.ui().lstVersions->count(), 2);
    EXPECT_EQ(w.ui().lstVersions->item(0)->text(), "Release A\t01.05");
    EXPECT_EQ(w.status(), "status 1: ");
    EXPECT_EQ(w.library.calls, (std::vector<std::string>{"open COM1 38400 5000", "get_proj_info", "close 100"}));

    // A line enables the upload; a refill removes the selection and disables it again.
    w.select(1);
    EXPECT_TRUE(w.ui().cmdUpload->isEnabled());
    w.identify("PJ-9000", "0105");
    w.ui().cmdSearch->click();
    EXPECT_TRUE(w.ui().lstVersions->selectedItems().isEmpty());
    EXPECT_FALSE(w.ui().cmdUpload->isEnabled());

    // A search that finds nothing empties the boxes.
    w.library.info_steps.push_back({kTimeout, {}});
    w.ui().cmdSearch->click();
    EXPECT_TRUE(w.ui().txtProjector->text().isEmpty());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());
    EXPECT_EQ(w.status(), "status 3: Unable to find any devices connect to this computer.");
}

TEST(MainWindowCommands, UploadNeverStartsWithoutASelectedLine) {
    Window w;
    w.ui().mnuEmergencyMode->trigger();
    w.ui().cmdUpload->setEnabled(true);
    w.ui().cmdUpload->click();
    EXPECT_TRUE(w.library.calls.empty());
}

TEST(MainWindowCommands, EmergencyModeTogglesTheControls) {
    Window w;
    w.identify("PJ-9000", "0105");
    w.ui().cmdSearch->click();

    w.ui().mnuEmergencyMode->trigger();
    EXPECT_TRUE(w.window->emergency_mode());
    EXPECT_FALSE(w.ui().lblEmergencyMode->isHidden());
    EXPECT_FALSE(w.ui().cmdSearch->isEnabled());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());
    EXPECT_FALSE(w.ui().cmdUpload->isEnabled());
    EXPECT_TRUE(w.ui().txtProjector->text().isEmpty());
    EXPECT_TRUE(w.ui().txtVersion->text().isEmpty());
    EXPECT_EQ(w.ui().lstVersions->count(), 2);
    EXPECT_EQ(w.status(), "status 1: In emergency mode.");

    w.select(0);
    w.ui().mnuEmergencyMode->trigger();
    EXPECT_TRUE(w.ui().lblEmergencyMode->isHidden());
    EXPECT_TRUE(w.ui().cmdSearch->isEnabled());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());  // the boxes are empty now
    EXPECT_FALSE(w.ui().cmdUpload->isEnabled());
    EXPECT_EQ(w.ui().lstVersions->count(), 0);
    EXPECT_EQ(w.status(), "status 1: In normal mode.");
}

TEST(MainWindowCommands, UploadLocksTheOtherCommandsUntilItEnds) {
    Window w;
    LinkPeer peer(w.library);
    peer.block_message_size = 120;
    w.ui().mnuEmergencyMode->trigger();
    w.select(1);

    // Halfway through the transfer: every command that would touch the port or end the
    // program is unavailable, and closing the window does nothing.
    std::vector<bool> during;
    int checks = 0;
    auto previous = w.library.on_send;
    w.library.on_send = [&](ScriptedDeviceLibrary& lib, const Frame& f) {
        if (checks++ == 20) {
            for (QObject* c : std::initializer_list<QObject*>{w.ui().cmdSearch, w.ui().cmdQueryStatus, w.ui().cmdUpload,
                                                               w.ui().cmdExit, w.ui().mnuExit, w.ui().mnuComPort,
                                                               w.ui().mnuWorkingDirectory, w.ui().mnuEmergencyMode})
                during.push_back(c->property("enabled").toBool());
            w.window->close();
            w.ui().cmdExit->click();
        }
        previous(lib, f);
    };
    w.ui().cmdUpload->click();

    EXPECT_EQ(during, std::vector<bool>(8, false));
    EXPECT_EQ(w.ended, 0);
    EXPECT_EQ(w.status(), "status 1: The operating system has been uploaded successfully!");
    EXPECT_EQ(peer.messages[2].data(), Frame({'B', 'I', 'M', 'G', '.', 'm', 'o', 't'}));  // the selected release
    EXPECT_EQ(w.library.opens, w.library.closes);
    EXPECT_EQ(std::count(w.library.calls.begin(), w.library.calls.end(), "close 100"), 1);  // not the exit's close

    // Afterwards each control is as the mode leaves it.
    EXPECT_FALSE(w.ui().cmdSearch->isEnabled());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());
    EXPECT_TRUE(w.ui().cmdUpload->isEnabled());
    EXPECT_TRUE(w.ui().cmdExit->isEnabled());
    EXPECT_TRUE(w.ui().mnuEmergencyMode->isEnabled());
    EXPECT_TRUE(w.ui().mnuComPort->isEnabled());
    EXPECT_FALSE(w.window->uploading());
}

TEST(MainWindowCommands, NormalUploadTurnsTheDeviceOffFirst) {
    Window w;
    LinkPeer peer(w.library);
    peer.block_message_size = 120;
    w.identify("PJ-9000", "0105");
    w.ui().cmdSearch->click();
    w.select(0);
    w.library.status_steps = {ScriptedDeviceLibrary::status(kOn), ScriptedDeviceLibrary::status(kStandby),
                              ScriptedDeviceLibrary::status(kStandby)};
    w.library.upload_mode_steps = {ScriptedDeviceLibrary::status(1)};
    w.ui().cmdUpload->click();
    EXPECT_EQ(w.reporter.events.mid(w.reporter.events.size() - 4),
              (QStringList{"question[Confirm operating system upload]: Are you sure you want to upload version 01.05 "
                           "to the Orvelle device selected?",
                           "status 1: Starting upload...",
                           "question[]: Device must be powered off to enter upload mode.  Is it ok to turn device off?",
                           "status 1: The operating system has been uploaded successfully!"}));
    EXPECT_EQ(w.library.opens, w.library.closes);
}

TEST(MainWindowCommands, HelpOpensAtTheButtonsTopic) {
    Window w;
    // The help file beside the program.
    w.window.reset();
    ASSERT_TRUE(QFile::copy(QStringLiteral(HELP_FILE_SOURCE), w.tmp.filePath("upload.hlp")));
    frmUploadOptions options;
    options.program_dir = w.tmp.path();
    options.reporter = &w.reporter;
    w.window = std::make_unique<frmUpload>(w.state, w.settings, w.library, options);
    w.window->show();

    w.ui().mnuHelpContents->trigger();
    HelpWindow& help = help_window_for(w.window.get());
    EXPECT_TRUE(help.isVisible());
    EXPECT_EQ(help.browser()->source().fileName(), "upload.hlp");

    w.ui().cmdUpload->setEnabled(true);
    w.ui().cmdUpload->setFocus();
    QTest::keyClick(w.ui().cmdUpload, Qt::Key_F1);
    EXPECT_EQ(help_window_for(w.window.get()).browser()->source().fragment(), "topic11");
}
