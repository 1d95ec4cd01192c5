// The About box and the help window, headless: the real buttons are clicked, the real help
// file is opened, and no program is ever started (lookup and launcher are fakes).
#include "dialogs/HelpWindow.h"
#include "dialogs/frmAbout.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/WindowDriver.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextBrowser>

#include <gtest/gtest.h>

#include <map>

using namespace halvern;
using namespace halvern::test;

namespace {

const QString kHelpSource = QStringLiteral(HALVERN_HELP_SOURCE);

// A fake machine: the programs on its PATH and the programs started.
struct FakeMachine {
    std::map<QString, QString> on_path;  // name -> full path
    bool launch_succeeds = true;
    QStringList launched;
    RecordingReporter reporter;

    frmAboutOptions options() {
        frmAboutOptions o;
        o.find_program = [this](const QString& name) { return on_path.count(name) ? on_path[name] : QString(); };
        o.launch = [this](const QString& program) {
            launched << program;
            return launch_succeeds;
        };
        o.reporter = &reporter;
        return o;
    }
};

}  // namespace

TEST(AboutBox, ShowsTheProgramsIconAndTheKeysCloseIt) {
    FakeMachine m;
    frmAbout about(m.options());
    EXPECT_EQ(about_title(), "Halvern!  v1.1");
    // The icon drawn for the program, from the resource every window takes it from.
    for (const int size : {16, 32, 256}) EXPECT_EQ(program_icon().actualSize(QSize(size, size)), QSize(size, size));
    EXPECT_EQ(control<QLabel>(about, "picIcon")->pixmap().toImage(), program_icon().pixmap(48, 48).toImage());
    for (const int key : {0, int(Qt::Key_Return), int(Qt::Key_Escape)}) {  // 0: "&OK" clicked
        about.show();
        if (key) QTest::keyClick(&about, Qt::Key(key));
        else click(about, "cmdOK");
        EXPECT_FALSE(about.isVisible()) << key;
    }
    EXPECT_TRUE(m.launched.isEmpty());
}

TEST(AboutBox, SystemInfoStartsTheFirstToolFoundOrSaysItIsUnavailable) {
    const QString box = "box: System Information Is Unavailable At This Time";
    const struct { const char* name; std::map<QString, QString> on_path; bool launch_succeeds; QStringList launched, events; } cases[] = {
        {"nothing installed", {}, true, {}, {box}},
        {"the preferred of two", {{"lshw-gtk", "/usr/sbin/lshw-gtk"}, {"hardinfo", "/usr/bin/hardinfo"}}, true,
         {"/usr/bin/hardinfo"}, {}},
        {"a tool that does not start", {{"hardinfo", "/usr/bin/hardinfo"}}, false, {"/usr/bin/hardinfo"}, {box}},
        {"an unrelated program is no tool", {{"xterm", "/usr/bin/xterm"}}, true, {}, {box}},
    };
    for (const auto& c : cases) {
        FakeMachine m;
        m.on_path = c.on_path;
        m.launch_succeeds = c.launch_succeeds;
        frmAbout about(m.options());
        about.show();
        click(about, "cmdSysInfo");
        EXPECT_EQ(m.launched, c.launched) << c.name;
        EXPECT_EQ(m.reporter.events, c.events) << c.name;
        EXPECT_TRUE(about.isVisible()) << c.name;  // the box stays open either way
    }
}

TEST(HelpFile, ShippedBesideTheProgramWithItsAnchorsAndWorkingLinks) {
    QFile source(kHelpSource), built(QStringLiteral(HALVERN_HELP_BUILT));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly)) << "the build copies upload.hlp beside the program";
    EXPECT_EQ(built.readAll(), source.readAll());

    QWidget owner;
    show_help(&owner, kHelpSource);
    QSet<QString> names, links;
    const QTextDocument& doc = *help_window_for(&owner).browser()->document();
    for (QTextBlock b = doc.begin(); b.isValid(); b = b.next())
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat f = it.fragment().charFormat();
            for (const QString& n : f.anchorNames()) names.insert(n);
            if (f.anchorHref().startsWith(QLatin1Char('#'))) links.insert(f.anchorHref().mid(1));
        }
    // Every topic a control or window names has its anchor.
    for (const int topic : {0, kHelpTopicSearch, kHelpTopicUpload, kHelpTopicComPort, kHelpTopicWorkingDirectory})
        EXPECT_TRUE(names.contains(help_anchor(topic))) << topic;
    EXPECT_GT(links.size(), 5);
    for (const QString& link : links) EXPECT_TRUE(names.contains(link)) << "broken link #" << link.toStdString();
}

TEST(HelpWindow, ScrollsToEachTopicInOneWindowAndReportsAFileItCannotShow) {
    QWidget owner;
    const auto scrolled_to = [&](int topic) {
        show_help(&owner, kHelpSource, topic);
        EXPECT_EQ(help_window_for(&owner).browser()->source().fragment(), help_anchor(topic));
        return help_window_for(&owner).browser()->verticalScrollBar()->value();
    };
    const int at_upload = scrolled_to(11), at_search = scrolled_to(9), at_contents = scrolled_to(42);
    EXPECT_EQ(help_anchor(42), "contents");
    EXPECT_LT(at_contents, 20);
    EXPECT_GT(at_search, at_contents + 100);
    EXPECT_GT(at_upload, at_search);
    EXPECT_EQ(owner.findChildren<HelpWindow*>().size(), 1);

    QTemporaryDir tmp;
    const QString missing = tmp.filePath("<b>x</b>.hlp");  // markup in the name shows as typed
    show_help(&owner, missing, 11);
    EXPECT_TRUE(help_window_for(&owner).browser()->toPlainText().startsWith("The help file " + missing + " could not be found."));
    show_help(&owner, kHelpSource, 9);  // the real file shows again afterwards
    EXPECT_TRUE(help_window_for(&owner).browser()->toPlainText().contains("Find Device"));
}

TEST(HelpKeyFilter, F1OpensTheTopicOfTheFocusedControl) {
    // A button with a topic, a box without.
    QWidget window;
    auto* cmdUpload = new QPushButton("Start &Upload", &window);
    auto* txtProjector = new QLineEdit(&window);
    cmdUpload->setProperty("helpTopic", 11);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const struct { const char* name; QWidget* target; Qt::KeyboardModifiers mods; const char* anchor; } cases[] = {
        {"a button's topic", cmdUpload, Qt::NoModifier, "topic11"},
        {"no topic anywhere", txtProjector, Qt::NoModifier, "contents"},
        {"Shift+F1 is not help", cmdUpload, Qt::ShiftModifier, nullptr},
    };
    for (const auto& c : cases) {
        QWidget owner;  // a fresh owner per case, so no earlier help window answers
        HelpKeyFilter filter(&owner, [] { return kHelpSource; });
        qApp->installEventFilter(&filter);  // as the main window does
        c.target->setFocus();
        QTest::keyClick(c.target, Qt::Key_F1, c.mods);
        qApp->removeEventFilter(&filter);
        const QList<HelpWindow*> shown = owner.findChildren<HelpWindow*>();
        ASSERT_EQ(shown.size(), c.anchor ? 1 : 0) << c.name;
        for (HelpWindow* w : shown) EXPECT_EQ(w->browser()->source().fragment(), c.anchor) << c.name;
    }
}
