// The main window, headless: its real controls are clicked and typed into.
#include "app/frmUpload.h"

#include "app/StatusPanel.h"
#include "app/TabStopDelegate.h"
#include "dialogs/HelpWindow.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QPointer>
#include <QScreen>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::ScriptedDeviceLibrary;

namespace {

const QDateTime kNoon(QDate(2024, 3, 9), QTime(12, 34, 56));

struct Rig {
    QTemporaryDir tmp;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    int ended = 0;
    QDateTime now = kNoon;
    std::unique_ptr<frmUpload> window;

    frmUpload& open(bool show = true) {
        frmUploadOptions options;
        options.program_dir = tmp.path();
        options.end_program = [this] { ++ended; };
        options.reporter = &reporter;
        options.clock = [this] { return now; };
        window = std::make_unique<frmUpload>(state, settings, library, options);
        if (show) window->show();
        return *window;
    }
    template <class W> W* control(const char* name) { return window->findChild<W*>(QString::fromLatin1(name)); }
    QString status_key() { return control<QLabel>("staMainIcon")->property("iconKey").toString(); }
    QString status_text() { return control<QLabel>("staMainText")->text(); }
};

// The captions of a menu's entries in order, a separator as "-".
QStringList entries(QMenu* menu) {
    QStringList out;
    for (QAction* a : menu->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

}  // namespace

TEST(MainWindow, InitialStateOfEveryControl) {
    Rig r;
    // A release in the program's directory must not be listed at start-up.
    QFile release(r.tmp.filePath("NEW.PJV"));
    ASSERT_TRUE(release.open(QIODevice::WriteOnly));
    release.write(QByteArray(64, 'A'));
    release.close();

    frmUpload& w = r.open();
    EXPECT_EQ(w.windowTitle(), "Operating System Uploader");
    EXPECT_EQ(r.control<QGroupBox>("Frame1")->title(), "Connected Device");

    struct Text { const char* name; QString text; };
    const Text labels[] = {
        {"Label1_0", "Model:"},
        {"Label1_1", "O/S Version:"},
        {"Label2", "Available Operating Systems"},
        {"lblModel", "Model" + QString(42, ' ') + "Available Versions"},
        {"lblVersion", "Version"},
        {"lblEmergencyMode", "Emergency Mode"},
    };
    for (const Text& l : labels) {
        auto* label = r.control<QLabel>(l.name);
        ASSERT_NE(label, nullptr) << l.name;
        EXPECT_EQ(label->text(), l.text) << l.name;
        EXPECT_EQ(label->isVisible(), QString(l.name) != "lblEmergencyMode") << l.name;
    }
    EXPECT_EQ(r.control<QLabel>("lblEmergencyMode")->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_FALSE(r.control<QLabel>("imgOrvelleLogo")->pixmap().isNull());

    struct Button { const char* name; QString caption; bool enabled; QVariant topic; };
    const Button buttons[] = {
        {"cmdSearch", "&Find Device", true, 9},
        {"cmdQueryStatus", "&Query Status", false, {}},
        {"cmdUpload", "Start &Upload", false, 11},
        {"cmdExit", "E&xit", true, {}},
    };
    for (const Button& b : buttons) {
        auto* button = r.control<QPushButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text(), b.caption) << b.name;
        EXPECT_EQ(button->isEnabled(), b.enabled) << b.name;
        EXPECT_TRUE(button->isVisible()) << b.name;
        EXPECT_EQ(button->property("helpTopic"), b.topic) << b.name;
    }
    EXPECT_TRUE(r.control<QPushButton>("cmdSearch")->isDefault());

    for (const char* box : {"txtProjector", "txtVersion"}) EXPECT_TRUE(r.control<QLineEdit>(box)->text().isEmpty());
    auto* list = r.control<QListWidget>("lstVersions");
    EXPECT_EQ(list->count(), 0);
    EXPECT_EQ(list->font().families().value(0), "Arial");
    auto* delegate = qobject_cast<TabStopDelegate*>(list->itemDelegate());
    ASSERT_NE(delegate, nullptr);
    EXPECT_DOUBLE_EQ(delegate->tab_stop(), 32 * QFontMetricsF(list->font()).averageCharWidth());

    EXPECT_FALSE(w.emergency_mode());
    EXPECT_EQ(w.help_file(), r.tmp.path() + "/upload.hlp");
    EXPECT_TRUE(r.reporter.events.isEmpty());
    EXPECT_TRUE(r.library.calls.empty());  // the port stays closed at start-up
}

TEST(MainWindow, LoadWritesTheDefaultsBeforeTheWindowShows) {
    Rig r;
    r.open(false);
    EXPECT_EQ(r.settings.startup("Working Directory"), r.tmp.path());
    EXPECT_EQ(r.settings.startup("Port"), "COM1");
    EXPECT_EQ(r.settings.startup("Baud Rate"), "38400");
    EXPECT_EQ(r.state.working_directory, r.tmp.path());
    EXPECT_EQ(r.state.port_name, "COM1");
    EXPECT_EQ(r.state.baud_rate, 38400);
}

TEST(MainWindow, Menus) {
    Rig r;
    frmUpload& w = r.open();
    QStringList titles;
    for (QAction* a : w.menuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&File", "&Setup", "&Help"}));
    EXPECT_EQ(entries(r.control<QMenu>("mnuFile")), (QStringList{"-", "E&xit"}));
    EXPECT_EQ(entries(r.control<QMenu>("mnuSetup")),
              (QStringList{"&COM Port", "-", "Working &Directory", "-", "&Emergency Mode"}));
    EXPECT_EQ(entries(r.control<QMenu>("mnuHelp")), (QStringList{"&Contents", "-", "&About"}));
    for (const char* name : {"mnuExit", "mnuComPort", "mnuWorkingDirectory", "mnuEmergencyMode", "mnuHelpContents",
                             "mnuHelpAbout"})
        EXPECT_NE(r.control<QAction>(name), nullptr) << name;
    QAction* emergency = r.control<QAction>("mnuEmergencyMode");
    EXPECT_TRUE(emergency->isCheckable());
    emergency->trigger();
    EXPECT_TRUE(w.emergency_mode());  // the flag is the check mark
}

TEST(MainWindow, StatusBarPanels) {
    Rig r;
    frmUpload& w = r.open();
    QLabel* date = r.control<QLabel>("staMainDate");
    QLabel* time = r.control<QLabel>("staMainTime");
    for (const char* panel : {"staMainIcon", "staMainText", "staMainDate", "staMainTime"})
        EXPECT_TRUE(r.control<QLabel>(panel)->isVisible()) << panel;
    EXPECT_EQ(date->text(), QLocale().toString(kNoon.date(), QLocale::ShortFormat));
    EXPECT_EQ(time->text(), QLocale().toString(kNoon.time(), QLocale::ShortFormat));
    EXPECT_GE(date->width(), 118);
    EXPECT_GE(time->width(), 118);

    // The clock keeps ticking by itself.
    r.now = QDateTime(QDate(2024, 3, 10), QTime(8, 5, 0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return time->text() == QLocale().toString(r.now.time(), QLocale::ShortFormat); },
                                3000));
    EXPECT_EQ(date->text(), QLocale().toString(r.now.date(), QLocale::ShortFormat));
    (void)w;
}

TEST(MainWindow, ShowStatus) {
    struct Case { int icon; QString key; };
    const Case lights[] = {{1, "GREEN_LIGHT"}, {2, "YELLOW_LIGHT"}, {3, "RED_LIGHT"}};
    Rig r;
    frmUpload& w = r.open();
    for (const Case& c : lights) {
        w.show_status(c.icon, "Message " + QString::number(c.icon));
        EXPECT_EQ(r.status_key(), c.key);
        EXPECT_EQ(r.status_text(), "Message " + QString::number(c.icon));
        EXPECT_FALSE(r.control<QLabel>("staMainIcon")->pixmap().isNull());
    }
    EXPECT_TRUE(r.reporter.events.isEmpty());
    for (const int bad : {0, 4, -1}) {
        r.reporter.events.clear();
        w.show_status(bad, "ignored");
        EXPECT_EQ(r.reporter.events, QStringList{"box: Unable to display status message."}) << bad;
        EXPECT_EQ(r.status_key(), "RED_LIGHT");
        EXPECT_EQ(r.status_text(), "Message 3");
    }
}

TEST(MainWindow, DeviceBoxesIgnoreTyping) {
    Rig r;
    r.open();
    QApplication::clipboard()->setText("PASTED");
    for (const char* name : {"txtProjector", "txtVersion"}) {
        SCOPED_TRACE(name);
        auto* box = r.control<QLineEdit>(name);
        box->setText("XP-100");  // the system itself still writes the box
        box->setFocus();
        box->end(false);
        QTest::keyClicks(box, "abc 123");
        QTest::keyClick(box, Qt::Key_Backspace);
        QTest::keyClick(box, Qt::Key_Home);
        QTest::keyClick(box, Qt::Key_Delete);
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_X, Qt::ControlModifier);
        QTest::keyClick(box, Qt::Key_H, Qt::ControlModifier);  // a control character
        EXPECT_EQ(box->text(), "XP-100");
    }
}

TEST(MainWindow, ExitButtonClosesThePortAndEnds) {
    for (const std::int32_t result : {kOk, kInvalidHandle}) {
        Rig r;
        r.open();
        r.state.serial_handle = 57;
        r.library.close_results = {result};
        QTest::mouseClick(r.control<QPushButton>("cmdExit"), Qt::LeftButton);
        EXPECT_EQ(r.library.calls, std::vector<std::string>{"close 57"});
        EXPECT_EQ(r.ended, 1);
        EXPECT_TRUE(r.reporter.events.isEmpty());  // the result is ignored
    }
}

TEST(MainWindow, MenuExitAndCloseBoxEndWithoutClosingThePort) {
    for (const bool close_box : {false, true}) {
        SCOPED_TRACE(close_box ? "close box" : "mnuExit");
        Rig r;
        r.open();
        r.state.serial_handle = 57;
        if (close_box) r.window->close();
        else r.control<QAction>("mnuExit")->trigger();
        EXPECT_TRUE(r.library.calls.empty());
        EXPECT_EQ(r.ended, 1);
    }
}

TEST(MainWindow, ComPortMenuOpensTheDialogModally) {
    Rig r;
    r.open();
    QString title;
    bool modal = false;
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        title = dialog->windowTitle();
        modal = dialog->isModal();
    });
    // Choose COM3 and 19200 in the dialog, then OK.
    QTimer::singleShot(0, [&] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (!dialog) return;
        for (const char* name : {"optCom2", "optBaudRate1", "cmdSelect"})
            QTest::mouseClick(dialog->findChild<QAbstractButton*>(name), Qt::LeftButton);
    });
    r.control<QAction>("mnuComPort")->trigger();
    // trigger() returns only after the dialog has closed.
    EXPECT_EQ(title, "Select Serial Port");
    EXPECT_TRUE(modal);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(r.state.port_name, "COM3");
    EXPECT_EQ(r.state.baud_rate, 19200);
    EXPECT_EQ(r.settings.startup("Port"), "COM3");
    EXPECT_EQ(r.settings.startup("Baud Rate"), "19200");
}

