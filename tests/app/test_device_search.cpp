// "&Find Device": decoding the identity block, and the search's roads.

#include "app/DeviceSearch.h"

#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

using namespace halvern;
using namespace halvern::test;

namespace {

DeviceReply identity(const char* model, std::size_t model_length, const char* version) {
    DeviceReply r{};
    std::memcpy(&r[19], model, model_length);
    std::memcpy(&r[35], version, 4);
    return r;
}

struct View : DeviceSearchView {
    QStringList log;
    void set_busy(bool busy) override { log << (busy ? "busy" : "idle"); }
    void clear_identity() override { log << "clear"; }
    void show_identity(const QString& m, const QString& v) override { log << "show " + m + " " + v; }
    void list_versions() override { log << "list"; }
};

}  // namespace

TEST(DeviceSearch, IdentityIsDecodedAsShown) {
    struct Case { const char* model; std::size_t length; const char* version; QString shown_model, shown_version; } cases[] = {
        {"PJ-9000   \0\0\0", 13, "0105", "PJ-9000", "01.05"},
        {"PJ\0-9\0000", 7, "1234", "PJ-90", "12.34"},  // zero bytes close up
        {"  X  ", 5, "AB12", "X", "AB.12"},               // not a number: unchanged
        {"M", 1, "0210", "M", "02.10"},
    };
    for (const Case& c : cases) {
        const DeviceReply r = identity(c.model, c.length, c.version);
        EXPECT_EQ(decode_model(r), c.shown_model);
        EXPECT_EQ(decode_version(r), c.shown_version);
    }
}

TEST(DeviceSearch, EveryRoadRestoresThePointerAndClosesWhatItOpened) {
    struct Case { std::int32_t open, info; QStringList view; QString status; int closes; } cases[] = {
        {kOk, kOk, {"busy", "clear", "show PJ 01.05", "list", "idle"}, "status 1: ", 1},
        {kOk, kTimeout, {"busy", "clear", "idle"}, "status 3: Unable to find any devices connect to this computer.", 1},
        {kPortNotFound, kOk, {"busy", "clear", "idle"}, "status 3: Unable to connect to serial port.", 0},
    };
    for (const Case& c : cases) {
        QTemporaryDir tmp;
        SettingsStore settings(tmp.filePath("s.ini"));
        AppState state;
        state.port_name = "COM1";
        state.baud_rate = 19200;
        ScriptedDeviceLibrary lib;
        RecordingReporter reporter;
        SerialConnection connection(lib, state, settings, reporter);
        lib.open_results = {c.open};
        lib.info_steps = {{c.info, [](DeviceReply& r) { r = identity("PJ", 2, "0105"); }}};
        View view;
        run_device_search(connection, reporter, view);
        EXPECT_EQ(view.log, c.view);
        EXPECT_EQ(reporter.events, (QStringList{"status 1: Searching for devices...", c.status}));
        EXPECT_EQ(lib.closes, c.closes);
        EXPECT_EQ(lib.calls.front(), "open COM1 19200 5000");
    }
}
