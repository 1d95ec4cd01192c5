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

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <cstring>

using namespace halvern;
using namespace halvern::test;

namespace {

const QDateTime kNoon(QDate(2024, 3, 9), QTime(12, 34, 56));
const QString kSuccess = QStringLiteral("The operating system has been uploaded successfully!");

// The scripted projector, with the cause it gives for a port that did not open.
struct Library : ScriptedDeviceLibrary {
    QString failure;
    QString open_failure() const override { return failure; }
};

struct Rig {
    QTemporaryDir tmp;       // the program's directory, with the help file
    QTemporaryDir releases;  // the working directory: releases A and B of one small file each
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    Library library;
    RecordingReporter reporter;
    int ended = 0;
    QDateTime now = kNoon;
    std::unique_ptr<frmUpload> window;

    // real_boxes: boxes and questions on the screen and status lines on the window, through the
    // window's own reporter, instead of the recorder.
    explicit Rig(bool real_boxes = false) {
        EXPECT_TRUE(QFile::copy(QStringLiteral(HELP_FILE_SOURCE), tmp.filePath("upload.hlp")));
        for (const QByteArray name : {"A", "B"}) {
            VersionFileBuilder().name("Release " + name).version("0105").entry(0, name + "IMG", 0x100, 0x100 + 149)
                .write(releases.path(), name + ".PJV");
            VersionFileBuilder::write_file(releases.path(), name + "IMG.mot", s3_records(0x100, pattern(150)));
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
    StatusMessageLabel& message() const { return *static_cast<StatusMessageLabel*>(ui().staMainText); }
    void search(const char* model = "PJ-9000") {
        library.info_steps.push_back({kOk, [=](DeviceReply& r) {
                                          std::memcpy(&r[19], model, std::min<std::size_t>(16, std::strlen(model)));
                                          std::memcpy(&r[35], "0105", 4);
                                      }});
        ui().cmdSearch->click();
    }
    void select(int line) {
        QListWidget* list = ui().lstVersions;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(line)).center());
    }
    QString status() const { return reporter.last_status(); }
    // The window's own status line: its light and its text.
    QString status_line() const { return ui().staMainIcon->property("iconKey").toString() + " " + message().text(); }
    int count(const char* call) const { return int(std::count(library.calls.begin(), library.calls.end(), call)); }
};

std::vector<bool> enabled(const std::vector<QObject*>& controls) {
    std::vector<bool> out;
    for (QObject* c : controls) out.push_back(c->property("enabled").toBool());
    return out;
}

}  // namespace

TEST(MainWindow, InitialState) {
    Rig r;
    const std::vector<QObject*> buttons{r.ui().cmdSearch, r.ui().cmdQueryStatus, r.ui().cmdUpload, r.ui().cmdExit};
    EXPECT_EQ(enabled(buttons), (std::vector<bool>{true, false, false, true}));
    EXPECT_EQ(r.ui().cmdSearch->property("helpTopic"), 9);
    EXPECT_EQ(r.ui().cmdUpload->property("helpTopic"), 11);
    EXPECT_TRUE(r.ui().cmdSearch->isDefault());
    EXPECT_FALSE(r.ui().lblEmergencyMode->isVisible());
    EXPECT_EQ(r.ui().lstVersions->count(), 0);  // the releases in the working directory are not listed yet
    // The release list reads in the font of every other control.
    EXPECT_EQ(QFontInfo(r.ui().lstVersions->font()).family(), QFontInfo(r.ui().cmdSearch->font()).family());
    EXPECT_EQ(r.settings.startup("Baud Rate"), "38400");  // the defaults are written at load
    EXPECT_TRUE(r.library.calls.empty());  // the port stays closed at start-up

    // The clock ticks by itself.
    r.now = QDateTime(QDate(2024, 3, 10), QTime(8, 5, 0));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return r.ui().staMainTime->text() == QLocale().toString(r.now.time(), QLocale::ShortFormat); }, 3000));
    EXPECT_EQ(r.ui().staMainDate->text(), QLocale().toString(r.now.date(), QLocale::ShortFormat));
}

TEST(MainWindow, ShowStatusLightsTheIconAndRefusesAnUnknownOne) {
    Rig r;
    for (const auto& [icon, key] : {std::pair{1, "GREEN_LIGHT"}, {2, "YELLOW_LIGHT"}, {3, "RED_LIGHT"}}) {
        r.window->show_status(icon, "Message");
        EXPECT_EQ(r.status_line(), key + QString(" Message"));
    }
    for (const int bad : {0, 4}) r.window->show_status(bad, "ignored");
    EXPECT_EQ(r.reporter.events, QStringList(2, "box: Unable to display status message."));
    EXPECT_EQ(r.status_line(), "RED_LIGHT Message");
}

