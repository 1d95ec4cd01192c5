#include "app/InitVars.h"

#include <QDir>
#include <QFileInfo>

namespace halvern {

namespace {
const QString kWorkingDirectory = QStringLiteral("Working Directory");
const QString kPort = QStringLiteral("Port");
const QString kBaudRate = QStringLiteral("Baud Rate");
}  // namespace

StartupValues read_startup(const SettingsStore& settings, const QString& program_dir) {
    StartupValues v;
    v.working_directory = settings.startup(kWorkingDirectory);
    v.default_working_directory = v.working_directory.isEmpty();
    if (v.default_working_directory) v.working_directory = program_dir;
    v.port_name = settings.startup(kPort);
    v.default_port_name = v.port_name.isEmpty();
    if (v.default_port_name) v.port_name = QStringLiteral("COM1");
    v.baud_rate = parse_decimal(settings.startup(kBaudRate, QStringLiteral("0"))).value_or(0);
    v.default_baud_rate = v.baud_rate == 0;
    if (v.default_baud_rate) v.baud_rate = 38400;
    return v;
}

void init_vars(AppState& state, SettingsStore& settings, const QString& program_dir) {
    const StartupValues v = read_startup(settings, program_dir);
    if (v.default_working_directory) settings.set_startup(kWorkingDirectory, v.working_directory);
    if (v.default_port_name) settings.set_startup(kPort, v.port_name);
    if (v.default_baud_rate) settings.set_startup(kBaudRate, QString::number(v.baud_rate));
    state.working_directory = v.working_directory;
    state.port_name = v.port_name;
    state.baud_rate = v.baud_rate;
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
