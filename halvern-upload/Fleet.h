#pragma once
// One release into the projectors of one or more ports. Every port runs the same road: the
// device search first when it is one of several (normal mode) or with --skip-current (a
// projector already on the release ends there), then the upload, and with --verify the wait
// for the restart; each port with its own application state, port map, device library,
// connection and handle.
//
// One port runs on the main thread and keeps the single upload's form: its boxes, questions
// and status lines on standard error as they come, the progress line, Ctrl-C asking before it
// stops a transfer. Several ports run on a thread each; the main thread asks the questions
// once for the fleet, draws the table (or prints the plain lines), handles Ctrl-C and writes
// the summary.

#include "halvern-upload/Arguments.h"
#include "halvern-upload/Commands.h"
#include "halvern-upload/Report.h"

#include "common/Outcome.h"

#include <QFile>
#include <QJsonObject>
#include <QStringList>

#include <vector>

namespace halvern::cli {

class PortLogs;

struct FleetJob {
    RunSettings settings;    // the port name is each port's own
    ReleaseFile release;     // checked already
    QStringList ports;       // one or more, each reaching a device of its own
    Report* report = nullptr; // --report, open: one line per port
    const PortLogs* logs = nullptr; // --log-dir, open: one log per port
};

// Runs the upload on every port and returns the exit status: for one port that of its
// outcome; for several 0 when every projector confirmed its upload (came back on the release
// with --verify, or was on it already with --skip-current), 7 when the fleet's confirmation
// was declined, otherwise 8.
//
// Stops on request: Ctrl-C asks once for the fleet while any projector is in its transfer
// (on Yes every projector not yet in upload mode is left as it is, outcome stopped, and the
// transfers stop after their current frame; a second Ctrl-C at the question means Yes), and
// stops every port at once before that. SIGTERM is the safe stop: no projector enters upload
// mode any more, the transfers under way finish; a second SIGTERM stops them too. SIGHUP: the
// run goes on without its terminal. While any question of the fleet waits for its answer no
// projector is put into upload mode; everything else goes on. A port waiting for its
// projector to restart (--verify) is past its transfer: every stop ends that wait, outcome
// not-verified.
//
// --jobs N (several ports only): at most N transfers at once. A port that finds them all
// taken is queued at the safe point, with everything before upload mode done, until one of
// them ends; a stop on request ends it there (stopped).
int run_fleet(const Options& options, const FleetJob& job, Environment& env);

// The fleet's own questions with their answers, in the order asked, as the run's one record
// of them: a report line of its own, {"port":null,"messages":[...]} (no port's messages hold them).
QJsonObject fleet_questions_record(const std::vector<Message>& questions);

}  // namespace halvern::cli
