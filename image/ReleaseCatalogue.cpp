#include "image/ReleaseCatalogue.h"

#include "image/FileLookup.h"
#include "image/VersionControl.h"

#include <QDir>

namespace halvern {

QString release_line(const QByteArray& file_start) {
    const VersionControlRecord record = VersionControlRecord::from_bytes(file_start);
    return record.release_name_text() + QLatin1Char('\t') + record.release_version_text();
}

void ReleaseCatalogue::list_versions(ReleaseListView& list, const QString& working_directory, Reporter& reporter,
                                     const std::function<void()>& show_working_directory_dialog) {
    version_files.clear();
    list.clear_lines();

    switch (classify_directory(working_directory)) {
    case DirectoryAccess::Missing:
        return;
    case DirectoryAccess::Unusable:
        reporter.message_box(QStringLiteral("Unable to access ") + working_directory + QStringLiteral(".") +
                             QChar(13) + QStringLiteral("Please select a valid working directory."));
        if (show_working_directory_dialog) show_working_directory_dialog();
        return;
    case DirectoryAccess::Usable:
        break;
    }

    const QStringList names =
        QDir(working_directory).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name | QDir::IgnoreCase);
    for (const QString& name : names) {
        const QString suffix = name.right(4).toUpper();
        if (suffix != QLatin1String(".SWV") && suffix != QLatin1String(".PJV")) continue;
        const QString path = join_path(working_directory, name);
        // Only a regular file (after following links) is a release; a FIFO or a device with
        // such a name is passed over unopened.
        if (!is_regular_file(path)) continue;
        const RegularFile file = read_regular_file(path, kVersionControlLength);
        if (file.outcome == RegularFile::Outcome::NotRegular) continue;
        if (file.outcome != RegularFile::Outcome::Read) {
            reporter.message_box(QStringLiteral("Unexpected error. ") + file.error);
            return;
        }
        list.add_line(release_line(file.bytes));
        version_files << path;
    }
}

QString ReleaseCatalogue::path_of(int index) const {
    return index >= 0 && index < version_files.size() ? version_files.at(index) : QString();
}

}  // namespace halvern
