// The main window, headless: its real controls are clicked and typed into, against a scripted
// projector and a working directory holding two releases.
#include "app/frmUpload.h"

#include "app/StatusPanel.h"
#include "app/TabStopDelegate.h"
#include "dialogs/HelpWindow.h"
#include "upload/frmUploadProgress.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"
#include "tests/support/WindowDriver.h"

#include <QClipboard>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cstring>

using namespace halvern;
using namespace halvern::test;

namespace {

const QDateTime kNoon(QDate(2024, 3, 9), QTime(12, 34, 56));
const QString kSuccess = QStringLiteral("The operating system has been uploaded successfully!");

struct Rig {
    QTemporaryDir tmp;       // the program's directory, with the help file
    QTemporaryDir releases;  // the working directory: releases A and B of one small file each
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    int ended = 0;
    QDateTime now = kNoon;
    std::unique_ptr<frmUpload> window;

    // real_boxes: boxes and questions on the screen and status lines on the window, through the
    // window's own reporter, instead of the recorder.
    explicit Rig(bool real_boxes = false) {
        EXPECT_TRUE(QFile::copy(QStringLiteral(HELP_FILE_SOURCE), tmp.filePath("upload.hlp")));
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
        options.clock = [this] { return now; };
        if (!real_boxes) options.reporter = &reporter;
        options.upload_pause = [] {};
        window = std::make_unique<frmUpload>(state, settings, library, options);
        window->show();
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    const frmUpload::Controls& ui() const { return window->ui(); }
    void identify(const char* model, const char* version = "0105") {
        library.info_steps.push_back({kOk, [=](DeviceReply& r) {
                                          std::memcpy(&r[19], model, std::min<std::size_t>(16, std::strlen(model)));
                                          std::memcpy(&r[35], version, 4);
                                      }});
    }
    void search(const char* model = "PJ-9000") {
        identify(model);
        ui().cmdSearch->click();
    }
    void select(int line) {
        QListWidget* list = ui().lstVersions;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(line)).center());
    }
    QString status() const { return reporter.last_status(); }
    // The window's own status line: its light and its text.
    QString status_line() const {
        return ui().staMainIcon->property("iconKey").toString() + " " + ui().staMainText->text();
    }
    int count(const char* call) const { return int(std::count(library.calls.begin(), library.calls.end(), call)); }
};

std::vector<bool> enabled(const std::vector<QObject*>& controls) {
    std::vector<bool> out;
    for (QObject* c : controls) out.push_back(c->property("enabled").toBool());
    return out;
}

// The captions of a menu's or menu bar's entries in order, a separator as "-".
QStringList entries(QWidget* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

}  // namespace

