#pragma once
// The About box: the application's title and version, two fixed notices, and a button that
// starts the system-information tool of the machine. Shown modally from the Help menu,
// centred on the screen.
//
// Controls (objectName = control name): picIcon (the application's icon), lblTitle
// "Halvern!  v1.1", Line1_0 and Line1_1 (separators), lblCopyright, lblDisclaimer,
// cmdOK "&OK" (default button; Enter and Escape both close the box), cmdSysInfo
// "&System Info...".

#include "common/Reporter.h"

#include <QDialog>
#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace halvern {

// The message when no system-information tool can be started.
inline const QString kSystemInfoUnavailable = QStringLiteral("System Information Is Unavailable At This Time");

// The program's icon (app/icons), at every size it is drawn in; the main program gives it to
// the application, and the About box shows it.
QIcon program_icon();

// "Halvern!  v1.1": the title, two blanks, "v", major, ".", minor; no revision.
QString about_title();

// Full path of a program of the given name, or empty when there is none.
using ProgramLookup = std::function<QString(const QString& name)>;
// Starts the program detached from this one; false when it could not be started.
using ProgramLauncher = std::function<bool(const QString& program)>;
// A string value under a key of the local-machine registry root; nothing when the key or the
// value cannot be read.
using KeyValueReader = std::function<std::optional<QString>(const QString& key, const QString& value_name)>;

// The system-information programs looked for on the PATH, in order of preference.
const QStringList& system_info_candidates();

// The first candidate that lookup finds, as the full path lookup gives; empty when none.
QString find_system_info_program(const QStringList& candidates, const ProgramLookup& lookup);

// The registry road: the value "PATH" of "SOFTWARE\Microsoft\Shared Tools\MSINFO"; else the
// directory in the value "MSINFO" of "SOFTWARE\Microsoft\Shared Tools Location" followed by
// "\MSINFO32.EXE", when that file exists. Empty values count as absent. Empty when neither.
QString registry_system_info_program(const KeyValueReader& get_key_value,
                                     const std::function<bool(const QString& file)>& file_exists);

struct frmAboutOptions {
    ProgramLookup find_program;     // empty: QStandardPaths::findExecutable
    ProgramLauncher launch;         // empty: QProcess::startDetached without arguments
    KeyValueReader get_key_value;   // empty: the registry on Windows, nothing elsewhere
    Reporter* reporter = nullptr;   // null: a message box over the About box
};

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(frmAboutOptions options = {}, QWidget* parent = nullptr);

    // Starts the system-information tool: the registry road first, then the first program of
    // system_info_candidates() on the PATH. When nothing is found, or the program found does
    // not start, shows "System Information Is Unavailable At This Time".
    void StartSysInfo();

protected:
    void showEvent(QShowEvent* event) override;

private:
    frmAboutOptions options_;
    bool centred_ = false;
};

}  // namespace halvern
