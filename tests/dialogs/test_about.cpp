// The About box and the help window, headless: the real buttons are clicked, the real help
// file is opened, and no program is ever started (lookup and launcher are fakes).
#include "dialogs/HelpWindow.h"
#include "dialogs/frmAbout.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/WindowDriver.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kHelpSource = QStringLiteral(HALVERN_HELP_SOURCE);

// A fake machine: the programs on its PATH, its registry values, and the programs started.
struct FakeMachine {
    std::map<QString, QString> on_path;                 // name -> full path
    std::map<QString, QString> registry;                // "KEY|VALUE" -> text
    bool launch_succeeds = true;
    QStringList launched;
    RecordingReporter reporter;

    frmAboutOptions options(bool with_reporter = true) {
        frmAboutOptions o;
        o.find_program = [this](const QString& name) {
            const auto it = on_path.find(name);
            return it == on_path.end() ? QString() : it->second;
        };
        o.launch = [this](const QString& program) {
            launched << program;
            return launch_succeeds;
        };
        o.get_key_value = [this](const QString& key, const QString& value) -> std::optional<QString> {
            const auto it = registry.find(key + QLatin1Char('|') + value);
            if (it == registry.end()) return std::nullopt;
            return it->second;
        };
        if (with_reporter) o.reporter = &reporter;
        return o;
    }
};

const QString kMsinfoKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO|PATH");
const QString kLocationKey = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location|MSINFO");

// Every anchor name of the document and every in-page link ("#name") it holds.
struct Anchors {
    QSet<QString> names;
    QSet<QString> links;
};
Anchors anchors_of(const QTextDocument& doc) {
    Anchors out;
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            for (const QString& n : f.anchorNames()) out.names.insert(n);
            if (f.anchorHref().startsWith(QLatin1Char('#'))) out.links.insert(f.anchorHref().mid(1));
        }
    return out;
}

}  // namespace

TEST(AboutBox, CaptionsAndTheKeysThatCloseIt) {
    FakeMachine m;
    frmAbout about(m.options());
    EXPECT_EQ(about.windowTitle(), "About Halvern!");
    EXPECT_TRUE(about.isModal());
    EXPECT_EQ(texts(about, {"lblTitle", "cmdOK", "cmdSysInfo"}),
              (QStringList{"Halvern!  v1.1", "&OK", "&System Info..."}));
    EXPECT_TRUE(control<QPushButton>(about, "cmdOK")->isDefault());
    EXPECT_FALSE(control<QLabel>(about, "picIcon")->pixmap().isNull());
    EXPECT_FALSE(control<QLabel>(about, "lblCopyright")->text().isEmpty());
    EXPECT_TRUE(control<QLabel>(about, "lblDisclaimer")->text().contains("unable to start"));

    for (const int key : {0, int(Qt::Key_Return), int(Qt::Key_Escape)}) {  // 0: "&OK" clicked
        about.show();
        ASSERT_TRUE(about.isVisible());
        if (key) QTest::keyClick(&about, Qt::Key(key));
        else click(about, "cmdOK");
        EXPECT_FALSE(about.isVisible()) << key;
    }
    EXPECT_TRUE(m.launched.isEmpty());
}

