#pragma once
// The commands of halvern-upload over the system's own pieces: the upload road, the device
// search, the status query and the release catalogue.

#include "common/Outcome.h"  // the exit statuses
#include "common/SettingsStore.h"
#include "device/DeviceLibrary.h"
#include "device/PortList.h"
#include "device/PortResolver.h"
#include "halvern-upload/Arguments.h"
#include "halvern-upload/Console.h"

#include <QString>
#include <QTime>

#include <cstdint>
#include <functional>
#include <optional>

namespace halvern::cli {

// Where and how this run talks to the projector.
struct RunSettings {
    QString working_directory;
    QString port_name;
    std::int32_t baud_rate = 38400;
};

// The options over the settings store's section "Startup", with the desktop tool's start-up
// defaults (program_dir, "COM1", 38400 for a rate that reads as 0). Nothing is written.
RunSettings resolve_settings(const Options& options, const SettingsStore& settings, const QString& program_dir);

struct ReleaseFile {
    QString path;               // the version control file
    QString working_directory;  // the directory it is in: where its NAME.mot files are
    QString line;               // its line as the release list shows it ("Demo Release\t01.05")
};

// RELEASE as given: a name (found in working_directory without regard to letter case) or a
// path (anything with a '/'). On failure error says why.
std::optional<ReleaseFile> resolve_release(const QString& release, const QString& working_directory, QString& error);

// The clock of a run: the time of day of the fleet's plain lines, and milliseconds from any
// fixed start that never run backwards (the report's seconds). Empty: the system's clocks.
struct Clock {
    std::function<QTime()> time_of_day;
    std::function<std::int64_t()> milliseconds;
};

// Everything a command needs from outside; main fills it with the real things.
struct Environment {
    Console& console;
    SettingsStore& settings;  // the user's store, only read
    QString program_dir;
    // The device library with the given port map (section "Ports" of the user's store).
    // With several ports it is called on each port's own thread.
    std::function<std::unique_ptr<DeviceLibrary>(const PortMap&)> make_library;
    // The serial ports of the machine (--list-ports); none when not given.
    const PortList* ports = nullptr;
    Clock clock;
};

// Runs the command line (without the program name) and returns the exit status.
int run_cli(const QStringList& arguments, Environment& environment);

}  // namespace halvern::cli
