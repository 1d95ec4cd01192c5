#pragma once
// Start-up: the configuration the program reads from the settings store before the main
// window shows, and the path of the help file beside the program.

#include "common/AppState.h"
#include "common/SettingsStore.h"

#include <QString>

namespace halvern {

// "Working Directory", "Port" and "Baud Rate" of section "Startup", each replaced by its
// default where the store has none: the program's directory for an empty working directory,
// "COM1" for an empty port, 38400 for a baud rate that reads as 0 (a stored baud rate that is
// not a whole number reads as 0). Values are not validated further; a port or directory that
// does not exist fails later where it is used. Nothing is written.
struct StartupValues {
    QString working_directory;
    QString port_name;
    std::int32_t baud_rate = 0;
    // Which of them are defaults.
    bool default_working_directory = false;
    bool default_port_name = false;
    bool default_baud_rate = false;
};
StartupValues read_startup(const SettingsStore& settings, const QString& program_dir);

// Loads the start-up values into state and writes each default used back to the store.
void init_vars(AppState& state, SettingsStore& settings, const QString& program_dir);

// The help file "upload.hlp" in program_dir: appended directly when the directory already
// ends with a separator (the root of a volume), otherwise with one separator between. When it
// is not there but the installed tree's program_dir/../share/halvern/upload.hlp is, that one;
// when neither exists, the path beside the program (the help window reports it missing).
QString help_file_path(const QString& program_dir);

}  // namespace halvern
