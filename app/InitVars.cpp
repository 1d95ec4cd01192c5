#include "app/InitVars.h"

#include <QDir>
#include <QFileInfo>

namespace halvern {

void init_vars(AppState& state, SettingsStore& settings, const QString& program_dir) {
    const QString kWorkingDirectory = QStringLiteral("Working Directory");
    const QString kPort = QStringLiteral("Port");
    const QString kBaudRate = QStringLiteral("Baud Rate");

    state.working_directory = settings.startup(kWorkingDirectory);
    if (state.working_directory.isEmpty()) {
        settings.set_startup(kWorkingDirectory, program_dir);
        state.working_directory = program_dir;
    }

    state.port_name = settings.startup(kPort);
    if (state.port_name.isEmpty()) {
        settings.set_startup(kPort, QStringLiteral("COM1"));
        state.port_name = QStringLiteral("COM1");
    }

    state.baud_rate = parse_decimal(settings.startup(kBaudRate, QStringLiteral("0"))).value_or(0);
    if (state.baud_rate == 0) {
        settings.set_startup(kBaudRate, QStringLiteral("38400"));
        state.baud_rate = 38400;
    }
}

QString help_file_path(const QString& program_dir) {
    const QString name = QStringLiteral("upload.hlp");
    const bool at_root = program_dir.endsWith(QLatin1Char('/')) || program_dir.endsWith(QLatin1Char('\\'));
    const QString beside = at_root ? program_dir + name : program_dir + QLatin1Char('/') + name;
    if (QFileInfo::exists(beside)) return beside;
    // Installed: the program in PREFIX/bin, its data in PREFIX/share/halvern.
    const QString installed = QDir::cleanPath(program_dir + QStringLiteral("/../share/halvern/") + name);
    return QFileInfo::exists(installed) ? installed : beside;
}

}  // namespace halvern
