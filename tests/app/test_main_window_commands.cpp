// The main window's commands, clicked on the real controls against a scripted projector:
// device search, the release list, emergency mode and an upload with the other commands
// locked while it runs.

#include "app/frmUpload.h"
#include "dialogs/HelpWindow.h"
#include "upload/frmUploadProgress.h"

#include "tests/image/VersionFileBuilder.h"
#include "tests/support/LinkPeer.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/SRecords.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
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

    // real_boxes: message boxes and questions on the screen and status lines on the window,
    // through the window's own reporter, instead of the recorder.
    explicit Window(bool real_boxes = false) {
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
        if (!real_boxes) options.reporter = &reporter;
        options.upload_pause = [] {};
        window = std::make_unique<frmUpload>(state, settings, library, options);
        window->show();
        window->activateWindow();
        QTest::qWaitForWindowActive(window.get());
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
    int searches() const { return int(std::count(library.calls.begin(), library.calls.end(), "get_proj_info")); }
};

// Answers every modal box that opens, by clicking its button, and remembers its text.
class BoxAnswerer {
public:
    explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Yes) {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            texts << box->text();
            QAbstractButton* button = box->button(answer) ? box->button(answer) : box->buttons().value(0);
            QTest::mouseClick(button, Qt::LeftButton);
        });
        timer_.start();
    }
    QStringList texts;

private:
    QTimer timer_;
};

// The text each watched widget showed when it was last painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(std::initializer_list<QWidget*> widgets) {
        for (QWidget* w : widgets) w->installEventFilter(this);
    }
    QString painted(QWidget* w) const { return painted_.value(w, QStringLiteral("<never painted>")); }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            if (auto* label = qobject_cast<QLabel*>(watched)) painted_[watched] = label->text();
            if (auto* box = qobject_cast<QLineEdit*>(watched)) painted_[watched] = box->text();
        }
        return false;
    }

private:
    QHash<QObject*, QString> painted_;
};

// What the screen showed at the moment a device call began.
struct Seen {
    QString status;
    QString model;
    Qt::CursorShape pointer = Qt::ArrowCursor;
    bool box_open = false;
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

