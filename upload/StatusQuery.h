#pragma once
// "&Query Status": open the port, one status call, report the power state, close the port.

#include "common/Outcome.h"
#include "common/Reporter.h"
#include "device/SerialConnection.h"

namespace halvern {

// StatusRead, PortNotOpened, NoStatus or UnexpectedStatus, with what it showed.
RoadResult query_device_status(SerialConnection& connection, Reporter& reporter);

}  // namespace halvern
