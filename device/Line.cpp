// Which kind of line reaches a resolved port name.

#include "device/Line.h"

#include "device/NetworkLine.h"
#include "device/SerialLine.h"

namespace halvern {

std::unique_ptr<Line> make_line(const QString& path) {
    if (is_network_name(path)) return std::make_unique<NetworkLine>(path);
    return std::make_unique<SerialLine>(path);
}

}  // namespace halvern