TEST(MainWindow, InitialStateOfEveryControl) {
    Rig r;
    frmUpload& w = *r.window;
    EXPECT_EQ(w.windowTitle(), "Operating System Uploader");
    EXPECT_EQ(r.ui().Frame1->title(), "Connected Device");
    const QStringList shown{"Label1_0", "Label1_1", "Label2", "lblModel", "lblVersion", "staMainDate", "staMainTime",
                            "txtProjector", "txtVersion", "cmdSearch", "cmdQueryStatus", "cmdUpload", "cmdExit"};
    EXPECT_EQ(texts(w, shown),
              (QStringList{"Model:", "O/S Version:", "Available Operating Systems",
                           "Model" + QString(42, ' ') + "Available Versions", "Version",
                           QLocale().toString(kNoon.date(), QLocale::ShortFormat),
                           QLocale().toString(kNoon.time(), QLocale::ShortFormat), "", "", "&Find Device",
                           "&Query Status", "Start &Upload", "E&xit"}));
    for (const QString& name : shown) EXPECT_TRUE(control(w, name)->isVisible()) << name.toStdString();
    EXPECT_EQ(r.ui().lblEmergencyMode->text(), "Emergency Mode");  // in red, shown in emergency mode only
    EXPECT_FALSE(r.ui().lblEmergencyMode->isVisible());
    EXPECT_EQ(r.ui().lblEmergencyMode->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_FALSE(r.ui().imgOrvelleLogo->pixmap().isNull());
    EXPECT_GE(r.ui().staMainDate->width(), 118);
    EXPECT_GE(r.ui().staMainTime->width(), 118);

    const std::vector<QObject*> buttons{r.ui().cmdSearch, r.ui().cmdQueryStatus, r.ui().cmdUpload, r.ui().cmdExit};
    EXPECT_EQ(enabled(buttons), (std::vector<bool>{true, false, false, true}));
    QVariantList topics;
    for (QObject* b : buttons) topics << b->property("helpTopic");
    EXPECT_EQ(topics, (QVariantList{9, {}, 11, {}}));
    EXPECT_TRUE(r.ui().cmdSearch->isDefault());

    EXPECT_EQ(entries(w.menuBar()), (QStringList{"&File", "&Setup", "&Help"}));
    const std::pair<const char*, QStringList> menus[] = {
        {"mnuFile", {"-", "E&xit"}},
        {"mnuSetup", {"&COM Port", "-", "Working &Directory", "-", "&Emergency Mode"}},
        {"mnuHelp", {"&Contents", "-", "&About"}},
    };
    for (const auto& [name, items] : menus) EXPECT_EQ(entries(control<QMenu>(w, name)), items) << name;
    EXPECT_EQ(r.ui().lstVersions->count(), 0);  // the releases in the working directory are not listed yet
    EXPECT_EQ(r.ui().lstVersions->font().families().value(0), "Arial");

    EXPECT_FALSE(w.emergency_mode());
    EXPECT_EQ(w.help_file(), r.tmp.path() + "/upload.hlp");
    EXPECT_EQ(r.settings.startup("Port"), "COM1");  // the defaults are written at load
    EXPECT_EQ(r.settings.startup("Baud Rate"), "38400");
    EXPECT_EQ(r.state.working_directory, r.releases.path());
    EXPECT_TRUE(r.reporter.events.isEmpty());
    EXPECT_TRUE(r.library.calls.empty());  // the port stays closed at start-up
}

TEST(MainWindow, TheClockTicksByItself) {
    Rig r;
    r.now = QDateTime(QDate(2024, 3, 10), QTime(8, 5, 0));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return r.ui().staMainTime->text() == QLocale().toString(r.now.time(), QLocale::ShortFormat); }, 3000));
    EXPECT_EQ(r.ui().staMainDate->text(), QLocale().toString(r.now.date(), QLocale::ShortFormat));
}

TEST(MainWindow, ShowStatusLightsTheIconAndRefusesAnUnknownOne) {
    Rig r;
    for (const auto& [icon, key] : {std::pair{1, "GREEN_LIGHT"}, {2, "YELLOW_LIGHT"}, {3, "RED_LIGHT"}}) {
        r.window->show_status(icon, "Message " + QString::number(icon));
        EXPECT_EQ(r.status_line(), key + QString(" Message ") + QString::number(icon));
        EXPECT_FALSE(r.ui().staMainIcon->pixmap().isNull());
    }
    EXPECT_TRUE(r.reporter.events.isEmpty());
    for (const int bad : {0, 4, -1}) {
        r.reporter.events.clear();
        r.window->show_status(bad, "ignored");
        EXPECT_EQ(r.reporter.events, QStringList{"box: Unable to display status message."}) << bad;
        EXPECT_EQ(r.status_line(), "RED_LIGHT Message 3");
    }
}

TEST(MainWindow, LongStatusLinesAreElidedAndKeepTheWindowsSize) {
    Rig r;
    QApplication::processEvents();
    const QSize before = r.window->size();
    auto* panel = dynamic_cast<StatusMessageLabel*>(r.ui().staMainText);
    ASSERT_NE(panel, nullptr);
    for (const QString& text : {QString("There was an error uploading the operating system to the device."),
                                "Unexpected status code from device. (1) 0 " + QString(200, 'x'), QString("Done.")}) {
        r.window->show_status(3, text);
        QApplication::processEvents();
        EXPECT_EQ(r.window->size(), before) << text.toStdString();
        EXPECT_EQ(panel->text(), text);
        EXPECT_EQ(panel->toolTip(), text);  // whole in the tooltip
        const QString shown = panel->shown_text();
        EXPECT_LE(panel->fontMetrics().horizontalAdvance(shown), panel->contentsRect().width());
        if (panel->fontMetrics().horizontalAdvance(text) > panel->contentsRect().width())
            EXPECT_TRUE(shown.endsWith(QChar(0x2026))) << shown.toStdString();
        else
            EXPECT_EQ(shown, text);
    }
}

