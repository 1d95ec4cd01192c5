// "Start &Upload" from the button to the status line: the order of the device steps, the
// questions, the status lines and the port closes of every road, against a scripted library.

#include "upload/UploadCommand.h"

#include "tests/support/ScriptedDeviceLibrary.h"

#include <gtest/gtest.h>

using namespace halvern;
using namespace halvern::test;

namespace {

using Step = ScriptedDeviceLibrary::Step;

const QString kConfirm = "question[Confirm operating system upload]: Are you sure you want to upload version 01.23 to "
                         "the Orvelle device selected?";
const QString kPowerOff =
    "question[]: Device must be powered off to enter upload mode.  Is it ok to turn device off?";

Step on() { return ScriptedDeviceLibrary::status(kOn); }
Step standby() { return ScriptedDeviceLibrary::status(kStandby); }
Step cooling() { return ScriptedDeviceLibrary::status(kCoolingDown); }
Step failing(std::int32_t result) { return Step{result, {}}; }

// Unless a road says otherwise, the device is in standby and takes upload mode.
struct Road {
    const char* what;
    bool emergency = false;
    std::vector<bool> answers = {};
    std::vector<Step> status = {standby(), standby(), standby()}, standby_mode = {}, upload_mode = {on()};
    std::vector<std::int32_t> opens = {};
    bool cancel_cool_down = false;
    bool release_readable = true;
    bool check = false;          // the command is given the whole-release check
    bool check_passes = true;
    bool uploaded = true;
    std::vector<std::string> calls = {};
    QStringList events = {};
    Outcome outcome = Outcome::Uploaded;
};

// The command's own steps are recorded among the library's calls.
struct Rig : ConnectionRig {
    Outcome run(const Road& road) {
        state.port_name = "COM2";
        state.baud_rate = 9600;
        reporter.answers.assign(road.answers.begin(), road.answers.end());
        library.status_steps.assign(road.status.begin(), road.status.end());
        library.standby_steps.assign(road.standby_mode.begin(), road.standby_mode.end());
        library.upload_mode_steps.assign(road.upload_mode.begin(), road.upload_mode.end());
        library.open_results.assign(road.opens.begin(), road.opens.end());
        UploadSteps s;
        if (road.check)
            s.check_release = [&] {
                library.calls.push_back("check_release");
                return road.check_passes;
            };
        s.wait_for_cool_down = [&] {
            library.calls.push_back("cool-down window");
            state.cooldown_canceled = road.cancel_cool_down;
        };
        s.read_version_control_file = [&](VersionControlRecord& record) {
            library.calls.push_back("read_version_control_file");
            EXPECT_EQ(record.files[0].sequence, 0);  // zero-filled when the click starts
            return road.release_readable;
        };
        s.upload_version = [&](VersionControlRecord&) {
            library.calls.push_back("upload_version");
            view.set_progress_maximum(10);  // the driver opened the progress window
            return road.uploaded;
        };
        MessageChain chain(reporter);
        const Outcome outcome = UploadCommand(connection, chain, view, std::move(s)).run("Release X\t01.23", road.emergency);
        EXPECT_EQ(chain.messages.size(), reporter.events.size());  // every message is kept
        return outcome;
    }
};

using Calls = std::vector<std::string>;

Calls join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST(UploadCommand, EveryRoadInOrder) {
    const QString start = "status 1: Starting upload...";
    const Calls status_thrice = {"open COM2 9600 30000", "query_upload_status", "query_upload_status", "query_upload_status"};
    const Calls to_upload_mode = join({status_thrice, {"request_upload_mode"}});
    const Calls transfer = {"read_version_control_file", "close 100", "open COM2 38400 30000", "upload_version"};
    const Road roads[] = {
        // The whole release is checked before the confirmation and before any open.
        {.what = "standby at once: no prompt, no cool-down", .check = true,
         .calls = join({{"check_release"}, to_upload_mode, transfer, {"close 101"}}),
         .events = {kConfirm, start, "status 1: " + kUploadSuccess}},
        {.what = "on: power-off prompt, standby, cool-down window", .status = {on(), cooling(), standby()},
         .calls = join({{"open COM2 9600 30000", "query_upload_status", "request_standby_mode", "query_upload_status",
                         "cool-down window", "query_upload_status", "request_upload_mode"},
                        transfer, {"close 101"}}),
         .events = {kConfirm, start, kPowerOff, "status 1: " + kUploadSuccess}},
        {.what = "confirmation answered No", .answers = {false}, .calls = {}, .events = {kConfirm}, .outcome = Outcome::Declined},
        {.what = "first open fails", .opens = {kPortNotFound}, .calls = {"open COM2 9600 30000"},
         .events = {kConfirm, "status 3: Unable to connect to serial port."}, .outcome = Outcome::PortNotOpened},
        {.what = "first status call fails", .status = {failing(kTimeout)},
         .calls = {"open COM2 9600 30000", "query_upload_status", "close 100"},
         .events = {kConfirm, start, "status 3: Unable to get device status."}, .outcome = Outcome::NoStatus},
        {.what = "power-off answered No", .answers = {true, false}, .status = {on()},
         .calls = {"open COM2 9600 30000", "query_upload_status", "close 100"}, .events = {kConfirm, start, kPowerOff}, .outcome = Outcome::Declined},
        {.what = "standby refused", .status = {on()}, .standby_mode = {failing(kTimeout)},
         .calls = {"open COM2 9600 30000", "query_upload_status", "request_standby_mode", "close 100"},
         .events = {kConfirm, start, kPowerOff, "status 3: Unable to turn device off."}, .outcome = Outcome::StandbyRefused},
        {.what = "cool-down cancelled", .status = {cooling(), cooling()}, .cancel_cool_down = true,
         .calls = {"open COM2 9600 30000", "query_upload_status", "query_upload_status", "cool-down window", "close 100"},
         .events = {kConfirm, start, "status 2: User canceled device cool down."}, .outcome = Outcome::CoolDownCancelled},
        {.what = "still on after the cool-down", .status = {standby(), standby(), on()},
         .calls = join({status_thrice, {"close 100"}}),
         .events = {kConfirm, start, "status 3: Unexpected status code from device. (1) 0"}, .outcome = Outcome::UnexpectedStatus},
        {.what = "third status call fails with its result", .status = {standby(), standby(), Step{kTimeout, cooling().fill}},
         .calls = join({status_thrice, {"close 100"}}),
         .events = {kConfirm, start, "status 3: Unexpected status code from device. (1) 1460"}, .outcome = Outcome::UnexpectedStatus},
        {.what = "upload mode not confirmed", .upload_mode = {standby()}, .calls = join({to_upload_mode, {"close 100"}}),
         .events = {kConfirm, start, "status 3: Unable to set device to upload mode."}, .outcome = Outcome::UploadModeRefused},
        {.what = "upload-mode call fails but the status byte reads 1", .upload_mode = {Step{kTimeout, on().fill}},
         .calls = join({to_upload_mode, transfer, {"close 101"}}), .events = {kConfirm, start, "status 1: " + kUploadSuccess}},
        {.what = "release not readable", .release_readable = false,
         .calls = join({to_upload_mode, {"read_version_control_file", "close 100"}}),
         .events = {kConfirm, start, "status 3: Unable to read select version control file."}, .outcome = Outcome::ReleaseRejected},
        {.what = "reopen at 38400 fails", .opens = {kOk, kAccessDenied},
         .calls = join({to_upload_mode, {"read_version_control_file", "close 100", "open COM2 38400 30000"}}),
         .events = {kConfirm, start, "status 3: Unable to set baud rate to 38.4 kbps"}, .outcome = Outcome::PortNotOpened},
        {.what = "transfer fails", .uploaded = false, .calls = join({to_upload_mode, transfer, {"close 101"}}),
         .events = {kConfirm, start, "status 3: " + kUploadFailure}, .outcome = Outcome::TransferFailed},
        {.what = "emergency: straight to the transfer at 38400", .emergency = true, .check = true,
         .calls = {"check_release", "open COM2 38400 30000", "upload_version", "close 100"},
         .events = {"status 1: " + kUploadSuccess}},
        {.what = "emergency: open fails", .emergency = true, .opens = {kPortNotFound},
         .calls = {"open COM2 38400 30000"}, .events = {"status 3: Unable to set baud rate to 38.4 kbps"}, .outcome = Outcome::PortNotOpened},
        // A failed emergency transfer never leaves an earlier success line standing.
        {.what = "emergency: transfer fails", .emergency = true, .uploaded = false,
         .calls = {"open COM2 38400 30000", "upload_version", "close 100"}, .events = {"status 3: " + kUploadFailure}, .outcome = Outcome::TransferFailed},
        // A release that fails its check never reaches the port.
        {.what = "release fails its check", .check = true, .check_passes = false, .calls = {"check_release"},
         .events = {"status 3: Unable to read select version control file."}, .outcome = Outcome::ReleaseRejected},
        {.what = "emergency: release fails its check", .emergency = true, .check = true, .check_passes = false,
         .calls = {"check_release"}, .events = {"status 3: Unable to read select version control file."}, .outcome = Outcome::ReleaseRejected},
    };
    for (const Road& road : roads) {
        SCOPED_TRACE(road.what);
        Rig rig;
        EXPECT_EQ(rig.run(road), road.outcome);
        EXPECT_EQ(rig.library.calls, road.calls);
        EXPECT_EQ(rig.reporter.events, road.events);
        EXPECT_EQ(rig.library.opens, rig.library.closes);  // every open is closed
        EXPECT_FALSE(rig.view.loaded);                      // the progress window is gone
    }
}

TEST(UploadCommand, DeviceReplyIsClearedBeforeEachCall) {
    Rig rig;
    rig.state.device_reply.fill(0x77);
    std::vector<int> seen;
    auto peek = [&](std::uint8_t status) {
        return Step{kOk, [&, status](DeviceReply& r) {
                        seen.push_back(r[20]);
                        r[19] = status;
                        r[20] = 0x55;
                    }};
    };
    rig.run({.what = "", .status = {peek(kOn), peek(kStandby), peek(kStandby)}, .standby_mode = {peek(kStandby)},
             .upload_mode = {peek(kOn)}});
    EXPECT_EQ(seen, (std::vector<int>{0, 0, 0, 0, 0}));
}
