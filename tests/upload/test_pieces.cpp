// The cool-down wait and its window, the status query and the progress marks.

#include "upload/CoolDown.h"
#include "upload/StatusQuery.h"
#include "upload/frmCoolDown.h"
#include "upload/frmUploadProgress.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

using Step = ScriptedDeviceLibrary::Step;

Step cooling(int bcd20, int bcd21) { return ScriptedDeviceLibrary::status(kCoolingDown, kOk, bcd20, bcd21); }

}  // namespace

TEST(CoolDown, RemainingTimeAndItsDisplay) {
    struct Bcd { std::uint8_t b20, b21; std::int32_t seconds; } bcd[] = {
        {0x01, 0x80, 180}, {0x00, 0x00, 0}, {0x99, 0x99, 9999}, {0x00, 0x1A, 110},  // a nibble of 10 adds two digits
    };
    for (const Bcd& c : bcd) {
        DeviceReply r{};
        r[20] = c.b20;
        r[21] = c.b21;
        EXPECT_EQ(remaining_seconds(r), c.seconds) << int(c.b20) << " " << int(c.b21);
    }
    struct Time { std::int32_t seconds; const char* minutes; const char* rest; } times[] = {
        {125, "2", "5"}, {59, "0", "59"}, {60, "1", "0"}, {0, "0", "0"}, {-125, "-2", "-5"},
    };
    for (const Time& t : times) {
        CoolDownDisplay d;
        update_time(d, t.seconds);
        EXPECT_EQ(d.minutes, t.minutes) << t.seconds;
        EXPECT_EQ(d.seconds, t.rest) << t.seconds;
    }
}

TEST(CoolDown, BarStaysInsideItsRange) {
    // The first reading sets the bar's range (100 when it failed); a later reading above it stays inside.
    struct Case { std::vector<Step> steps; int maximum, value; QStringList boxes; } cases[] = {
        {{cooling(0x00, 0x00), cooling(0x00, 0x30)}, 1, 0, {}},
        {{Step{kTimeout, {}}, cooling(0x00, 0x30)}, 100, 70, {"Unable to query device status."}},
        {{cooling(0x00, 0x60), cooling(0x01, 0x20)}, 60, 0, {}},
        {{cooling(0x00, 0x60), cooling(0x00, 0x15)}, 60, 45, {}},
    };
    for (const Case& c : cases) {
        ScriptedDeviceLibrary lib;
        AppState state;
        RecordingReporter reporter;
        lib.status_steps.assign(c.steps.begin(), c.steps.end());
        CoolDownWait wait(lib, state, reporter);
        wait.load();
        EXPECT_EQ(wait.tick(), CoolDownWait::Tick::Cooling);
        EXPECT_EQ(wait.display().bar_maximum, c.maximum);
        EXPECT_EQ(wait.display().bar_value, c.value);
        EXPECT_EQ(reporter.boxes(), c.boxes);
    }
}

TEST(CoolDownWindow, ATickThatReadsStandbyClosesItEnterDoesNothingEscapeAndCancelGiveUp) {
    // The window opens right after the power-off question: a second Enter lands on Cancel.
    const struct { const char* what; std::vector<Qt::Key> keys; bool click; bool canceled; } cases[] = {
        {"Enter twice, then a tick reads standby", {Qt::Key_Return, Qt::Key_Enter}, false, false},
        {"Escape", {Qt::Key_Escape}, false, true},
        {"a click on Cancel", {}, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ScriptedDeviceLibrary lib;
        AppState state;
        RecordingReporter reporter;
        lib.status_steps = {cooling(0x01, 0x00), ScriptedDeviceLibrary::status(kStandby)};
        frmCoolDown window(lib, state, reporter);
        EXPECT_EQ(window.timer()->interval(), 5000);
        auto* cancel = window.findChild<QPushButton*>("cmdCancel");
        QTimer::singleShot(0, &window, [&] {
            cancel->setFocus();
            for (const Qt::Key key : c.keys) QTest::keyClick(cancel, key);
            if (c.click) QTest::mouseClick(cancel, Qt::LeftButton);
            if (window.isVisible()) window.timer()->start(1);  // the projector reports standby
        });
        EXPECT_EQ(window.exec(), c.canceled ? QDialog::Rejected : QDialog::Accepted);
        EXPECT_EQ(state.cooldown_canceled, c.canceled);
    }
}

TEST(StatusQuery, EachStateItsLineAndThePortClosed) {
    struct Case { std::int32_t open; Step step; QString line; int closes; } cases[] = {
        {kOk, ScriptedDeviceLibrary::status(kOn), "status 1: Device is on.", 1},
        {kOk, ScriptedDeviceLibrary::status(kCoolingDown), "status 1: Device is cooling down.", 1},
        {kOk, ScriptedDeviceLibrary::status(kStandby), "status 1: Device is in stand by mode.", 1},
        {kOk, ScriptedDeviceLibrary::status(3), "status 3: Unexpected status code from device (2) 0", 1},
        {kOk, Step{kTimeout, {}}, "status 3: Unable to query device status.", 1},
        {kPortNotFound, {}, "status 3: Unable to communicate with serial port.", 0},
    };
    for (const Case& c : cases) {
        ConnectionRig rig;
        rig.state.port_name = "COM2";
        rig.state.baud_rate = 9600;
        rig.library.open_results = {c.open};
        rig.library.status_steps = {c.step};
        query_device_status(rig.connection, rig.reporter);
        EXPECT_EQ(rig.reporter.events, QStringList{c.line});
        EXPECT_EQ(rig.library.closes, c.closes) << c.line.toStdString();
        EXPECT_EQ(rig.library.calls.front(), "open COM2 9600 5000");
    }
}

TEST(ProgressWindow, MarksFollowTheBarAndTheValueStaysInRange) {
    const std::array<float, 3> lefts = progress_mark_lefts(4695);
    EXPECT_FLOAT_EQ(lefts[0], 1173.75f);
    EXPECT_FLOAT_EQ(lefts[1], 2347.5f);
    EXPECT_FLOAT_EQ(lefts[2], 3521.25f);

    QWidget main_window;
    QtUploadView view(main_window);
    view.set_progress_maximum(1000);
    ASSERT_NE(view.window(), nullptr);
    for (long step : {600L, 600L}) advance_progress(view, step);
    EXPECT_FLOAT_EQ(view.progress_value(), 1000);
    view.close_progress();
    EXPECT_EQ(view.window(), nullptr);
}

TEST(ProgressWindow, MinimisingEitherWindowBringsBothBack) {
    // The window manager iconifies an owner with its transient window; without a taskbar
    // nothing would bring them back.
    for (const bool progress_first : {true, false}) {
        QWidget main_window;
        main_window.show();
        QtUploadView view(main_window);
        view.set_progress_maximum(10);
        view.show_progress();
        frmUploadProgress* progress = view.window();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(progress));
        (progress_first ? static_cast<QWidget*>(progress) : &main_window)->showMinimized();
        if (progress_first) main_window.showMinimized();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !progress->isMinimized() && !main_window.isMinimized(); }));
        progress->close();  // only the upload closes it
        EXPECT_TRUE(progress->isVisible() && main_window.isVisible());
    }
}
