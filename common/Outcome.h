#pragma once
// What a command of the Upload module came to, as a value: the outcome and the messages it
// showed on its way (boxes innermost first, questions with their answers, status lines). The
// faces only render it: the main window's status light, the exit status and the report of
// halvern-upload all follow from the outcome, never from a message's words.

#include <QString>

#include <optional>
#include <vector>

namespace halvern {

// The exit statuses of halvern-upload.
enum ExitStatus : int {
    kExitOk = 0,                 // uploaded and confirmed (with --verify: back on the release's version),
                                 // or already on the release (--skip-current); --find, --status, --list done
    kExitInternal = 1,           // the tool itself could not start
    kExitBadArguments = 2,       // bad arguments, a release file that is missing or not valid
    kExitPortNotOpened = 3,      // the port did not open (at the configured rate or at 38400)
    kExitDeviceFailed = 4,       // the device did not answer or refused a step
    kExitCoolDownCancelled = 5,  // the cool-down wait was cancelled
    kExitTransferFailed = 6,     // the transfer failed (or was stopped on request)
    kExitDeclined = 7,           // a question was answered No: nothing was uploaded
    kExitFleetIncomplete = 8,    // several ports: not every projector confirmed its upload
    kExitStopped = 9,            // stopped on request before upload mode: the projector was left as it was
    kExitReportFailed = 10,      // the --report file could not be opened, written or flushed
    kExitNotVerified = 11,       // --verify: uploaded, but the projector did not come back on the release's version
};

enum class Outcome {
    Uploaded,           // the projector confirmed the whole release
    DeviceFound,        // "&Find Device" read the model and version
    StatusRead,         // "&Query Status" read the power state
    ReleaseRejected,    // the release failed its check or could not be read
    PortNotOpened,      // at the configured rate, or again at 38400
    NoDevice,           // nothing answered the identity request
    NoStatus,           // the status call failed
    StandbyRefused,     // the power-off request failed
    UnexpectedStatus,   // a status byte the step does not allow
    UploadModeRefused,  // the device did not enter upload mode
    CoolDownCancelled,
    TransferFailed,
    Declined,           // a question was answered No; no status line of its own
    Stopped,            // stopped on request (Ctrl-C, SIGTERM) before the projector entered upload mode
    Current,            // already on the release's version: left alone, never switched off
    Verified,           // uploaded, restarted, and came back on the release's version
    WrongVersion,       // uploaded, restarted, and came back on another version
    NoRestart,          // uploaded, but did not come back in time (or the wait for it was stopped)
};

constexpr int exit_status(Outcome outcome) {
    switch (outcome) {
    case Outcome::Uploaded:
    case Outcome::DeviceFound:
    case Outcome::StatusRead:
    case Outcome::Current:
    case Outcome::Verified: return kExitOk;
    case Outcome::ReleaseRejected: return kExitBadArguments;
    case Outcome::PortNotOpened: return kExitPortNotOpened;
    case Outcome::NoDevice:
    case Outcome::NoStatus:
    case Outcome::StandbyRefused:
    case Outcome::UnexpectedStatus:
    case Outcome::UploadModeRefused: return kExitDeviceFailed;
    case Outcome::CoolDownCancelled: return kExitCoolDownCancelled;
    case Outcome::TransferFailed: return kExitTransferFailed;
    case Outcome::Declined: return kExitDeclined;
    case Outcome::Stopped: return kExitStopped;
    case Outcome::WrongVersion:
    case Outcome::NoRestart: return kExitNotVerified;
    }
    return kExitInternal;
}

// The status light the ending shows: 1 green (success), 2 yellow (cancelled), 3 red
// (failure); 0 for an ending without a status line of its own.
constexpr int status_icon(Outcome outcome) {
    switch (exit_status(outcome)) {
    case kExitOk: return 1;
    case kExitCoolDownCancelled:
    case kExitStopped: return 2;
    case kExitDeclined: return 0;
    default: return 3;
    }
}

// One thing a person was shown.
struct Message {
    enum Kind { Box, Question, Status } kind = Box;
    QString text;
    int icon = 0;      // of a status line
    bool yes = false;  // of a question: answered Yes
};

struct RoadResult {
    Outcome outcome = Outcome::Declined;
    std::vector<Message> messages;  // in the order shown

    // The last status line; none when nothing set one.
    std::optional<Message> status_line() const {
        for (auto it = messages.rbegin(); it != messages.rend(); ++it)
            if (it->kind == Message::Status) return *it;
        return std::nullopt;
    }
};

}  // namespace halvern