TEST(MainWindow, TheLongestMessagesStandWholeAtTheFirstSizeAndLongerOnesAreCut) {
    Rig r;
    QApplication::processEvents();
    const QSize first = r.window->size();
    for (const QString& text : {QString("There was an error uploading the operating system to the device."),
                                QString("Unable to find any devices connect to this computer."), kSuccess,
                                "Unexpected status code from device. (1) 0 " + QString(200, 'x')}) {
        r.window->show_status(3, text);
        QApplication::processEvents();
        EXPECT_EQ(r.window->size(), first) << text.toStdString();
        EXPECT_EQ(r.message().toolTip(), text);
        if (text.size() < 100) EXPECT_EQ(r.message().shown_text(), text);
        else EXPECT_TRUE(r.message().shown_text().endsWith(QChar(0x2026)));  // whole in the tooltip
    }
}

TEST(MainWindow, APortThatDidNotOpenSaysWhyUnderTheMessage) {
    const QString denied = "/dev/ttyUSB0: permission denied (the device belongs to group dialout)";
    const struct { const char* what; bool emergency; QString failure, status, cause; } cases[] = {
        {"search, not in the group", false, denied, "Unable to connect to serial port.",
         denied + "\nTo use the port, join the group: sudo adduser \"$USER\" dialout, then log in again."},
        {"emergency upload, port in use", true, "/dev/ttyS0: in use by process 1234 (minicom)",
         "Unable to set baud rate to 38.4 kbps", "/dev/ttyS0: in use by process 1234 (minicom)"},
        {"the library cannot tell", false, "", "Unable to connect to serial port.", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r(true);
        r.library.failure = c.failure;
        r.library.open_results = {kPortNotFound};
        if (c.emergency) { r.ui().mnuEmergencyMode->trigger(); r.select(0); }
        (c.emergency ? r.ui().cmdUpload : r.ui().cmdSearch)->click();
        EXPECT_EQ(r.status_line(), "RED_LIGHT " + c.status);
        EXPECT_EQ(r.message().detail(), c.cause);
        EXPECT_EQ(r.message().toolTip(), c.cause.isEmpty() ? c.status : c.status + "\n" + c.cause);
        const QStringList lines = r.message().shown_lines();  // the cause's first line under the message
        EXPECT_EQ(lines.mid(1).join("").left(12), c.failure.left(12));
        // The next line of the status bar has no cause of its own.
        r.window->show_status(1, "In normal mode.");
        EXPECT_EQ(r.message().shown_lines(), QStringList{"In normal mode."});
    }
}

TEST(MainWindow, AtItsMinimumSizeEveryControlAndColumnIsWhole) {
    Rig r;
    r.search();
    r.window->resize(1, 1);
    QApplication::processEvents();
    EXPECT_EQ(r.window->size(), r.window->minimumSize());
    const QRect inside = r.window->rect();
    for (QWidget* w : r.window->findChildren<QWidget*>()) {
        if (!w->isVisible() || w == r.ui().lblModel || w == r.ui().staMainText) continue;
        if (!qobject_cast<QAbstractButton*>(w) && !qobject_cast<QLabel*>(w) && !qobject_cast<QLineEdit*>(w)) continue;
        const QRect at(w->mapTo(r.window.get(), QPoint()), w->size());
        EXPECT_TRUE(inside.contains(at)) << w->objectName().toStdString();
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << w->objectName().toStdString();
    }
    // The version column and its heading end inside the list.
    QListWidget* list = r.ui().lstVersions;
    const auto* tabs = qobject_cast<TabStopDelegate*>(list->itemDelegate());
    const int version_right = tabs->text_left(*list) + qRound(tabs->tab_stop()) +
                              list->fontMetrics().horizontalAdvance(QStringLiteral("01.05"));
    EXPECT_LE(version_right, list->viewport()->geometry().right());
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    EXPECT_GE(r.ui().lblVersion->width(), r.ui().lblVersion->sizeHint().width());
    EXPECT_LE(r.ui().lblVersion->mapTo(list->parentWidget(), QPoint(r.ui().lblVersion->width(), 0)).x(),
              list->geometry().x() + list->width());
}

TEST(MainWindow, TheKeyboardFocusOnTheReleaseListIsSeen) {
    Rig r;
    QListWidget* list = r.ui().lstVersions;
    const auto dots_at_the_bottom = [&] {
        const QImage image = list->viewport()->grab().toImage();
        int dark = 0;
        for (int x = 0; x < image.width(); ++x) dark += qGray(image.pixel(x, image.height() - 2)) < 128;
        return dark;
    };
    r.ui().cmdSearch->setFocus();
    EXPECT_EQ(dots_at_the_bottom(), 0);
    list->setFocus();
    EXPECT_GT(dots_at_the_bottom(), list->viewport()->width() / 4);
}

TEST(MainWindow, OnlyTheExitButtonClosesThePortBeforeTheEnd) {
    // The close's result is ignored; "E&xit" of the menu and the close box end without it.
    const struct { const char* how; std::int32_t close_result; std::vector<std::string> calls; } cases[] = {
        {"cmdExit", kOk, {"close 57"}}, {"cmdExit", kInvalidHandle, {"close 57"}}, {"mnuExit", kOk, {}}, {"close box", kOk, {}}};
    for (const auto& c : cases) {
        Rig r;
        r.state.serial_handle = 57;
        r.library.close_results = {c.close_result};
        if (c.how == std::string("cmdExit")) QTest::mouseClick(r.ui().cmdExit, Qt::LeftButton);
        else if (c.how == std::string("mnuExit")) r.ui().mnuExit->trigger();
        else r.window->close();
        EXPECT_EQ(r.library.calls, c.calls) << c.how;
        EXPECT_EQ(r.ended, 1);
    }
}

TEST(MainWindow, SetupDialogsAreModalAndF1InThemOpensTheirTopic) {
    const struct { QAction* (*item)(Rig&); const char* title; const char* anchor; } cases[] = {
        {[](Rig& r) { return r.ui().mnuComPort; }, "Select Serial Port", "comport"},
        {[](Rig& r) { return r.ui().mnuWorkingDirectory; }, "Select Working Directory", "workdir"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        Rig r;
        QString title, anchor;
        ModalWatcher helper([&](QWidget* dialog) {
            if (!title.isEmpty() || !dialog->isActiveWindow()) return;
            title = dialog->windowTitle();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_F1);
            if (auto* help = dialog->findChild<HelpWindow*>()) anchor = help->browser()->source().fragment();
            QTest::keyClick(dialog, Qt::Key_Escape);
        });
        c.item(r)->trigger();  // returns once the dialog has closed
        EXPECT_EQ(title, c.title);
        EXPECT_EQ(anchor, c.anchor);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
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

TEST(MainWindow, TheAboutBoxStandsInTheMiddleOfTheScreenAndContentsOpensTheHelpFile) {
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
    EXPECT_EQ(help_window_for(r.window.get()).browser()->source().toLocalFile(), r.tmp.filePath("upload.hlp"));
}

TEST(MainWindowCommands, FindDeviceShowsTheDeviceAndARefillClearsTheSelection) {
    Rig w;
    w.search("  PJ-9000  ");
    EXPECT_EQ(w.ui().txtProjector->text() + " " + w.ui().txtVersion->text(), "PJ-9000 01.05");
    EXPECT_TRUE(w.ui().cmdQueryStatus->isEnabled());
    ASSERT_EQ(w.ui().lstVersions->count(), 2);
    w.select(1);
    EXPECT_TRUE(w.ui().cmdUpload->isEnabled());
    w.search();
    EXPECT_TRUE(w.ui().lstVersions->selectedItems().isEmpty());
    EXPECT_FALSE(w.ui().cmdUpload->isEnabled());
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
    EXPECT_EQ(w.ui().lstVersions->count(), 2);
    EXPECT_EQ(w.status(), "status 1: In emergency mode.");

    // Without a selected line there is nothing to upload, whatever the button says.
    w.ui().cmdUpload->setEnabled(true);
    w.ui().cmdUpload->click();
    EXPECT_EQ(w.count("open COM1 38400 30000"), 0);

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
    // open a modal box is unavailable, and so is the release list; closing the window and
    // "&About" do nothing. Afterwards each is as the mode leaves it.
    const std::vector<QObject*> controls{w.ui().cmdSearch, w.ui().cmdQueryStatus, w.ui().cmdUpload,
                                         w.ui().cmdExit, w.ui().mnuExit, w.ui().mnuComPort,
                                         w.ui().mnuWorkingDirectory, w.ui().mnuEmergencyMode,
                                         w.ui().lstVersions, w.ui().mnuHelpAbout};
    std::vector<bool> during;
    int modal_boxes = 0;
    ModalWatcher closer([&](QWidget* modal) {  // a modal box would stop the transfer
        ++modal_boxes;
        modal->close();
    });
    bool progress_shown = false;
    int sends = 0;
    auto previous = w.library.on_send;
    w.library.on_send = [&](ScriptedDeviceLibrary& lib, const Frame& f) {
        if (sends++ == 20) {
            during = enabled(controls);
            w.window->close();
            w.ui().cmdExit->click();
            w.ui().mnuHelpAbout->trigger();
            if (auto* progress = w.window->findChild<frmUploadProgress*>()) progress_shown = progress->isVisible();
        }
        previous(lib, f);
    };
    w.ui().cmdUpload->click();

    EXPECT_EQ(during, std::vector<bool>(controls.size(), false));
    EXPECT_EQ(enabled(controls), (std::vector<bool>{false, false, true, true, true, true, true, true, true, true}));
    EXPECT_EQ(modal_boxes, 0);
    EXPECT_TRUE(progress_shown);
    EXPECT_EQ(w.window->findChild<frmUploadProgress*>(), nullptr);  // closed with the upload
    EXPECT_EQ(w.ended, 0);
    EXPECT_EQ(w.status(), "status 1: " + kSuccess);
    EXPECT_EQ(peer.messages[2].data(), Frame({'B', 'I', 'M', 'G', '.', 'm', 'o', 't'}));  // the selected release
    EXPECT_EQ(w.count("close 100"), 1);  // not the exit's close
}

TEST(MainWindowKeys, EnterAndAltFPressFindDevice) {
    const auto enter = std::make_pair(Qt::Key_Return, Qt::KeyboardModifiers());
    const auto alt_f = std::make_pair(Qt::Key_F, Qt::KeyboardModifiers(Qt::AltModifier));
    const auto search_and_select = [](int line) { return [line](Rig& w) { w.ui().cmdSearch->click(); w.select(line); }; };
    const struct {
        const char* what;
        std::function<void(Rig&)> before;
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
        int searches, ended, uploads;
    } cases[] = {
        {"Enter at start", {}, {enter}, 1, 0, 0},
        {"Enter in the model box", [](Rig& w) { QTest::mouseClick(w.ui().txtProjector, Qt::LeftButton); }, {enter}, 1, 0, 0},
        {"Enter in the release list", search_and_select(0), {enter}, 2, 0, 0},
        {"Alt+F, twice", {}, {alt_f, alt_f}, 2, 0, 0},
        {"Alt+F with the focus in the release list", search_and_select(1), {alt_f}, 2, 0, 0},
        {"Enter on the focused Exit button", [](Rig& w) { w.ui().cmdExit->setFocus(); }, {enter}, 0, 1, 0},
        {"Enter in emergency mode", [](Rig& w) { w.ui().mnuEmergencyMode->trigger(); }, {enter}, 0, 0, 0},
        // The locked controls push the focus away during the upload; it comes back to the
        // button, so the second Enter uploads again instead of landing on Exit.
        {"Enter on Start Upload, twice", [](Rig& w) { w.ui().mnuEmergencyMode->trigger(); w.select(0); w.ui().cmdUpload->setFocus(); },
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

TEST(MainWindowKeys, AltFOpensTheFileMenuWhileFindDeviceIsUnavailable) {
    Rig w;
    w.ui().mnuEmergencyMode->trigger();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::AltModifier);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    EXPECT_EQ(QApplication::activePopupWidget()->objectName(), "mnuFile");
    QApplication::activePopupWidget()->close();
}

TEST(MainWindowScreen, SignsOfProgressArePaintedBeforeEachBlockingCall) {
    // What the status line and the model box last painted when a device call began.
    Rig w(true);
    QString status = "<never painted>", model = "<never painted>";
    struct Watch : QObject {
        std::function<void(QObject*)> painted;
        bool eventFilter(QObject* o, QEvent* e) override {
            if (e->type() == QEvent::Paint) painted(o);
            return false;
        }
    } watch;
    watch.painted = [&](QObject* o) { (o == w.ui().staMainText ? status : model) = o->property("text").toString(); };
    w.ui().staMainText->installEventFilter(&watch);
    w.ui().txtProjector->installEventFilter(&watch);

    // A search against a projector that stays silent: the old model is gone before the call.
    w.search("PJ-OLD");
    QStringList seen;
    Qt::CursorShape pointer = Qt::ArrowCursor;
    w.library.info_steps.push_back({kTimeout, [&](DeviceReply&) {
                                        seen = {status, model};
                                        pointer = w.window->cursor().shape();
                                    }});
    QTest::mouseClick(w.ui().cmdSearch, Qt::LeftButton);
    EXPECT_EQ(seen, (QStringList{"Searching for devices...", ""}));
    EXPECT_EQ(pointer, Qt::WaitCursor);
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);

}