TEST(AboutBox, SystemInfoStartsTheFirstToolFoundOrSaysItIsUnavailable) {
    const QString box = "box: System Information Is Unavailable At This Time";
    const struct {
        const char* name;
        std::map<QString, QString> on_path;
        std::map<QString, QString> registry;
        bool launch_succeeds;
        QStringList launched;
        QStringList events;
    } cases[] = {
        {"nothing installed", {}, {}, true, {}, {box}},
        {"one tool on the PATH", {{"kinfocenter", "/usr/bin/kinfocenter"}}, {}, true, {"/usr/bin/kinfocenter"}, {}},
        {"the preferred of two",
         {{"lshw-gtk", "/usr/sbin/lshw-gtk"}, {"hardinfo", "/usr/bin/hardinfo"}}, {}, true, {"/usr/bin/hardinfo"}, {}},
        {"a tool that does not start", {{"hardinfo", "/usr/bin/hardinfo"}}, {}, false, {"/usr/bin/hardinfo"}, {box}},
        {"the registry before the PATH",
         {{"hardinfo", "/usr/bin/hardinfo"}}, {{kMsinfoKey, "C:\\Tools\\msinfo32.exe"}}, true,
         {"C:\\Tools\\msinfo32.exe"}, {}},
        {"an unrelated program is no tool", {{"xterm", "/usr/bin/xterm"}}, {}, true, {}, {box}},
    };
    for (const auto& c : cases) {
        FakeMachine m;
        m.on_path = c.on_path;
        m.registry = c.registry;
        m.launch_succeeds = c.launch_succeeds;
        frmAbout about(m.options());
        about.show();
        click(about, "cmdSysInfo");
        EXPECT_EQ(m.launched, c.launched) << c.name;
        EXPECT_EQ(m.reporter.events, c.events) << c.name;
        EXPECT_TRUE(about.isVisible()) << c.name;   // the box stays open either way
    }

    // On the screen the box has the program's title, no icon and "OK" only.
    FakeMachine m;
    frmAbout about(m.options(/*with_reporter=*/false));
    about.show();
    BoxAnswerer ok(QMessageBox::Ok);
    click(about, "cmdSysInfo");
    ASSERT_EQ(ok.seen.size(), 1u);
    EXPECT_EQ(ok.seen[0].title, "Halvern!");
    EXPECT_EQ(ok.seen[0].text, "System Information Is Unavailable At This Time");
    EXPECT_EQ(ok.seen[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(ok.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(AboutBox, RegistryRoad) {
    const struct {
        const char* name;
        std::map<QString, QString> registry;
        QSet<QString> files;
        QString expected;
    } cases[] = {
        {"no keys", {}, {}, ""},
        {"the PATH value", {{kMsinfoKey, "C:\\Tools\\MSINFO32.EXE"}}, {}, "C:\\Tools\\MSINFO32.EXE"},
        {"the location when the file is there", {{kLocationKey, "C:\\Shared\\MSINFO"}},
         {"C:\\Shared\\MSINFO\\MSINFO32.EXE"}, "C:\\Shared\\MSINFO\\MSINFO32.EXE"},
        {"the location without the file", {{kLocationKey, "C:\\Shared\\MSINFO"}}, {}, ""},
        {"an empty PATH value falls through", {{kMsinfoKey, ""}, {kLocationKey, "D:\\M"}}, {"D:\\M\\MSINFO32.EXE"},
         "D:\\M\\MSINFO32.EXE"},
        {"an empty location is no directory", {{kLocationKey, ""}}, {"\\MSINFO32.EXE"}, ""},
    };
    for (const auto& c : cases) {
        FakeMachine m;
        m.registry = c.registry;
        const auto exists = [&](const QString& f) { return c.files.contains(f); };
        EXPECT_EQ(registry_system_info_program(m.options().get_key_value, exists), c.expected) << c.name;
    }
    EXPECT_EQ(find_system_info_program(system_info_candidates(), {}), QString());
}

TEST(HelpFile, ShippedBesideTheProgramWithItsAnchorsAndWorkingLinks) {
    QFile source(kHelpSource), built(QStringLiteral(HALVERN_HELP_BUILT));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly)) << "the build copies upload.hlp beside the program";
    EXPECT_EQ(built.readAll(), source.readAll());

    QWidget owner;
    show_help(&owner, kHelpSource);
    const Anchors a = anchors_of(*help_window_for(&owner).browser()->document());
    for (const char* name : {"contents", "topic9", "topic11"}) EXPECT_TRUE(a.names.contains(name)) << name;
    EXPECT_GT(a.links.size(), 5);
    for (const QString& link : a.links) EXPECT_TRUE(a.names.contains(link)) << "broken link #" << link.toStdString();
}

TEST(HelpWindow, OpensTheTopicAnchorAndReusesTheWindow) {
    const struct { int topic; const char* anchor; } cases[] = {
        {9, "topic9"}, {11, "topic11"}, {0, "contents"}, {42, "contents"}, {-1, "contents"}};
    QWidget owner;
    HelpWindow* first = nullptr;
    for (const auto& c : cases) {
        show_help(&owner, kHelpSource, c.topic);
        HelpWindow& w = help_window_for(&owner);
        if (!first) first = &w;
        EXPECT_EQ(&w, first) << c.topic;
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.windowTitle(), "Halvern! Help");
        EXPECT_EQ(w.browser()->source().fragment(), c.anchor) << c.topic;
        EXPECT_TRUE(w.browser()->toPlainText().contains("Find Device"));
    }
    // The page scrolls to each topic: the contents at the top, the search below them and the
    // upload further down; going back to the contents scrolls back up.
    const auto scrolled_to = [&](int topic) {
        show_help(&owner, kHelpSource, topic);
        return help_window_for(&owner).browser()->verticalScrollBar()->value();
    };
    const int at_upload = scrolled_to(11), at_search = scrolled_to(9), at_contents = scrolled_to(0);
    EXPECT_LT(at_contents, 20);
    EXPECT_GT(at_search, at_contents + 100);
    EXPECT_GT(at_upload, at_search);
    // Closed, it is destroyed; the next call opens a new window.
    QPointer<HelpWindow> closed = &help_window_for(&owner);
    closed->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(closed.isNull());
    show_help(&owner, kHelpSource, 9);
    EXPECT_EQ(help_window_for(&owner).browser()->source().fragment(), "topic9");
}

TEST(HelpWindow, ReportsAFileItCannotShow) {
    QTemporaryDir tmp;
    const struct { const char* name; QString path; QString sentence; } cases[] = {
        {"missing", tmp.filePath("gone/upload.hlp"),
         "The help file " + tmp.filePath("gone/upload.hlp") + " could not be found."},
        {"a directory", tmp.path(), "The help file " + tmp.path() + " could not be read"},
        {"markup in the name shows as typed", tmp.filePath("<b>x</b>.hlp"),
         "The help file " + tmp.filePath("<b>x</b>.hlp") + " could not be found."},
        {"no path", "", "No help file has been set"},
    };
    QWidget owner;
    for (const auto& c : cases) {
        show_help(&owner, kHelpSource, 11);
        show_help(&owner, c.path, 11);
        const QString text = help_window_for(&owner).browser()->toPlainText();
        EXPECT_TRUE(text.startsWith(c.sentence)) << c.name << ": " << text.toStdString();
        EXPECT_FALSE(text.contains("Find Device")) << c.name;
        // The real file shows again afterwards.
        show_help(&owner, kHelpSource, 9);
        EXPECT_TRUE(help_window_for(&owner).browser()->toPlainText().contains("Find Device")) << c.name;
        EXPECT_EQ(help_window_for(&owner).browser()->source().fragment(), "topic9") << c.name;
    }
}

TEST(HelpKeyFilter, F1OpensTheTopicOfTheFocusedControl) {
    // Two buttons with topics, a box without, and a box inside a frame with a topic.
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* cmdSearch = new QPushButton("&Find Device");
    auto* cmdUpload = new QPushButton("Start &Upload");
    auto* txtProjector = new QLineEdit;
    auto* frame = new QWidget;
    auto* inner = new QLineEdit(frame);
    for (QWidget* w : std::initializer_list<QWidget*>{cmdSearch, cmdUpload, txtProjector, frame}) layout->addWidget(w);
    cmdSearch->setProperty("helpTopic", 9);
    cmdUpload->setProperty("helpTopic", 11);
    frame->setProperty("helpTopic", 9);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const struct { const char* name; QWidget* target; Qt::KeyboardModifiers mods; const char* anchor; } cases[] = {
        {"cmdUpload", cmdUpload, Qt::NoModifier, "topic11"},
        {"cmdSearch", cmdSearch, Qt::NoModifier, "topic9"},
        {"no topic anywhere", txtProjector, Qt::NoModifier, "contents"},
        {"topic of a parent", inner, Qt::NoModifier, "topic9"},
        {"Shift+F1 is not help", cmdUpload, Qt::ShiftModifier, nullptr},
    };
    // Installed on the application, as the main window does.
    for (const auto& c : cases) {
        QWidget owner;  // a fresh owner per case, so no earlier help window answers
        HelpKeyFilter filter(&owner, [] { return kHelpSource; });
        qApp->installEventFilter(&filter);
        c.target->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), c.target) << c.name;
        QTest::keyClick(c.target, Qt::Key_F1, c.mods);
        qApp->removeEventFilter(&filter);
        const QList<HelpWindow*> shown = owner.findChildren<HelpWindow*>();
        ASSERT_EQ(shown.size(), c.anchor ? 1 : 0) << c.name;
        for (HelpWindow* w : shown) EXPECT_EQ(w->browser()->source().fragment(), c.anchor) << c.name;
    }
}

TEST(HelpKeyFilter, F1InAModalDialogOpensAHelpWindowTheDialogDoesNotBlock) {
    QWidget main_window;
    HelpKeyFilter filter(&main_window, [] { return kHelpSource; });
    qApp->installEventFilter(&filter);
    FakeMachine m;
    frmAbout about(m.options(), &main_window);
    about.show();   // modal: every window but its own is blocked
    ASSERT_EQ(QApplication::activeModalWidget(), &about);
    QTest::keyClick(control<QPushButton>(about, "cmdOK"), Qt::Key_F1);
    qApp->removeEventFilter(&filter);
    HelpWindow* shown = about.findChild<HelpWindow*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->browser()->source().fragment(), "contents");
    EXPECT_EQ(main_window.findChild<HelpWindow*>(QString(), Qt::FindDirectChildrenOnly), nullptr);
    EXPECT_TRUE(about.isVisible());   // F1 does not close the box
}
