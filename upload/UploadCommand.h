#pragma once
// "Start &Upload": one whole upload of the selected release. It first checks the whole release
// (nothing of a damaged release reaches the projector). In normal mode it then confirms,
// leads the projector from on through standby and cool-down into upload mode, reopens the
// line at 38400 baud and runs the upload driver; in emergency mode it opens at 38400 baud and
// runs the driver at once. The result goes to the status line; every path that opened the
// port closes it.

#include "common/Outcome.h"
#include "common/UploadView.h"
#include "device/SerialConnection.h"
#include "image/VersionControl.h"
#include "upload/MessageChain.h"

#include <QString>

#include <functional>

namespace halvern {

// What the command needs besides the connection: the cool-down window, the version control
// file of the selected release and the upload driver.
struct UploadSteps {
    // The whole check of the selected release (its version control file and every NAME.mot)
    // before the first exchange with the device; shows its own boxes. Empty: no check.
    std::function<bool()> check_release;
    // Shows the cool-down window modally; it sets state.cooldown_canceled.
    std::function<void()> wait_for_cool_down;
    // read_version_control_file of the selected release into the record.
    std::function<bool(VersionControlRecord&)> read_version_control_file;
    // upload_version with the record: true only when the whole release was transferred and closed.
    std::function<bool(VersionControlRecord&)> upload_version;
};

class UploadCommand {
public:
    // What the command shows goes through chain (and on to its face as it comes).
    UploadCommand(SerialConnection& connection, MessageChain& chain, UploadView& view, UploadSteps steps);

    // selected_line is the line of lstVersions the upload was started on (its last five
    // characters are the version); emergency is the check mark of "&Emergency Mode".
    Outcome run(const QString& selected_line, bool emergency);

private:
    Outcome run_normal(const QString& selected_line, VersionControlRecord& record);
    // At the transfer rate: every image of the release, then the line that says how it went.
    Outcome transfer(VersionControlRecord& record);
    // The status line of the outcome, close the port, end.
    Outcome stop(Outcome outcome, const QString& text);

    SerialConnection& connection_;
    AppState& state_;
    DeviceLibrary& library_;
    MessageChain& reporter_;
    UploadView& view_;
    UploadSteps steps_;
};

inline const QString kUploadSuccess = QStringLiteral("The operating system has been uploaded successfully!");
inline const QString kUnreadableRelease = QStringLiteral("Unable to read select version control file.");
inline const QString kUploadFailure = QStringLiteral("There was an error uploading the operating system to the device.");

}  // namespace halvern
