// The reporter on real windows: the boxes it raises are found while modal and answered by
// clicking their buttons.
#include "app/QtReporter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using namespace halvern;

namespace {

struct SeenBox {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons;
};

// Runs show while a timer answers the first modal message box with the given button.
SeenBox answer_box(const std::function<void()>& show, QMessageBox::StandardButton press) {
    SeenBox seen;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
        if (press == QMessageBox::Escape) box->reject();
        else box->button(press)->click();
    });
    show();
    return seen;
}

}  // namespace

TEST(QtReporter, MessageBoxHasOkOnlyNoIconAndTheTitle) {
    QtReporter reporter;
    const std::pair<QString, QString> cases[] = {{QString(), "Halvern!"}, {"Own caption", "Own caption"}};
    for (const auto& [caption, title] : cases) {
        const SeenBox seen = answer_box([&] { reporter.message_box("Something failed.", caption); }, QMessageBox::Ok);
        EXPECT_EQ(seen.title, title);
        EXPECT_EQ(seen.text, "Something failed.");
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

TEST(QtReporter, QuestionIsYesNoAndOnlyYesIsTrue) {
    QtReporter reporter;
    const std::pair<QMessageBox::StandardButton, bool> cases[] = {
        {QMessageBox::Yes, true}, {QMessageBox::No, false}, {QMessageBox::Escape, false}};
    for (const auto& [press, expected] : cases) {
        bool answer = !expected;
        const SeenBox seen = answer_box([&] { answer = reporter.question("Go on?"); }, press);
        EXPECT_EQ(answer, expected);
        EXPECT_EQ(seen.title, "Halvern!");
        EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
        EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);
    }
}

TEST(QtReporter, StatusGoesToTheWindowAndYieldRunsPendingEvents) {
    QStringList lines;
    QtReporter reporter(nullptr, [&](int icon, const QString& text) { lines << QString::number(icon) + " " + text; });
    reporter.show_status(3, "Failed.");
    EXPECT_EQ(lines, QStringList{"3 Failed."});

    bool ran = false;
    QMetaObject::invokeMethod(qApp, [&] { ran = true; }, Qt::QueuedConnection);
    reporter.yield();
    EXPECT_TRUE(ran);

    QtReporter silent;  // without a window the status line is dropped, not a crash
    silent.show_status(1, "x");
}

TEST(QtReporter, PauseLastsItsTimeAndTheWindowAnswersMeanwhile) {
    // A click during the pause is handled during the pause, and the pause still runs to
    // its end.
    QtReporter reporter;
    QPushButton button(QStringLiteral("Cancel"));
    button.show();
    int clicks = 0;
    QElapsedTimer clock;
    qint64 clicked_at = -1;
    QObject::connect(&button, &QPushButton::clicked, [&] {
        ++clicks;
        clicked_at = clock.elapsed();
    });
    QTimer::singleShot(50, [&] { QTest::mouseClick(&button, Qt::LeftButton); });
    clock.start();
    reporter.pause(400);
    const qint64 took = clock.elapsed();
    EXPECT_EQ(clicks, 1);
    EXPECT_LT(clicked_at, 400);
    EXPECT_GE(took, 400);

    reporter.pause(0);  // nothing to wait for
    reporter.pause(-5);
}
