#pragma once
// The main window "Operating System Uploader": the connected device, the four commands, the
// release list, the status bar with its light, date and time, and the File, Setup and Help
// menus. Every widget's objectName is its control name.
//
// The window holds no device logic: the commands wired onto it reach the application state,
// the serial connection and the reporter through the accessors below.

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "device/DeviceLibrary.h"
#include "device/SerialConnection.h"
#include "image/ReleaseCatalogue.h"
#include "upload/DeviceSearch.h"
#include "common/UploadView.h"
#include "common/Reporter.h"
#include "app/PaintFirstLibrary.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QStatusBar;
class QTimer;

namespace halvern {

struct frmUploadOptions {
    QString program_dir;                  // empty: QCoreApplication::applicationDirPath()
    std::function<void()> end_program;    // empty: QCoreApplication::exit(0)
    Reporter* reporter = nullptr;         // null: message boxes on screen over this window
    std::function<QDateTime()> clock;     // empty: QDateTime::currentDateTime
    std::function<void()> upload_pause;   // empty: one second before the first upload message
    // Shows the cool-down window modally; empty: frmCoolDown over this window.
    std::function<void()> wait_for_cool_down;
};

class frmUpload : public QMainWindow {
    Q_OBJECT
public:
    // Runs the load handler: init_vars (defaults written to settings before the window
    // shows), set_help_ids, the help file and the tab stop of lstVersions. The window is
    // centred when it is first shown.
    frmUpload(AppState& state, SettingsStore& settings, DeviceLibrary& library, frmUploadOptions options = {},
              QWidget* parent = nullptr);
    ~frmUpload() override;

    // The controls, for the commands wired onto the window.
    struct Controls {
        QGroupBox* Frame1;
        QLabel* Label1[2];
        QLineEdit* txtProjector;
        QLineEdit* txtVersion;
        QPushButton* cmdSearch;
        QPushButton* cmdQueryStatus;
        QPushButton* cmdUpload;
        QPushButton* cmdExit;
        QLabel* Label2;
        QLabel* lblModel;
        QLabel* lblVersion;
        QListWidget* lstVersions;
        QLabel* lblEmergencyMode;
        QLabel* imgOrvelleLogo;
        QStatusBar* staMain;
        QLabel* staMainIcon;   // panel 1: status light
        QLabel* staMainText;   // panel 1: status message
        QLabel* staMainDate;   // panel 2
        QLabel* staMainTime;   // panel 3
        QAction* mnuExit;
        QAction* mnuComPort;
        QAction* mnuWorkingDirectory;
        QAction* mnuEmergencyMode;
        QAction* mnuHelpContents;
        QAction* mnuHelpAbout;
    };
    const Controls& ui() const { return ui_; }

    AppState& state() { return state_; }
    SettingsStore& settings() { return settings_; }
    DeviceLibrary& library() { return library_; }
    SerialConnection& connection() { return *connection_; }
    Reporter& reporter() { return *reporter_; }

    // Loads working directory, port and baud rate from the settings, writing defaults back.
    void init_vars();
    // Icon 1, 2 or 3 ("GREEN_LIGHT", "YELLOW_LIGHT", "RED_LIGHT") and the message into panel 1;
    // any other icon shows "Unable to display status message." and leaves the bar alone.
    void show_status(int icon, const QString& text);
    // Help topic 9 on cmdSearch and 11 on cmdUpload, as the dynamic property "helpTopic".
    void set_help_ids();
    // Refreshes the date and time panels; runs every second.
    void update_time();

    bool emergency_mode() const;         // the check mark of mnuEmergencyMode
    // Refills lstVersions and version_files from the working directory; no line is then
    // selected and "Start &Upload" is disabled.
    void list_versions();
    const ReleaseCatalogue& catalogue() const { return catalogue_; }
    // True from the first device step of an upload to its last port close.
    bool uploading() const { return uploading_; }
    QString program_dir() const { return program_dir_; }
    QString help_file() const { return help_file_; }

protected:
    void showEvent(QShowEvent* event) override;
    // The close box ends the program without closing the port.
    void closeEvent(QCloseEvent* event) override;
    // Enter anywhere but on a button presses the default button "&Find Device".
    void keyPressEvent(QKeyEvent* event) override;
    // Alt+F, the access key of both "&Find Device" and the "&File" menu, presses the button
    // whenever it is enabled; otherwise it opens the menu.
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    // Handlers of the commands wired on later.
    void on_cmdSearch_clicked();
    void on_cmdQueryStatus_clicked();
    void on_cmdUpload_clicked();
    void on_lstVersions_clicked();
    void on_mnuEmergencyMode_triggered();
    void on_mnuWorkingDirectory_triggered();
    void on_mnuHelpContents_triggered();
    void on_mnuHelpAbout_triggered();

    // The serial port dialog, modally.
    void on_mnuComPort_triggered();
    // close_port with serial_handle, its result ignored, then the end of the program.
    void on_cmdExit_clicked();
    // The end of the program without closing the port.
    void on_mnuExit_triggered();

private:
    class ListBox;
    class SearchView;
    void build();
    void end_program();
    void show_working_directory_dialog();
    // While an upload runs, the commands that would reuse or close its serial handle, end
    // the program mid-flash or open a modal box that stops the transfer, and the release
    // list, are unavailable; afterwards each returns to its former state and "Start &Upload"
    // follows the selection.
    void lock_commands(bool locked);
    // Before a device call that may block: the hourglass while an upload runs, and the
    // window painted as it stands.
    void before_blocking_call();

    AppState& state_;
    SettingsStore& settings_;
    DeviceLibrary& library_;
    frmUploadOptions options_;
    std::unique_ptr<Reporter> own_reporter_;
    Reporter* reporter_ = nullptr;
    std::unique_ptr<PaintFirstLibrary> painting_library_;
    std::unique_ptr<SerialConnection> connection_;
    QString program_dir_;
    QString help_file_;
    Controls ui_{};
    QTimer* tmrClock_ = nullptr;
    bool centred_ = false;
    bool ending_ = false;
    bool uploading_ = false;
    ReleaseCatalogue catalogue_;
    std::unique_ptr<ReleaseListView> release_list_;
    std::unique_ptr<DeviceSearchView> search_view_;
    std::unique_ptr<UploadView> upload_view_;
    std::vector<std::pair<QObject*, bool>> locked_;
    QPointer<QWidget> focus_before_lock_;
};

}  // namespace halvern