TEST(MainWindow, DeviceBoxesIgnoreTyping) {
    Rig r;
    QApplication::clipboard()->setText("PASTED");
    for (QLineEdit* box : {r.ui().txtProjector, r.ui().txtVersion}) {
        box->setText("XP-100");  // the system itself still writes the box
        box->setFocus();
        box->end(false);
        QTest::keyClicks(box, "abc 123");
        for (const Qt::Key key : {Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete}) QTest::keyClick(box, key);
        for (const Qt::Key key : {Qt::Key_V, Qt::Key_A, Qt::Key_X, Qt::Key_H}) QTest::keyClick(box, key, Qt::ControlModifier);
        EXPECT_EQ(box->text(), "XP-100") << box->objectName().toStdString();
    }
}

TEST(MainWindow, OnlyTheExitButtonClosesThePortBeforeTheEnd) {
    // The close's result is ignored; "E&xit" of the menu and the close box end without it.
    const struct { const char* how; std::int32_t close_result; std::vector<std::string> calls; } cases[] = {
        {"cmdExit", kOk, {"close 57"}}, {"cmdExit", kInvalidHandle, {"close 57"}}, {"mnuExit", kOk, {}}, {"close box", kOk, {}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        Rig r;
        r.state.serial_handle = 57;
        r.library.close_results = {c.close_result};
        if (c.how == std::string("cmdExit")) QTest::mouseClick(r.ui().cmdExit, Qt::LeftButton);
        else if (c.how == std::string("mnuExit")) r.ui().mnuExit->trigger();
        else r.window->close();
        EXPECT_EQ(r.library.calls, c.calls);
        EXPECT_EQ(r.ended, 1);
        EXPECT_TRUE(r.reporter.events.isEmpty());
    }
}

TEST(MainWindow, ComPortMenuOpensTheDialogModally) {
    Rig r;
    QString title;
    bool modal = false;
    // Choose COM3 and 19200 in the dialog, then OK; trigger() returns once it has closed.
    ModalWatcher chooser([&](QWidget* dialog) {
        title = dialog->windowTitle();
        modal = dialog->isModal();
        for (const char* name : {"optCom2", "optBaudRate1", "cmdSelect"}) click(*dialog, name);
    });
    r.ui().mnuComPort->trigger();
    EXPECT_EQ(title, "Select Serial Port");
    EXPECT_TRUE(modal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(r.state.port_name, "COM3");
    EXPECT_EQ(r.state.baud_rate, 19200);
    EXPECT_EQ(r.settings.startup("Port"), "COM3");
    EXPECT_EQ(r.settings.startup("Baud Rate"), "19200");
}

TEST(MainWindow, ReleaseColumnsLineUpUnderTheirHeadings) {
    Rig r;
    QListWidget* list = r.ui().lstVersions;
    list->addItem("Release\t01.05");
    list->addItem("MMMMMMMMMM\t01.05");
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const auto* delegate = qobject_cast<TabStopDelegate*>(list->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    const int version_from = int(delegate->text_left(*list) - list->viewport()->x() + delegate->tab_stop()) - 1;
    const auto line = [&](int row, int from) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        return dark_span(image, rect.top(), rect.bottom(), from);
    };
    // The text after the tab stands past the tab stop, in the same column on both lines.
    EXPECT_GT(line(0, version_from).first, delegate->tab_stop());
    EXPECT_EQ(line(0, version_from), line(1, version_from));
    // Each heading's text begins within a pixel or two of its column's text.
    const auto in_window = [&](QWidget* widget, int x) { return widget->mapTo(r.window.get(), QPoint(x, 0)).x(); };
    const int name_x = line(0, 0).first, version_x = line(0, version_from).first;
    ASSERT_GE(name_x, 0);
    ASSERT_GT(version_x, name_x);
    for (const auto& [heading, column_x] : {std::pair{r.ui().lblModel, name_x}, std::pair{r.ui().lblVersion, version_x}}) {
        const QImage text = heading->grab().toImage();
        const int label_x = dark_span(text, 0, text.height() - 1).first;
        ASSERT_GE(label_x, 0) << heading->objectName().toStdString();
        EXPECT_NEAR(in_window(heading, label_x), in_window(list->viewport(), column_x), 2)
            << heading->objectName().toStdString();
    }
}

TEST(MainWindow, AboutAndHelpStandInTheMiddleOfTheScreenAndHelpOpensAtTheButtonsTopic) {
    Rig r;
    r.window->move(0, 0);  // the main window away from the middle
    const QPoint middle = r.window->screen()->geometry().center();
    QPoint about_centre;
    {
        ModalWatcher escape([&](QWidget* about) {
            about_centre = about->frameGeometry().center();
            QTest::keyClick(about, Qt::Key_Escape);
        });
        r.ui().mnuHelpAbout->trigger();
    }
    EXPECT_LE((about_centre - middle).manhattanLength(), 2) << about_centre.x() << "," << about_centre.y();

    r.ui().mnuHelpContents->trigger();
    QPointer<HelpWindow> help = &help_window_for(r.window.get());
    ASSERT_TRUE(help->isVisible());
    EXPECT_EQ(help->browser()->source().toLocalFile(), r.tmp.filePath("upload.hlp"));
    EXPECT_LE((help->frameGeometry().center() - middle).manhattanLength(), 2);
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : help.data(), Qt::Key_Escape);
    EXPECT_TRUE(help.isNull() || !help->isVisible());

    r.ui().cmdUpload->setEnabled(true);
    r.ui().cmdUpload->setFocus();
    QTest::keyClick(r.ui().cmdUpload, Qt::Key_F1);
    EXPECT_EQ(help_window_for(r.window.get()).browser()->source().fragment(), "topic11");
}

TEST(MainWindowCommands, FindDeviceShowsTheDeviceAndListsReleases) {
    Rig w;
    w.search("  PJ-9000  ");
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
    w.search();
    EXPECT_TRUE(w.ui().lstVersions->selectedItems().isEmpty());
    EXPECT_FALSE(w.ui().cmdUpload->isEnabled());

    // A search that finds nothing empties the boxes.
    w.library.info_steps.push_back({kTimeout, {}});
    w.ui().cmdSearch->click();
    EXPECT_TRUE(w.ui().txtProjector->text().isEmpty());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());
    EXPECT_EQ(w.status(), "status 3: Unable to find any devices connect to this computer.");

    // A port that does not open is not closed.
    w.library.open_results = {kPortNotFound};
    w.ui().cmdSearch->click();
    EXPECT_EQ(w.reporter.events.mid(w.reporter.events.size() - 2),
              (QStringList{"status 1: Searching for devices...", "status 3: Unable to connect to serial port."}));
    EXPECT_EQ(w.library.opens, 3);
    EXPECT_EQ(w.library.closes, 3);
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindowCommands, UploadNeverStartsWithoutASelectedLine) {
    Rig w;
    w.ui().mnuEmergencyMode->trigger();
    w.ui().cmdUpload->setEnabled(true);
    w.ui().cmdUpload->click();
    EXPECT_TRUE(w.library.calls.empty());
}

