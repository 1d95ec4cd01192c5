#pragma once
// "&Query Status": open the port, one status call, report the power state, close the port.

#include "device/SerialConnection.h"
#include "common/Reporter.h"

namespace halvern {

void query_device_status(SerialConnection& connection, Reporter& reporter);

}  // namespace halvern
