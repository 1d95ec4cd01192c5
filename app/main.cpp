// The program: the main window over the serial-port library, configured from the user's
// settings store.
#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "common/Version.h"
#include "app/FocusRingStyle.h"
#include "app/frmUpload.h"
#include "dialogs/frmAbout.h"
#include "device/SerialDeviceLibrary.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(halvern::kAppTitle);
    QApplication::setApplicationVersion(QString::fromLatin1(halvern::kVersion));
    halvern::use_focus_ring_style();
    QApplication::setWindowIcon(halvern::program_icon());

    halvern::SettingsStore settings;
    halvern::AppState state;
    halvern::SerialDeviceLibrary library(settings);
    halvern::frmUpload window(state, settings, library);
    window.show();
    return app.exec();
}
