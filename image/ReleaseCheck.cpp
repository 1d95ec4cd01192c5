#include "image/ReleaseCheck.h"

#include "image/VersionControl.h"

namespace halvern {

bool check_release(const QString& version_file, const QString& working_directory, Reporter& reporter,
                   std::vector<ReleaseFileCheck>* files) {
    VersionControlRecord record;
    ProgressTotals totals;
    if (!read_version_control_file(version_file, working_directory, record, totals, reporter)) return false;

    ImageBuffer image;  // scratch: the image each file would send, thrown away
    for (const FileEntry& entry : record.files) {
        const QString name = entry.name();
        if (name.isEmpty()) continue;
        ReleaseFileCheck check;
        check.file_name = name + QStringLiteral(".mot");
        check.window_start = entry.start();
        check.window_end = entry.end();
        if (!read_motorola_file(check.file_name, working_directory, image, check.window_start, check.window_end,
                                reporter, &check.summary)) {
            reporter.message_box(motorola_read_error_message(check.file_name));
            return false;
        }
        if (files) files->push_back(check);
    }
    return true;
}

QString release_file_check_line(const ReleaseFileCheck& file) {
    auto address = [](std::int64_t a) { return QStringLiteral("%1").arg(a, 8, 16, QLatin1Char('0')).toUpper(); };
    return QStringLiteral("%1: %2 records, %3 bytes inside the window %4-%5, %6 bytes outside it, "
                          "%7 addresses of the window filled with FF")
        .arg(file.file_name)
        .arg(file.summary.records)
        .arg(file.summary.bytes_inside)
        .arg(address(file.window_start), address(file.window_end))
        .arg(file.summary.bytes_outside)
        .arg(file.summary.ff_filled);
}

}  // namespace halvern
