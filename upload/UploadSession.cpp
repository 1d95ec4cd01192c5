#include "upload/UploadSession.h"

#include "image/ReleaseCheck.h"
#include "link/FrameLayer.h"
#include "link/UploadLink.h"
#include "upload/UploadCommand.h"
#include "upload/UploadDriver.h"

namespace halvern {

RoadResult run_upload(SerialConnection& connection, Reporter& face, UploadView& view, const UploadRequest& request) {
    MessageChain reporter(face);
    FrameLayer frames(connection.library(), connection.state().serial_handle, reporter);
    frames.set_retry_observer(request.retried);
    UploadLink link(frames, reporter, view);
    link.working_directory = request.working_directory;
    UploadDriver driver(link, reporter, view, request.pause);

    UploadSteps steps;
    steps.wait_for_cool_down = request.wait_for_cool_down ? request.wait_for_cool_down : [] {};
    steps.check_release = [&] { return check_release(request.version_file, request.working_directory, reporter); };
    steps.read_version_control_file = [&](VersionControlRecord& record) {
        ProgressTotals totals;
        return read_version_control_file(request.version_file, request.working_directory, record, totals, reporter);
    };
    steps.upload_version = [&](VersionControlRecord& record) { return driver.upload_version(record, request.version_file); };
    UploadCommand command(connection, reporter, view, std::move(steps));
    const Outcome outcome = command.run(request.selected_line, request.emergency);
    return reporter.result(outcome);
}

}  // namespace halvern