TEST(MainWindow, ReleaseListTabsFormAColumn) {
    Rig r;
    r.open();
    auto* list = r.control<QListWidget>("lstVersions");
    list->addItem("a\tX");
    list->addItem("MMMMMMMMMM\tX");
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const auto delegate = qobject_cast<TabStopDelegate*>(list->itemDelegate());
    // The rightmost dark pixel of each line: the end of its "X".
    auto right_edge = [&](int row) {
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        int edge = -1;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (qGray(image.pixel(x, y)) < 128) edge = std::max(edge, x);
        return edge;
    };
    const int first = right_edge(0), second = right_edge(1);
    EXPECT_GT(first, delegate->tab_stop());  // the X stands past the tab stop
    EXPECT_EQ(first, second);                // at the same column on both lines
}

TEST(MainWindow, LongStatusLinesKeepTheWindowsSize) {
    Rig r;
    frmUpload& w = r.open();
    QApplication::processEvents();
    const QSize before = w.size();
    const QString texts[] = {
        "There was an error uploading the operating system to the device.",
        "Unexpected status code from device. (1) 0 " + QString(200, 'x'),
        "Done.",
    };
    auto* panel = r.control<StatusMessageLabel>("staMainText");
    ASSERT_NE(panel, nullptr);
    for (const QString& text : texts) {
        w.show_status(3, text);
        QApplication::processEvents();
        EXPECT_EQ(w.size(), before) << text.toStdString();
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

TEST(MainWindow, AboutAndHelpStandInTheMiddleOfTheScreenAndEscapeClosesThem) {
    Rig r;
    frmUpload& w = r.open();
    w.move(0, 0);  // the main window away from the middle
    const QPoint middle = w.screen()->geometry().center();

    QPoint about_centre;
    QTimer::singleShot(0, [&] {
        QWidget* about = QApplication::activeModalWidget();
        if (!about) return;
        about_centre = about->frameGeometry().center();
        QTest::keyClick(about, Qt::Key_Escape);
    });
    r.control<QAction>("mnuHelpAbout")->trigger();
    EXPECT_LE((about_centre - middle).manhattanLength(), 2) << about_centre.x() << "," << about_centre.y();

    r.control<QAction>("mnuHelpContents")->trigger();
    QPointer<HelpWindow> help = &help_window_for(&w);
    ASSERT_TRUE(help->isVisible());
    EXPECT_LE((help->frameGeometry().center() - middle).manhattanLength(), 2)
        << help->frameGeometry().x() << "," << help->frameGeometry().y() << " " << help->width() << "x"
        << help->height() << " middle " << middle.x() << "," << middle.y() << " screen " << w.screen()->geometry().width() << "x" << w.screen()->geometry().height();
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : help.data(), Qt::Key_Escape);
    EXPECT_TRUE(help.isNull() || !help->isVisible());
}

TEST(MainWindow, ColumnHeadingsStandOverTheirColumns) {
    Rig r;
    frmUpload& w = r.open();
    auto* list = r.control<QListWidget>("lstVersions");
    list->addItem("Release\t01.05");
    QApplication::processEvents();
    const QImage image = list->viewport()->grab().toImage();
    const auto* delegate = qobject_cast<TabStopDelegate*>(list->itemDelegate());
    const QRect row = list->visualRect(list->model()->index(0, 0));
    // The leftmost dark pixel of the line at or after x: where a column's text begins.
    auto first_dark_from = [&](int from) {
        for (int x = from; x < image.width(); ++x)
            for (int y = row.top(); y <= row.bottom(); ++y)
                if (qGray(image.pixel(x, y)) < 128) return x;
        return -1;
    };
    const int name_x = first_dark_from(0);
    const int version_x = first_dark_from(int(delegate->text_left(*list) - list->viewport()->x() + delegate->tab_stop()) - 1);
    ASSERT_GE(name_x, 0);
    ASSERT_GT(version_x, name_x);
    auto in_window = [&](QWidget* widget, int x) { return widget->mapTo(&w, QPoint(x, 0)).x(); };
    // Each heading's text begins within a pixel or two of its column's text.
    for (const auto& [heading, column_x] : {std::pair{"lblModel", name_x}, std::pair{"lblVersion", version_x}}) {
        auto* label = r.control<QLabel>(heading);
        const QImage text = label->grab().toImage();
        int label_x = -1;
        for (int x = 0; x < text.width() && label_x < 0; ++x)
            for (int y = 0; y < text.height(); ++y)
                if (qGray(text.pixel(x, y)) < 128) {
                    label_x = x;
                    break;
                }
        ASSERT_GE(label_x, 0) << heading;
        EXPECT_NEAR(in_window(label, label_x), in_window(list->viewport(), column_x), 2) << heading;
    }
}
