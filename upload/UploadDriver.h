#pragma once
// upload_version: the upload proper, with the projector in upload mode and the line open at
// 38400 baud. Opens the upload, hands the device the version control file, learns the block
// message size from its reply, checks the release, sends every used file and closes the
// upload. Shows the hourglass while it works and the progress window from the first file on;
// the caller closes the window and the port.

#include "image/VersionControl.h"
#include "link/UploadLink.h"
#include "common/Reporter.h"
#include "common/UploadView.h"

#include <QString>

#include <functional>

namespace halvern {

// One second asleep in the reporter's event loop (or poll), which keeps the window responsive.
void pause_one_second(Reporter& reporter);

class UploadDriver {
public:
    // pause is the wait before the first message; empty means pause_one_second.
    UploadDriver(UploadLink& link, Reporter& reporter, UploadView& view, std::function<void()> pause = {});

    // version_file is the full path of the selected release; the working directory for its
    // NAME.mot files is the link's. True only when every file was sent and both closing
    // messages succeeded.
    bool upload_version(VersionControlRecord& record, const QString& version_file);

private:
    bool run(VersionControlRecord& record, const QString& version_file);

    UploadLink& link_;
    Reporter& reporter_;
    UploadView& view_;
    std::function<void()> pause_;
};

}  // namespace halvern
