#pragma once
// The release catalogue: one line per version control file of the working directory, with
// the release's name, a tab and its version, paired by index with version_files.

#include "upload/Reporter.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace halvern {

// The release list box as the catalogue fills it (the main window's lstVersions).
class ReleaseListView {
public:
    virtual ~ReleaseListView() = default;
    virtual void clear_lines() = 0;                 // removes every line and the selection
    virtual void add_line(const QString& line) = 0; // appended, never sorted
};

class ReleaseCatalogue {
public:
    // Element k is the full path of the file shown on line k.
    QStringList version_files;

    // Refills list and version_files from working_directory. When the directory's path
    // cannot be used, shows "Unable to access ..." and then calls show_working_directory_dialog
    // (which shows the working directory dialog modally).
    void list_versions(ReleaseListView& list, const QString& working_directory, Reporter& reporter,
                       const std::function<void()>& show_working_directory_dialog);

    // The path of line index, or an empty text when index is not a line.
    QString path_of(int index) const;
};

}  // namespace halvern
