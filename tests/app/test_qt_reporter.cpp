// The reporter on real windows: the boxes it raises are found while modal and answered by
// clicking their buttons.
#include "app/QtReporter.h"

#include "tests/support/WindowDriver.h"

#include <QElapsedTimer>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::BoxAnswerer;

TEST(QtReporter, BoxesHaveNoIconTheTitleAndOnlyYesIsTrue) {
    QtReporter reporter;
    {
        BoxAnswerer ok(QMessageBox::Ok);
        reporter.message_box("Something failed.");
        reporter.message_box("Something failed.", "Own caption");
        ASSERT_EQ(ok.seen.size(), 2u);
        EXPECT_EQ(ok.seen[0].title + "|" + ok.seen[1].title, "Halvern!|Own caption");
        EXPECT_EQ(ok.seen[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(ok.seen[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    }
    for (const auto& [press, expected] : {std::pair{QMessageBox::Yes, true}, {QMessageBox::No, false},
                                          {QMessageBox::Escape, false}}) {
        BoxAnswerer answerer(press);
        EXPECT_EQ(reporter.question("Go on?"), expected);
        ASSERT_EQ(answerer.seen.size(), 1u);
        EXPECT_EQ(answerer.seen[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(answerer.seen[0].buttons, QMessageBox::Yes | QMessageBox::No);
    }
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
