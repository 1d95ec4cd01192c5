#pragma once
// One press of "Start &Upload" with everything it needs put together: the frame layer on the
// application's serial handle, the upload link, the driver and the command. The main window
// and the command-line uploader both start uploads through here.

#include "common/Outcome.h"
#include "common/Reporter.h"
#include "common/UploadView.h"
#include "device/SerialConnection.h"

#include <QString>

#include <functional>

namespace halvern {

struct UploadRequest {
    QString selected_line;      // the line of lstVersions the upload was started on
    QString version_file;       // the full path of that release's version control file
    QString working_directory;  // where its NAME.mot files are
    bool emergency = false;     // the check mark of "&Emergency Mode"
    // Shows the cool-down window modally; it sets cooldown_canceled.
    std::function<void()> wait_for_cool_down;
    // The pause before the first upload message; empty means one second asleep in the reporter's wait.
    std::function<void()> pause;
    // Told of every frame the frame layer sends again (FrameLayer::set_retry_observer).
    std::function<void(const QString& frame, int transmission)> retried;
};

// Runs the whole upload road, in normal or emergency mode. Its outcome is Uploaded only when
// the projector confirmed the whole release; the status line and the boxes before it are
// shown through reporter as they come and kept in the result.
RoadResult run_upload(SerialConnection& connection, Reporter& reporter, UploadView& view, const UploadRequest& request);

}  // namespace halvern