TEST(MainWindowCommands, EmergencyModeTogglesTheControls) {
    Rig w;
    w.search();
    const std::vector<QObject*> commands{w.ui().cmdSearch, w.ui().cmdQueryStatus, w.ui().cmdUpload};

    w.ui().mnuEmergencyMode->trigger();
    EXPECT_TRUE(w.window->emergency_mode());
    EXPECT_FALSE(w.ui().lblEmergencyMode->isHidden());
    EXPECT_EQ(enabled(commands), (std::vector<bool>{false, false, false}));
    EXPECT_TRUE(w.ui().txtProjector->text().isEmpty());
    EXPECT_TRUE(w.ui().txtVersion->text().isEmpty());
    EXPECT_EQ(w.ui().lstVersions->count(), 2);
    EXPECT_EQ(w.status(), "status 1: In emergency mode.");

    w.select(0);
    w.ui().mnuEmergencyMode->trigger();
    EXPECT_TRUE(w.ui().lblEmergencyMode->isHidden());
    EXPECT_EQ(enabled(commands), (std::vector<bool>{true, false, false}));  // the boxes are empty now
    EXPECT_EQ(w.ui().lstVersions->count(), 0);
    EXPECT_EQ(w.status(), "status 1: In normal mode.");
}

TEST(MainWindowCommands, UploadLocksTheOtherCommandsUntilItEnds) {
    Rig w;
    LinkPeer peer(w.library);
    peer.block_message_size = 120;
    w.ui().mnuEmergencyMode->trigger();
    w.select(1);

    // Halfway through the transfer every command that would touch the port, end the program or
    // open a modal box is unavailable, and so is the release list; closing the window, clicking
    // the list's empty part and "&About" do nothing. Afterwards each is as the mode leaves it.
    const std::vector<QObject*> controls{w.ui().cmdSearch, w.ui().cmdQueryStatus, w.ui().cmdUpload,
                                         w.ui().cmdExit, w.ui().mnuExit, w.ui().mnuComPort,
                                         w.ui().mnuWorkingDirectory, w.ui().mnuEmergencyMode,
                                         w.ui().lstVersions, w.ui().mnuHelpAbout};
    const std::vector<bool> after{false, false, true, true, true, true, true, true, true, true};
    std::vector<bool> during;
    int modal_boxes = 0;
    ModalWatcher closer([&](QWidget* modal) {  // a modal box would stop the transfer
        ++modal_boxes;
        modal->close();
    });
    // The progress window belongs to the main window and offers no buttons.
    frmUploadProgress* progress = nullptr;
    bool progress_shown = false, progress_closable = true;
    Qt::WindowFlags progress_flags;
    int sends = 0;
    auto previous = w.library.on_send;
    w.library.on_send = [&](ScriptedDeviceLibrary& lib, const Frame& f) {
        if (sends++ == 20) {
            during = enabled(controls);
            w.window->close();
            w.ui().cmdExit->click();
            QListWidget* list = w.ui().lstVersions;
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(10, list->viewport()->height() - 5));
            w.ui().mnuHelpAbout->trigger();
            progress = w.window->findChild<frmUploadProgress*>();
            if (progress) {
                progress_shown = progress->isVisible();
                progress_flags = progress->windowFlags();
                progress->close();
                progress_closable = !progress->isVisible();
            }
        }
        previous(lib, f);
    };
    w.ui().cmdUpload->click();

    EXPECT_EQ(during, std::vector<bool>(controls.size(), false));
    EXPECT_EQ(enabled(controls), after);
    EXPECT_EQ(modal_boxes, 0);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress_shown);
    EXPECT_FALSE(progress_closable);
    EXPECT_TRUE(progress_flags & Qt::WindowTitleHint);
    EXPECT_FALSE(progress_flags & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint));
    EXPECT_EQ(w.window->findChild<frmUploadProgress*>(), nullptr);  // closed with the upload
    EXPECT_EQ(w.ended, 0);
    EXPECT_EQ(w.status(), "status 1: " + kSuccess);
    EXPECT_EQ(peer.messages[2].data(), Frame({'B', 'I', 'M', 'G', '.', 'm', 'o', 't'}));  // the selected release
    EXPECT_EQ(w.library.opens, w.library.closes);
    EXPECT_EQ(w.count("close 100"), 1);  // not the exit's close
    EXPECT_EQ(w.ui().lstVersions->selectedItems().size(), 1);
    EXPECT_FALSE(w.window->uploading());
}

