#pragma once
// The exit status of halvern-upload, read from how the command ended: the last status line
// (icon and text) and, for an upload, whether the projector confirmed the whole release.

#include <QString>

#include <optional>

namespace halvern::cli {

enum ExitCode : int {
    kExitOk = 0,                // uploaded and confirmed; --find, --status, --list done
    kExitInternal = 1,          // the tool itself could not start
    kExitBadArguments = 2,      // bad arguments, a release file that is missing or not valid
    kExitPortNotOpened = 3,     // the port did not open (at the configured rate or at 38400)
    kExitDeviceFailed = 4,      // the device did not answer or refused a step
    kExitCoolDownCancelled = 5, // Ctrl-C during the cool-down wait
    kExitTransferFailed = 6,    // the transfer failed (or was stopped on request)
    kExitDeclined = 7,          // a question was answered No: nothing was uploaded
    kExitFleetIncomplete = 8,   // several ports: not every projector confirmed its upload
};

struct StatusLine {
    int icon = 0;  // 1 progress and success, 2 cancelled, 3 failure
    QString text;
};

// Any command's failure line: the texts of the port, the device, the release file, the
// cool-down and the transfer; an unknown failure line counts as the device's refusal.
int failure_exit_code(const StatusLine& status);

// An upload: 0 only when it was confirmed. No status line, or a progress line left standing
// ("Starting upload..." after the power-off question), means a question was answered No.
int upload_exit_code(bool uploaded, const std::optional<StatusLine>& last);

// --find and --status: 0 when the last status line is not a failure.
int query_exit_code(const std::optional<StatusLine>& last);

}  // namespace halvern::cli
