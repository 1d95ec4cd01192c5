#pragma once
// The whole check of a release before anything is sent to the projector: its version control
// file and every one of its NAME.mot files, read as the upload would read them. The desktop
// tool and halvern-upload both call it before the first exchange with the device, and
// `halvern-upload --check` prints what it found.

#include "common/Reporter.h"
#include "image/MotorolaReader.h"

#include <QString>

#include <cstdint>
#include <vector>

namespace halvern {

// One NAME.mot of the release, read to its end.
struct ReleaseFileCheck {
    QString file_name;  // NAME.mot, as the upload names it
    std::int64_t window_start = 0;
    std::int64_t window_end = 0;
    MotorolaFileSummary summary;
};

// Checks the release of version_file without a device: first the version control file as
// read_version_control_file checks it (length, entries, windows, each NAME.mot present as a
// regular file), then every NAME.mot of its used entries in entry order, read whole with every
// record checked. Shows the boxes the upload would show for the first fault: the version
// control file's own, or the reader's followed by "Error during read of NAME.mot file.".
// True when the release would be accepted; files (when given) gets one element per NAME.mot
// read without fault, in entry order.
bool check_release(const QString& version_file, const QString& working_directory, Reporter& reporter,
                   std::vector<ReleaseFileCheck>* files = nullptr);

// The line `halvern-upload --check` prints for a file:
// "MAIN.mot: 2 records, 16 bytes inside the window 00000000-0000FFFF, 0 bytes outside it,
// 65520 addresses of the window filled with FF"
QString release_file_check_line(const ReleaseFileCheck& file);

}  // namespace halvern
