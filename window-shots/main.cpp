// window-shots DIR: renders every window of the program, as a technician sees it in the
// middle of its work, into DIR/NAME.png. Runs on any Qt platform, offscreen included:
//   QT_QPA_PLATFORM=offscreen build/window-shots/window-shots shots/

#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "app/FocusRingStyle.h"
#include "app/frmUpload.h"
#include "dialogs/HelpWindow.h"
#include "dialogs/frmAbout.h"
#include "dialogs/frmComPort.h"
#include "dialogs/frmWorkingDirectory.h"
#include "upload/frmCoolDown.h"
#include "upload/frmUploadProgress.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QWidget>

#include <cstdio>
#include <cstring>

namespace {

using namespace halvern;

// A projector that is cooling down with three minutes to go.
class CoolingProjector : public DeviceLibrary {
public:
    std::int32_t init_port_timeouts(std::int32_t& handle, const char*, std::int32_t, std::int32_t) override {
        handle = 1;
        return kOk;
    }
    std::int32_t close_port(std::int32_t) override { return kOk; }
    std::int32_t query_upload_status(std::int32_t, DeviceReply& reply) override {
        set_device_status(reply, kCoolingDown);
        reply[20] = 0x01;
        reply[21] = 0x80;
        return kOk;
    }
    std::int32_t request_standby_mode(std::int32_t, DeviceReply&) override { return kOk; }
    std::int32_t request_upload_mode(std::int32_t, DeviceReply&) override { return kOk; }
    std::int32_t get_proj_info(std::int32_t, DeviceReply&) override { return kOk; }
    std::int32_t send_data(std::int32_t, std::span<const std::uint8_t> f, std::int32_t&) override {
        return static_cast<std::int32_t>(f.size());
    }
    std::int32_t get_data(std::int32_t, std::span<std::uint8_t>, std::int32_t&) override { return kTimeout; }
    QString open_failure() const override {
        return QStringLiteral("/dev/ttyUSB0: permission denied (the device belongs to group dialout)");
    }
};

class SilentReporter : public Reporter {
public:
    void message_box(const QString&, const QString&) override {}
    bool question(const QString&, const QString&) override { return false; }
    void show_status(int, const QString&) override {}
    void yield() override {}
    void pause(int) override {}
};

bool save(QWidget& window, const QDir& dir, const char* name) {
    window.show();
    window.activateWindow();
    for (int i = 0; i < 3; ++i) QApplication::processEvents();  // layouts settle in steps
    const QString path = dir.filePath(QString::fromLatin1(name) + QStringLiteral(".png"));
    const bool ok = window.grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    window.hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    use_focus_ring_style();
    QApplication::setWindowIcon(program_icon());
    if (argc != 2) {
        std::fprintf(stderr, "usage: window-shots DIR\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(dir.path())) return 1;

    QTemporaryDir scratch;
    SettingsStore settings(scratch.filePath(QStringLiteral("settings.ini")));
    AppState state;
    CoolingProjector library;
    SilentReporter reporter;
    bool ok = true;

    frmUploadOptions options;
    options.program_dir = scratch.path();
    frmUpload main_window(state, settings, library, options);
    const frmUpload::Controls& ui = main_window.ui();
    // At start: nothing found yet, the keyboard on "&Find Device".
    ok &= save(main_window, dir, "frmUpload-start");

    ui.txtProjector->setText(QStringLiteral("PJ-9000"));
    ui.txtVersion->setText(QStringLiteral("01.05"));
    ui.cmdQueryStatus->setEnabled(true);
    ui.lstVersions->addItem(QStringLiteral("Autumn service release\t02.10"));
    ui.lstVersions->addItem(QStringLiteral("Field update\t02.11"));
    ui.lstVersions->setCurrentRow(1);
    ui.cmdUpload->setEnabled(true);
    main_window.show_status(1, QStringLiteral("Device is on."));
    ok &= save(main_window, dir, "frmUpload");

    // The longest failure line stands whole at the window's first size.
    main_window.show_status(3, QStringLiteral("There was an error uploading the operating system to the device."));
    ok &= save(main_window, dir, "frmUpload-failure");
    // A port that did not open: the cause in a second line.
    main_window.show_status(3, QStringLiteral("Unable to connect to serial port."));
    ok &= save(main_window, dir, "frmUpload-port-denied");
    main_window.show_status(1, QStringLiteral("Device is on."));

    ui.mnuEmergencyMode->trigger();
    main_window.show_status(1, QStringLiteral("In emergency mode."));
    ok &= save(main_window, dir, "frmUpload-emergency");

    SerialConnection connection(library, state, settings, reporter);
    state.port_name = QStringLiteral("COM2");
    state.baud_rate = 19200;
    frmComPort com_port(state, settings, connection);
    ok &= save(com_port, dir, "frmComPort");

    state.working_directory = QDir::rootPath();
    frmWorkingDirectory working_directory(state, settings, reporter, WorkingDirectoryHooks{});
    ok &= save(working_directory, dir, "frmWorkingDirectory");

    frmCoolDown cool_down(library, state, reporter);
    ok &= save(cool_down, dir, "frmCoolDown");

    frmUploadProgress progress;
    progress.set_maximum(1000);
    progress.set_value(420);
    ok &= save(progress, dir, "frmUploadProgress");

    frmAbout about;
    ok &= save(about, dir, "frmAbout");

    HelpWindow help;
    help.show_help(QStringLiteral(HELP_FILE), 9);
    ok &= save(help, dir, "frmHelp");
    return ok ? 0 : 1;
}
