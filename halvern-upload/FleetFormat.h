#pragma once
// What halvern-upload shows and writes of a fleet upload: the live table (one line per port),
// the plain lines without a terminal, the summary table, the report lines, and the fleet's
// exit status.

#include "common/Outcome.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace halvern::cli {

enum class Phase {
    Waiting, Identifying, Preparing, Asking, CoolingDown, Queued, Uploading, Closing, Verifying, Done, Failed, Declined,
    Cancelled
};

// One line of the live table.
struct PortRow {
    QString port;
    QString model;               // empty until identified (never in emergency mode)
    QString version;             // the O/S version found
    Phase phase = Phase::Waiting;
    int cool_down_seconds = -1;  // remaining, as the projector last said; -1 not known
    int percent = 0;             // of the transfer
    QString time_left;           // "1:23", "--:--"
    QString message;             // a failure's innermost message
};

// "identifying", "cooling down 02:05", "uploading  45% 1:23 left", "failed: Unable to ...".
QString phase_text(const PortRow& row);

// The table on a terminal width columns wide and height lines high (0: any height). Every line
// is shorter than width. A port name is kept whole where it fits, else shortened from the left
// ("…A10K3XZ-if00-port0"): its end tells two adapters apart. The phase is cut only between
// words and never inside its name; the model and the O/S columns go first when the terminal
// is narrow. A table taller than the terminal (less one line for the cursor) is the header, a
// line of counts per phase, and as many rows as fit, active and failed ports first, in their
// order.
QStringList table_lines(const std::vector<PortRow>& rows, int width, int height = 0);

// "32 ports: 3 cooling down, 12 uploading, 15 done, 2 failed": the ports in each phase, as
// many phases as fit in width.
QString phase_counts(const std::vector<PortRow>& rows, int width);

// "PORT HH:MM:SS text": a line without a terminal.
QString plain_line(const QString& port, const QString& clock, const QString& text);

// A message as one line of the terminal and the report: a box's line breaks become blanks, a
// question ends with its answer (" [y/N] y" or " [y/N] n").
QString message_line(const Message& message);

// The innermost message of a failed port: the first box after the last status line that
// was not a failure, or else the failure line itself. Empty when nothing failed.
QString innermost_message(const std::vector<Message>& messages);

// What one port came to.
struct PortOutcome {
    QString port;             // as named on the command line
    QString device;           // the device it reached, links followed
    QString model;
    QString version;          // the O/S version before the upload
    QString release;          // the release file
    QString release_version;  // "01.05"
    Outcome outcome = Outcome::Uploaded;  // its exit status is what a single upload of it ends with
    bool stopped = false;     // Ctrl-C stopped it
    std::vector<Message> messages;  // every box, question and status line with text, in order
    double seconds = 0;
};

// "uploaded", "verified", "current", "not-verified", "failed", "cancelled", "declined",
// "stopped", "port-error" or "device-error".
QString outcome_name(const PortOutcome& outcome);

// One JSON object on one line (no line end), its keys in the order given.
QByteArray json_object_line(std::span<const std::pair<const char*, QJsonValue>> fields);

// One JSON object on one line (no line end).
QByteArray report_line(const PortOutcome& outcome);

// The summary: a header, then port, model, version before, outcome and time per port.
QStringList summary_lines(const std::vector<PortOutcome>& outcomes);

// 0 only when every port uploaded, verified or was current already; otherwise 8.
int fleet_exit_code(const std::vector<PortOutcome>& outcomes);

// "M:SS" (or "H:MM:SS") of whole seconds.
QString format_duration(double seconds);

}  // namespace halvern::cli
