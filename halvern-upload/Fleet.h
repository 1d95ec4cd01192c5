#pragma once
// One release into the projectors of several ports at once. Every port runs the whole
// upload road on a thread of its own, with its own application state, port map,
// device library, connection and handle; the main thread asks the questions once for
// the fleet, draws the table (or prints the plain lines), handles Ctrl-C and writes the
// summary and the report.

#include "halvern-upload/Arguments.h"
#include "halvern-upload/Commands.h"

#include <QStringList>

namespace halvern::cli {

struct FleetJob {
    RunSettings settings;  // the port name is each port's own
    ReleaseFile release;
    QStringList ports;     // two or more, each reaching a device of its own
};

// Runs the fleet and returns the exit status: 0 when every projector confirmed its upload,
// otherwise 8.
int run_fleet(const Options& options, const FleetJob& job, Environment& env);

}  // namespace halvern::cli
