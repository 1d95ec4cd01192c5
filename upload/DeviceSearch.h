#pragma once
// "&Find Device": identify the projector on the configured port, show its model and
// operating-system version, and refresh the release list.

#include "common/AppState.h"
#include "common/Outcome.h"
#include "common/Reporter.h"
#include "device/SerialConnection.h"

#include <QString>

namespace halvern {

// What the search does to the main window.
class DeviceSearchView {
public:
    virtual ~DeviceSearchView() = default;
    virtual void set_busy(bool busy) = 0;                                       // hourglass
    virtual void clear_identity() = 0;                                          // empty both boxes, disable "&Query Status"
    virtual void show_identity(const QString& model, const QString& version) = 0;  // fill them, enable it
    virtual void list_versions() = 0;                                           // refill the release list
};

// The model text: every non-zero byte of indices 19 to 34, blanks trimmed at both ends.
QString decode_model(const DeviceReply& reply);
// The version: characters 35 to 38 as "ab.cd", formatted as "00.00" when it reads as a number.
QString decode_version(const DeviceReply& reply);
// The "00.00" pattern: at least two digits before the point, exactly two after; text that
// does not read as a number is returned unchanged.
QString format_version(const QString& text);

// DeviceFound, PortNotOpened or NoDevice, with what it showed.
RoadResult run_device_search(SerialConnection& connection, Reporter& reporter, DeviceSearchView& view);

}  // namespace halvern
