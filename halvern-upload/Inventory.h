#pragma once
// What is there: --find (the model, the O/S version and the power state) and --status (the
// power state) over one or more ports. Every port is asked at once, each with its own
// application state, port map, device library, connection and handle.
//
// One port keeps the form of the desktop tool's buttons: the status lines on standard error,
// "Model: ..." and "O/S Version: ..." (--find) or the power state's line (--status) on
// standard output, the exit status of its outcome. Several ports print one line per port on
// standard output in the order given, tab-separated ("-" for what is not known):
//   PORT  MODEL  O/S-VERSION  POWER (on, cooling, standby)
// and every message of a port that failed on standard error after its name; the exit status
// is 0 when every projector answered, otherwise 8. With --report each port adds one line; with
// the report on standard output ("-") the results go to standard error.

#include "halvern-upload/Arguments.h"
#include "halvern-upload/Commands.h"
#include "halvern-upload/PortLog.h"
#include "halvern-upload/Report.h"

#include "common/Outcome.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace halvern::cli {

struct InventoryJob {
    RunSettings settings;       // the port name is each port's own
    QStringList ports;          // one or more, each reaching a device of its own
    bool identify = true;       // --find: the device search before the status query
    Report* report = nullptr;   // --report, open: one line per port
    const PortLogs* logs = nullptr;  // --log-dir: each port's own log
};

// What one port told.
struct PortInventory {
    QString port;                       // as named on the command line
    QString device;                     // the device it reaches, links followed
    QString model;                      // empty when not known
    QString version;
    std::optional<std::uint8_t> power;  // the device status byte, when the status query read it
    Outcome outcome = Outcome::PortNotOpened;
    std::vector<Message> messages;      // every box and status line with text, in order
    double seconds = 0;
};

// "on", "cooling", "standby"; empty for no power state read.
QString power_name(std::optional<std::uint8_t> status);

// "found" (--find) or "status" (--status) for a projector that answered; the fleet's names
// ("port-error", "device-error") for the failures.
QString inventory_outcome_name(Outcome outcome);

// PORT, MODEL, O/S VERSION and POWER, tab-separated, "-" for what is not known.
QString inventory_line(const PortInventory& port);

// The report's object: port, device, model, version, power, outcome, exit, messages, seconds
// (null for what is not known).
QByteArray inventory_report_line(const PortInventory& port);

// Asks every port and returns the exit status.
int run_inventory(const Options& options, const InventoryJob& job, Environment& env);

}  // namespace halvern::cli
