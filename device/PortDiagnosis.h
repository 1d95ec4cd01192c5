#pragma once
// Why a serial port cannot be opened, in words a technician can act on. The library keeps
// its result codes (2 port not found, 5 access denied); this says which of the causes behind
// them it was.

#include <QString>

#include <sys/types.h>

namespace halvern {

enum class PortTrouble {
    kNone,
    kNotFound,      // no such file, or a link to nothing
    kNotSerial,     // exists, but is no serial device
    kDenied,        // the device may not be opened by this user
    kInUse,         // another program holds it
    kHeldHere,      // this program holds it already, under this name or another
};

// One line: "PATH: not found", "PATH: not a serial device", "PATH: permission denied (the
// device belongs to group dialout)", "PATH: in use by process 1234 (halvern-upload)", "PATH: already open in this program".
QString describe_port_trouble(PortTrouble trouble, const QString& path);

// The processes other than this one that hold the character device rdev open, as
// "1234 (name)", found through /proc/*/fd; empty when the system does not tell.
QString processes_holding(dev_t rdev);

}  // namespace halvern
