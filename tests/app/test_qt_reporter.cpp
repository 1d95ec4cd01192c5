// The reporter on real windows: the boxes it raises are found while modal and answered by
// clicking their buttons.
#include "app/QtReporter.h"

#include "tests/support/WindowDriver.h"

#include <QElapsedTimer>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::BoxAnswerer;

TEST(QtReporter, MessageBoxHasOkOnlyNoIconAndTheTitle) {
    QtReporter reporter;
    for (const auto& [caption, title] : {std::pair{QString(), QString("Halvern!")}, {"Own caption", "Own caption"}}) {
        BoxAnswerer ok(QMessageBox::Ok);
        reporter.message_box("Something failed.", caption);
        ASSERT_EQ(ok.seen.size(), 1u);
        EXPECT_EQ(ok.seen[0].title, title);
        EXPECT_EQ(ok.seen[0].text, "Something failed.");
        EXPECT_EQ(ok.seen[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(ok.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
}

TEST(QtReporter, QuestionIsYesNoAndOnlyYesIsTrue) {
    QtReporter reporter;
    for (const auto& [press, expected] : {std::pair{QMessageBox::Yes, true}, {QMessageBox::No, false},
                                          {QMessageBox::Escape, false}}) {
        BoxAnswerer answerer(press);
        EXPECT_EQ(reporter.question("Go on?"), expected);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].title, "Halvern!");
        EXPECT_EQ(answerer.seen[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(answerer.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
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
    QtReporter reporter;
    QPushButton button(QStringLiteral("Cancel"));
    button.show();
    QElapsedTimer clock;
    std::vector<qint64> clicked_at;
    QObject::connect(&button, &QPushButton::clicked, [&] { clicked_at.push_back(clock.elapsed()); });
    QTimer::singleShot(50, [&] { QTest::mouseClick(&button, Qt::LeftButton); });
    clock.start();
    reporter.pause(400);
    EXPECT_GE(clock.elapsed(), 400);
    ASSERT_EQ(clicked_at.size(), 1u);
    EXPECT_LT(clicked_at[0], 400);  // handled during the pause, which still ran to its end

    reporter.pause(0);  // nothing to wait for
    reporter.pause(-5);
}
