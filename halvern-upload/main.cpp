// halvern-upload: the upload road of the desktop tool on the command line.
#include "common/AppState.h"
#include "common/SettingsStore.h"
#include "common/Version.h"
#include "device/SerialDeviceLibrary.h"
#include "halvern-upload/Commands.h"
#include "halvern-upload/Console.h"
#include "halvern-upload/Interrupt.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(halvern::kAppTitle);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(halvern::kVersion));
    halvern::cli::interrupt::install();

    halvern::cli::StdConsole console;
    halvern::SettingsStore settings;  // the user's store; only read
    const halvern::SystemPortList ports;
    halvern::cli::Environment environment{
        console, settings, QCoreApplication::applicationDirPath(),
        [](const halvern::PortMap& ports) -> std::unique_ptr<halvern::DeviceLibrary> {
            return std::make_unique<halvern::SerialDeviceLibrary>(ports);
        },
        &ports};
    return halvern::cli::run_cli(QCoreApplication::arguments().mid(1), environment);
}
