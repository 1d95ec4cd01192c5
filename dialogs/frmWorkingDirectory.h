#pragma once
// The working directory dialog: choose the directory whose version control files the
// catalogue lists. Shown modally from the Setup menu and after the catalogue's access failure.
//
// Controls (objectName = control name): drvFiles (QComboBox of the mounted volumes), dirFiles
// (QTreeWidget: the path from the volume's root down to the current directory, and the
// current directory's subdirectories; a double click opens an entry, a single click only
// highlights it; Enter opens the highlighted entry), cmdSelect "&Select", cmdCancel "&Cancel".

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "common/Reporter.h"

#include <QDialog>
#include <QList>
#include <QString>

#include <functional>

namespace halvern {

// One entry of the drive list.
struct Volume {
    QString root;         // root path of the volume, e.g. "/" or "/media/usb"
    QString name;         // display name; may be empty
    bool ready = true;    // false: mounted but not readable (e.g. no medium)
};

// The mounted volumes as the system reports them.
QList<Volume> mounted_volumes();

// What "&Select" needs to know of the main window and may ask it to do.
struct WorkingDirectoryHooks {
    std::function<bool()> shows_device;     // txtProjector and txtVersion both non-empty
    std::function<bool()> emergency_mode;   // check mark of mnuEmergencyMode
    std::function<void()> list_versions;    // refill lstVersions
    std::function<QList<Volume>()> volumes; // the drive list; unset: mounted_volumes()
};

class frmWorkingDirectory : public QDialog {
    Q_OBJECT
public:
    // Opens at state.working_directory when it is an existing directory, else in the
    // program's directory when that path merely does not exist, else at the root of the
    // file system (a malformed path, or a volume that cannot be read).
    //
    // "&Select" stores the highlighted entry of dirFiles (the current directory when no
    // other entry is highlighted) in state.working_directory and under "Working Directory",
    // closes the dialog, and then calls hooks.list_versions when emergency mode is on or the
    // main window shows a device. The dialog is closed before the refill so that a refill
    // that fails again can open a fresh dialog. "&Cancel" changes nothing.
    frmWorkingDirectory(AppState& state, SettingsStore& settings, Reporter& reporter, WorkingDirectoryHooks hooks,
                        QWidget* parent = nullptr);
    ~frmWorkingDirectory() override;

    QString current_directory() const;   // the current directory of dirFiles

protected:
    void showEvent(QShowEvent* event) override;
    // Enter in dirFiles opens the highlighted entry instead of pressing "&Select".
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Private;
    Private* d;
};

}  // namespace halvern