TEST(MainWindowCommands, NormalUploadTurnsTheDeviceOffFirst) {
    Rig w;
    LinkPeer peer(w.library);
    peer.block_message_size = 120;
    w.search();
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
                           "status 1: " + kSuccess}));
    EXPECT_EQ(w.library.opens, w.library.closes);
}

TEST(MainWindowCommands, EscapeInTheCoolDownWindowCancelsTheUpload) {
    Rig w;
    w.search();
    w.select(0);
    w.library.status_steps = {ScriptedDeviceLibrary::status(kOn),
                              ScriptedDeviceLibrary::status(kCoolingDown, kOk, 0x01, 0x00),
                              ScriptedDeviceLibrary::status(kCoolingDown, kOk, 0x00, 0x55)};
    QString window_seen;
    ModalWatcher escape([&](QWidget* modal) {
        window_seen = modal->objectName();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    w.ui().cmdUpload->click();
    EXPECT_EQ(window_seen, "frmCoolDown");
    EXPECT_EQ(w.status(), "status 2: User canceled device cool down.");
    EXPECT_EQ(w.count("request_upload_mode"), 0);
    EXPECT_EQ(w.library.opens, w.library.closes);
}

TEST(MainWindowKeys, EnterAndAltFPressFindDevice) {
    const auto enter = std::make_pair(Qt::Key_Return, Qt::KeyboardModifiers());
    const auto keypad_enter = std::make_pair(Qt::Key_Enter, Qt::KeyboardModifiers(Qt::KeypadModifier));
    const auto alt_f = std::make_pair(Qt::Key_F, Qt::KeyboardModifiers(Qt::AltModifier));
    const auto search_and_select = [](int line) {
        return [line](Rig& w) {
            w.ui().cmdSearch->click();
            w.select(line);
        };
    };
    const struct {
        const char* what;
        std::function<void(Rig&)> before;
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
        int searches, ended, uploads;
    } cases[] = {
        {"Enter at start", {}, {enter}, 1, 0, 0},
        {"keypad Enter at start", {}, {keypad_enter}, 1, 0, 0},
        {"Enter in the model box clicked into",
         [](Rig& w) { QTest::mouseClick(w.ui().txtProjector, Qt::LeftButton); }, {enter}, 1, 0, 0},
        {"Enter in the release list", search_and_select(0), {enter}, 2, 0, 0},
        {"Alt+F, twice", {}, {alt_f, alt_f}, 2, 0, 0},
        {"Alt+F with the focus in the release list", search_and_select(1), {alt_f}, 2, 0, 0},
        {"Enter on the focused Exit button", [](Rig& w) { w.ui().cmdExit->setFocus(); }, {enter}, 0, 1, 0},
        {"Enter in emergency mode", [](Rig& w) { w.ui().mnuEmergencyMode->trigger(); }, {enter}, 0, 0, 0},
        // The locked controls push the focus away during the upload; it comes back to the
        // button, so the second Enter uploads again instead of landing on Exit.
        {"Enter on Start Upload, twice",
         [](Rig& w) {
             w.ui().mnuEmergencyMode->trigger();
             w.select(0);
             w.ui().cmdUpload->setFocus();
         },
         {enter, enter}, 0, 0, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig w;
        if (c.before) c.before(w);
        for (const auto& [key, modifiers] : c.keys) {
            ASSERT_NE(QApplication::focusWidget(), nullptr);
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
        }
        EXPECT_EQ(w.count("get_proj_info"), c.searches);
        EXPECT_EQ(w.ended, c.ended);
        EXPECT_EQ(w.count("open COM1 38400 30000"), c.uploads);
    }
}

TEST(MainWindowKeys, TheFileMenuOpensFromTheKeyboard) {
    const struct { const char* what; bool emergency; Qt::Key key; Qt::KeyboardModifiers modifiers; } cases[] = {
        {"Alt+F while Find Device is unavailable", true, Qt::Key_F, Qt::AltModifier},
        {"F10", false, Qt::Key_F10, Qt::NoModifier},
        {"F10 in emergency mode", true, Qt::Key_F10, Qt::NoModifier},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig w;
        if (c.emergency) w.ui().mnuEmergencyMode->trigger();
        QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr);
        EXPECT_EQ(popup->objectName(), "mnuFile");
        popup->close();
        EXPECT_EQ(w.count("get_proj_info"), 0);
    }
}

// What the screen showed when a device call began: the status line and the model box as last
// painted, the pointer, and whether a message box was up.
class PaintWatch : public QObject {
public:
    struct Seen {
        QString status = "<never painted>", model = "<never painted>";
        Qt::CursorShape pointer = Qt::ArrowCursor;
        bool box_open = false;
    };
    explicit PaintWatch(Rig& rig) : rig_(rig) {
        rig.ui().staMainText->installEventFilter(this);
        rig.ui().txtProjector->installEventFilter(this);
    }
    Seen now() const {
        Seen seen = painted_;
        seen.pointer = rig_.window->cursor().shape();
        for (QWidget* top : QApplication::topLevelWidgets())
            seen.box_open |= qobject_cast<QMessageBox*>(top) && top->isVisible();
        return seen;
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            (watched == rig_.ui().staMainText ? painted_.status : painted_.model) = watched->property("text").toString();
        return false;
    }

private:
    Rig& rig_;
    Seen painted_;
};

TEST(MainWindowScreen, SignsOfProgressArePaintedBeforeEachBlockingCall) {
    Rig w(true);
    PaintWatch watch(w);

    // A search that finds a projector, then one against a projector that stays silent: the old
    // model is gone from the screen before the call.
    w.search("PJ-OLD");
    ASSERT_EQ(w.ui().txtProjector->text(), "PJ-OLD");
    PaintWatch::Seen search;
    w.library.info_steps.push_back({kTimeout, [&](DeviceReply&) { search = watch.now(); }});
    QTest::mouseClick(w.ui().cmdSearch, Qt::LeftButton);
    EXPECT_EQ(search.status, "Searching for devices...");
    EXPECT_EQ(search.model, "");
    EXPECT_EQ(search.pointer, Qt::WaitCursor);
    EXPECT_EQ(w.status_line(), "RED_LIGHT Unable to find any devices connect to this computer.");
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);

    // "Start &Upload": the question answered, its box gone, then the silent status query.
    w.search();
    w.select(0);
    PaintWatch::Seen upload;
    w.library.status_steps = {{kTimeout, [&](DeviceReply&) { upload = watch.now(); }}};
    BoxAnswerer yes;
    QTest::mouseClick(w.ui().cmdUpload, Qt::LeftButton);
    EXPECT_EQ(yes.texts(), QStringList{"Are you sure you want to upload version 01.05 to the Orvelle device selected?"});
    EXPECT_EQ(upload.status, "Starting upload...");
    EXPECT_EQ(upload.pointer, Qt::WaitCursor);
    EXPECT_FALSE(upload.box_open);
    EXPECT_EQ(w.status_line(), "RED_LIGHT Unable to get device status.");
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindowScreen, AFailedEmergencyUploadLeavesTheRedLineAfterASuccess) {
    // However an upload ends, the button afterwards says whether a line is selected, and the
    // status line says how the last one ended: a success line never outlives a failure.
    Rig w(true);
    LinkPeer peer(w.library);
    peer.block_message_size = 120;
    w.ui().mnuEmergencyMode->trigger();
    w.select(0);
    BoxAnswerer ok(QMessageBox::Ok);
    w.ui().cmdUpload->click();
    EXPECT_EQ(w.status_line(), "GREEN_LIGHT " + kSuccess);
    EXPECT_TRUE(ok.seen.empty());
    EXPECT_TRUE(w.ui().cmdUpload->isEnabled());

    // The projector falls silent: the hourglass shows before the first frame goes out.
    Qt::CursorShape at_first_frame = Qt::BlankCursor;
    w.library.on_send = [&](ScriptedDeviceLibrary&, const Frame&) {
        if (at_first_frame == Qt::BlankCursor) at_first_frame = w.window->cursor().shape();
    };
    w.ui().cmdUpload->click();
    EXPECT_EQ(at_first_frame, Qt::WaitCursor);
    EXPECT_EQ(ok.texts(), (QStringList{"Unable to communicate with device.  Maximum number of retries reached.",
                                       "Error initiating upload mode of device."}));
    EXPECT_EQ(w.status_line(), "RED_LIGHT There was an error uploading the operating system to the device.");
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(w.ui().cmdUpload->isEnabled(), !w.ui().lstVersions->selectedItems().isEmpty());
    EXPECT_TRUE(w.ui().lstVersions->isEnabled());
    EXPECT_EQ(w.library.opens, w.library.closes);
}
