#pragma once
// One release into the projectors of one or more ports. Every port runs the same road: the
// device search first when it is one of several (normal mode), then the upload, each with its
// own application state, settings scratch store, device library, connection and handle.
//
// One port runs on the main thread and keeps the single upload's form: its boxes, questions
// and status lines on standard error as they come, the progress line, Ctrl-C asking before it
// stops a transfer. Several ports run on a thread each; the main thread asks the questions
// once for the fleet, draws the table (or prints the plain lines), handles Ctrl-C and writes
// the summary.

#include "halvern-upload/Arguments.h"
#include "halvern-upload/Commands.h"
#include "halvern-upload/Report.h"

#include <QStringList>

namespace halvern::cli {

struct FleetJob {
    RunSettings settings;    // the port name is each port's own
    ReleaseFile release;     // checked already
    QStringList ports;       // one or more, each reaching a device of its own
    Report* report = nullptr; // --report, open: one line per port
};

// Runs the upload on every port and returns the exit status: for one port that of its
// outcome; for several 0 when every projector confirmed its upload, otherwise 8.
int run_fleet(const Options& options, const FleetJob& job, Environment& env);

}  // namespace halvern::cli
