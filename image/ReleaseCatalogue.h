#pragma once
// The release catalogue: one line per version control file of the working directory, with
// the release's name, a tab and its version, paired by index with version_files.

#include "common/Reporter.h"

#include <QByteArray>
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

    // Refills list and version_files from working_directory: one line per regular file (after
    // following links; FIFOs and devices are never opened) whose name ends in .PJV or .SWV (any case), sorted by name without regard to case.
    // After a refill no line is selected (the caller disables "Start &Upload").
    // A directory that does not exist on an available volume lists nothing, quietly. When the
    // path cannot be used (classify_directory: Unusable), shows "Unable to access ..." and then
    // calls show_working_directory_dialog (which shows the working directory dialog modally)
    // if it is set. A file that cannot be read shows "Unexpected error. " and its description
    // and ends the refill; the lines added before it stay.
    void list_versions(ReleaseListView& list, const QString& working_directory, Reporter& reporter,
                       const std::function<void()>& show_working_directory_dialog);

    // The path of line index, or an empty text when index is not a line.
    QString path_of(int index) const;
};

// The line shown for a version control file: release name, tab, version ("Release A\t01.05").
QString release_line(const QByteArray& file_start);

// The lstVersions click rule: "Start &Upload" is enabled exactly when a line is selected.
inline bool upload_enabled_for(int selected_count) { return selected_count > 0; }

}  // namespace halvern
