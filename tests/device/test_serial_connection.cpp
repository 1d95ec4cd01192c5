// The serial connection against a scripted library: the "hndCom" mirror, close errors and
// Reset Port of a stored (possibly stale) handle.

#include "device/SerialConnection.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace halvern;
using halvern::test::RecordingReporter;
using halvern::test::ScriptedDeviceLibrary;

namespace {

struct Rig {
    QTemporaryDir tmp;
    SettingsStore settings{tmp.filePath("settings.ini")};
    AppState state;
    ScriptedDeviceLibrary library;
    RecordingReporter reporter;
    SerialConnection connection{library, state, settings, reporter};

    std::int32_t open() { return connection.open_serial_port(state.serial_handle, state.port_name, 19200, 5000); }
    QString stored() const { return settings.startup("hndCom", "<absent>"); }
};

}  // namespace

// Open passes its arguments on; only a handle that opened is kept and mirrored to "hndCom".
TEST(SerialConnection, OpenMirrorsTheHandleOnlyWhenItOpens) {
    for (std::int32_t result : {kOk, kPortNotFound}) {
        Rig r;
        r.state.port_name = "COM3";
        r.settings.set_startup("hndCom", "7");
        r.state.serial_handle = 7;
        r.library.next_handle = -42;
        r.library.open_results = {result};
        EXPECT_EQ(r.open(), result);
        EXPECT_EQ(r.library.calls, std::vector<std::string>{"open COM3 19200 5000"});
        EXPECT_EQ(r.state.serial_handle, result == kOk ? -42 : 7);
        EXPECT_EQ(r.stored(), result == kOk ? "-42" : "7");
        EXPECT_TRUE(r.reporter.events.isEmpty());  // a failure is the caller's to report
    }
    // Without a store (the command line) nothing is mirrored and Reset Port closes nothing.
    Rig r;
    SerialConnection storeless(r.library, r.state, r.reporter);
    EXPECT_EQ(storeless.open_serial_port(r.state.serial_handle, "COM1", 9600, 5000), kOk);
    storeless.reset_port();
    EXPECT_EQ(r.library.calls, std::vector<std::string>{"open COM1 9600 5000"});
    EXPECT_EQ(r.stored(), "<absent>");
}

TEST(SerialConnection, CloseUsesTheHandleAndReportsNonzeroResults) {
    struct Case { std::int32_t result; QStringList boxes; };
    const Case cases[] = {
        {kOk, {}},
        {kInvalidHandle, {"Error 6 closing serial port."}},
        {-1, {"Error -1 closing serial port."}},
    };
    for (const Case& c : cases) {
        Rig r;
        r.state.port_name = "COM1";
        ASSERT_EQ(r.open(), kOk);
        r.library.close_results = {c.result};
        r.connection.close_serial_port();
        EXPECT_EQ(r.library.calls.back(), "close 100");
        EXPECT_EQ(r.reporter.boxes(), c.boxes) << c.result;
        // The box carries the application title, i.e. no caption of its own.
        for (const QString& e : r.reporter.events) EXPECT_TRUE(e.startsWith("box: ")) << e.toStdString();
        EXPECT_EQ(r.state.serial_handle, 100);
        EXPECT_EQ(r.stored(), "100");
        // Reset Port later closes the same handle again, whatever became of it.
        r.library.close_results = {kOk};
        r.connection.reset_port();
        EXPECT_EQ(r.library.calls.back(), "close 100");
    }
}

TEST(SerialConnection, ResetPortClosesTheStoredHandle) {
    struct Case {
        const char* stored;  // nullptr: key absent
        std::int32_t result;
        std::vector<std::string> calls;
        QStringList boxes;
    };
    const Case cases[] = {
        {nullptr, kOk, {"close 0"}, {"Serial port has been reset."}},
        {"", kOk, {"close 0"}, {"Serial port has been reset."}},
        {"123", kOk, {"close 123"}, {"Serial port has been reset."}},
        {"-5", kOk, {"close -5"}, {"Serial port has been reset."}},
        {" 77 ", kOk, {"close 77"}, {"Serial port has been reset."}},
        {"123", kInvalidHandle, {"close 123"}, {}},  // failure is silent
        {"abc", kOk, {}, {}},                        // not a number: nothing closed, nothing shown
        {"99999999999", kOk, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "<absent>");
        Rig r;
        if (c.stored) r.settings.set_startup("hndCom", c.stored);
        r.state.serial_handle = 555;
        r.library.close_results = {c.result};
        r.connection.reset_port();
        EXPECT_EQ(r.library.calls, c.calls);
        EXPECT_EQ(r.reporter.boxes(), c.boxes);
        EXPECT_EQ(r.state.serial_handle, 555);  // the in-memory handle is neither used nor changed
    }
}