    // Halfway through the transfer: every command that would touch the port, end the
    // program or open a modal box is unavailable, and so is the release list; closing the
    // window, clicking the list's empty part and "&About" do nothing. The progress window
    // belongs to the main window and offers no buttons.
    std::vector<bool> during;
    int checks = 0;
    int modal_boxes = 0;
    QTimer closer;  // should a modal box open after all, it would stop the transfer
    closer.setInterval(50);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            ++modal_boxes;
            modal->close();
        }
    });
    closer.start();
    frmUploadProgress* progress = nullptr;
    bool progress_shown = false, progress_closable = true;
    Qt::WindowFlags progress_flags;
    auto previous = w.library.on_send;
    w.library.on_send = [&](ScriptedDeviceLibrary& lib, const Frame& f) {
        if (checks++ == 20) {
            for (QObject* c : std::initializer_list<QObject*>{
                     w.ui().cmdSearch, w.ui().cmdQueryStatus, w.ui().cmdUpload, w.ui().cmdExit, w.ui().mnuExit,
                     w.ui().mnuComPort, w.ui().mnuWorkingDirectory, w.ui().mnuEmergencyMode, w.ui().lstVersions,
                     w.ui().mnuHelpAbout})
                during.push_back(c->property("enabled").toBool());
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

    EXPECT_EQ(during, std::vector<bool>(10, false));
    EXPECT_EQ(modal_boxes, 0);
    ASSERT_NE(progress, nullptr);
    EXPECT_TRUE(progress_shown);
    EXPECT_FALSE(progress_closable);
    EXPECT_TRUE(progress_flags & Qt::WindowTitleHint);
    EXPECT_FALSE(progress_flags & (Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint));
    EXPECT_EQ(w.window->findChild<frmUploadProgress*>(), nullptr);  // closed with the upload
    EXPECT_EQ(w.ended, 0);
    EXPECT_EQ(w.status(), "status 1: The operating system has been uploaded successfully!");
    EXPECT_EQ(peer.messages[2].data(), Frame({'B', 'I', 'M', 'G', '.', 'm', 'o', 't'}));  // the selected release
    EXPECT_EQ(w.library.opens, w.library.closes);
    EXPECT_EQ(std::count(w.library.calls.begin(), w.library.calls.end(), "close 100"), 1);  // not the exit's close

    // Afterwards each control is as the mode leaves it.
    EXPECT_FALSE(w.ui().cmdSearch->isEnabled());
    EXPECT_FALSE(w.ui().cmdQueryStatus->isEnabled());
    EXPECT_EQ(w.ui().lstVersions->selectedItems().size(), 1);
    EXPECT_TRUE(w.ui().cmdUpload->isEnabled());
    EXPECT_TRUE(w.ui().lstVersions->isEnabled());
    EXPECT_TRUE(w.ui().mnuHelpAbout->isEnabled());
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

TEST(MainWindowCommands, UploadButtonFollowsTheSelectionAfterEveryUpload) {
    // However the upload ends, the button afterwards says whether a line is selected.
    for (const bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "failed transfer" : "success");
        Window w;
        LinkPeer peer(w.library);
        peer.block_message_size = 120;
        if (fails) w.library.on_send = {};  // nobody answers
        w.ui().mnuEmergencyMode->trigger();
        w.select(0);
        w.ui().cmdUpload->click();
        EXPECT_EQ(w.ui().cmdUpload->isEnabled(), !w.ui().lstVersions->selectedItems().isEmpty());
        EXPECT_TRUE(w.ui().lstVersions->isEnabled());
    }
}

TEST(MainWindowKeys, EnterAndAltFPressFindDevice) {
    struct Case {
        const char* what;
        std::function<void(Window&)> before;
        std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys;
        int searches;
        int ended;
    };
    const auto enter = std::make_pair(Qt::Key_Return, Qt::KeyboardModifiers());
    const auto keypad_enter = std::make_pair(Qt::Key_Enter, Qt::KeyboardModifiers(Qt::KeypadModifier));
    const auto alt_f = std::make_pair(Qt::Key_F, Qt::KeyboardModifiers(Qt::AltModifier));
    const Case cases[] = {
        {"Enter at start", {}, {enter}, 1, 0},
        {"keypad Enter at start", {}, {keypad_enter}, 1, 0},
        {"Enter in the model box clicked into",
         [](Window& w) { QTest::mouseClick(w.ui().txtProjector, Qt::LeftButton); }, {enter}, 1, 0},
        {"Enter in the release list",
         [](Window& w) {
             w.ui().cmdSearch->click();
             w.select(0);
         },
         {enter}, 2, 0},
        {"Alt+F, twice", {}, {alt_f, alt_f}, 2, 0},
        {"Alt+F with the focus in the release list",
         [](Window& w) {
             w.ui().cmdSearch->click();
             w.select(1);
         },
         {alt_f}, 2, 0},
        {"Enter on the focused Exit button", [](Window& w) { w.ui().cmdExit->setFocus(); }, {enter}, 0, 1},
        {"Enter in emergency mode", [](Window& w) { w.ui().mnuEmergencyMode->trigger(); }, {enter}, 0, 0},
        // The locked controls push the focus away during the upload; it comes back to the
        // button, so the second Enter uploads again instead of landing on Exit.
        {"Enter on Start Upload, twice",
         [](Window& w) {
             w.ui().mnuEmergencyMode->trigger();
             w.select(0);
             w.ui().cmdUpload->setFocus();
         },
         {enter, enter}, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        if (c.before) c.before(w);
        for (const auto& [key, modifiers] : c.keys) {
            QWidget* focus = QApplication::focusWidget();
            ASSERT_NE(focus, nullptr);
            QTest::keyClick(focus, key, modifiers);
        }
        EXPECT_EQ(w.searches(), c.searches);
        EXPECT_EQ(w.ended, c.ended);
        const auto uploads = std::count(w.library.calls.begin(), w.library.calls.end(), "open COM1 38400 30000");
        EXPECT_EQ(uploads, QString(c.what).contains("Upload") ? 2 : 0);
    }
}

TEST(MainWindowKeys, TheFileMenuOpensFromTheKeyboard) {
    struct Case { const char* what; bool emergency; Qt::Key key; Qt::KeyboardModifiers modifiers; } cases[] = {
        {"Alt+F while Find Device is unavailable", true, Qt::Key_F, Qt::AltModifier},
        {"F10", false, Qt::Key_F10, Qt::NoModifier},
        {"F10 in emergency mode", true, Qt::Key_F10, Qt::NoModifier},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        if (c.emergency) w.ui().mnuEmergencyMode->trigger();
        QTest::keyClick(QApplication::focusWidget(), c.key, c.modifiers);
        QWidget* popup = QApplication::activePopupWidget();
        ASSERT_NE(popup, nullptr);
        EXPECT_EQ(popup->objectName(), "mnuFile");
        popup->close();
        EXPECT_EQ(w.searches(), 0);
    }
}

TEST(MainWindowScreen, SignsOfProgressArePaintedBeforeEachBlockingCall) {
    Window w(true);
    QLabel* status = w.window->findChild<QLabel*>("staMainText");
    PaintWatch watch{status, w.ui().txtProjector};
    auto seen_now = [&](Seen& seen) {
        seen.status = watch.painted(status);
        seen.model = watch.painted(w.ui().txtProjector);
        seen.pointer = w.window->cursor().shape();
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(top) && top->isVisible()) seen.box_open = true;
    };

    // A search that finds a projector, then one against a projector that stays silent.
    w.identify("PJ-OLD", "0100");
    QTest::mouseClick(w.ui().cmdSearch, Qt::LeftButton);
    ASSERT_EQ(w.ui().txtProjector->text(), "PJ-OLD");
    Seen search;
    w.library.info_steps.push_back({kTimeout, [&](DeviceReply&) { seen_now(search); }});
    QTest::mouseClick(w.ui().cmdSearch, Qt::LeftButton);
    EXPECT_EQ(search.status, "Searching for devices...");
    EXPECT_EQ(search.model, "");  // the old model is gone from the screen
    EXPECT_EQ(search.pointer, Qt::WaitCursor);
    EXPECT_EQ(status->text(), "Unable to find any devices connect to this computer.");
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);

    // "Start &Upload": the question answered, its box gone, then the silent status query.
    w.identify("PJ-9000", "0105");
    QTest::mouseClick(w.ui().cmdSearch, Qt::LeftButton);
    w.select(0);
    Seen upload;
    w.library.status_steps = {{kTimeout, [&](DeviceReply&) { seen_now(upload); }}};
    BoxAnswerer yes;
    QTest::mouseClick(w.ui().cmdUpload, Qt::LeftButton);
    EXPECT_EQ(yes.texts.value(0),
              "Are you sure you want to upload version 01.05 to the Orvelle device selected?");
    EXPECT_EQ(upload.status, "Starting upload...");
    EXPECT_EQ(upload.pointer, Qt::WaitCursor);
    EXPECT_FALSE(upload.box_open);
    EXPECT_EQ(status->text(), "Unable to get device status.");
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindowScreen, EmergencyUploadShowsTheHourglassBeforeTheFirstFrame) {
    Window w(true);
    w.ui().mnuEmergencyMode->trigger();
    w.select(0);
    Seen first_frame;
    w.library.on_send = [&](ScriptedDeviceLibrary&, const Frame&) {
        if (first_frame.status.isEmpty()) {
            first_frame.status = QStringLiteral("seen");
            first_frame.pointer = w.window->cursor().shape();
        }
    };
    BoxAnswerer ok(QMessageBox::Ok);  // the failure chain of a silent projector
    QTest::mouseClick(w.ui().cmdUpload, Qt::LeftButton);
    EXPECT_EQ(first_frame.pointer, Qt::WaitCursor);
    EXPECT_FALSE(ok.texts.isEmpty());
    EXPECT_EQ(w.window->cursor().shape(), Qt::ArrowCursor);
}

TEST(MainWindowCommands, EscapeInTheCoolDownWindowCancelsTheUpload) {
    Window w;
    w.identify("PJ-9000", "0105");
    w.ui().cmdSearch->click();
    w.select(0);
    w.library.status_steps = {ScriptedDeviceLibrary::status(kOn), ScriptedDeviceLibrary::status(kCoolingDown, kOk, 0x01, 0x00),
                              ScriptedDeviceLibrary::status(kCoolingDown, kOk, 0x00, 0x55)};
    QString window_seen;
    QTimer escape;
    escape.setInterval(5);
    QObject::connect(&escape, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible()) return;
        window_seen = modal->objectName();
        QTest::keyClick(modal, Qt::Key_Escape);
    });
    escape.start();
    w.ui().cmdUpload->click();
    EXPECT_EQ(window_seen, "frmCoolDown");
    EXPECT_EQ(w.status(), "status 2: User canceled device cool down.");
    EXPECT_EQ(std::count(w.library.calls.begin(), w.library.calls.end(), "request_upload_mode"), 0);
    EXPECT_EQ(w.library.opens, w.library.closes);
}
