#pragma once
// The working directory dialog: choose the directory whose version control files the
// catalogue lists. Shown modally from the Setup menu and after the catalogue's access failure.

#include "app/AppState.h"
#include "app/SettingsStore.h"
#include "upload/Reporter.h"

#include <QDialog>

#include <functional>

namespace halvern {

// What "&Select" needs to know of the main window and may ask it to do.
struct WorkingDirectoryHooks {
    std::function<bool()> shows_device;     // txtProjector and txtVersion both non-empty
    std::function<bool()> emergency_mode;   // check mark of mnuEmergencyMode
    std::function<void()> list_versions;    // refill lstVersions
};

class frmWorkingDirectory : public QDialog {
    Q_OBJECT
public:
    frmWorkingDirectory(AppState& state, SettingsStore& settings, Reporter& reporter, WorkingDirectoryHooks hooks,
                        QWidget* parent = nullptr);
    ~frmWorkingDirectory() override;

private:
    struct Private;
    Private* d;
};

}  // namespace halvern
