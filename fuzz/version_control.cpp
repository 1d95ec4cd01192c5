// The version control file reader on arbitrary bytes: the file as read_version_control_file
// reads it (with two NAME.mot files present for entries that name them) and the release line
// the catalogue makes of its start. Nothing may crash, hang or read outside the record; an
// accepted file must name a used entry whose window fits the image buffer.
#include "fuzz/FuzzSupport.h"
#include "image/ReleaseCatalogue.h"
#include "image/VersionControl.h"

#include <cstdlib>

using namespace halvern;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString& dir = fuzz::scratch_directory();
    static const bool mot_files = [&] {
        fuzz::write_file(dir, QStringLiteral("A.mot"), "S9030000FC\r\n");
        fuzz::write_file(dir, QStringLiteral("b.MOT"), "S9030000FC\r\n");
        return true;
    }();
    (void)mot_files;
    const QByteArray bytes = fuzz::bytes_of(data, size);
    const QString path = fuzz::write_file(dir, QStringLiteral("R.PJV"), bytes);

    CollectingReporter reporter;
    VersionControlRecord record{};
    ProgressTotals totals;
    const bool ok = read_version_control_file(path, dir, record, totals, reporter);
    if (ok) {
        bool used = false;
        for (const FileEntry& entry : record.files) {
            if (entry.name().isEmpty()) continue;
            used = true;
            if (!window_fits_image(entry.start(), entry.end())) std::abort();
        }
        if (!used || !reporter.boxes.isEmpty() || totals.progress_total > 32767 || totals.progress_divisor < 1)
            std::abort();
    }
    if (!ok && reporter.boxes.size() > 1) std::abort();  // one box at most, the first fault's
    (void)release_line(bytes);
    return 0;
}
