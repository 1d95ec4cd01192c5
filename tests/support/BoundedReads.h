#pragma once
// The real serial library with every port's read time-out bounded by cap_ms, so that a frame
// the projector never sends costs little.

#include "device/SerialDeviceLibrary.h"

#include <algorithm>

namespace halvern::test {

class BoundedReads : public SerialDeviceLibrary {
public:
    BoundedReads(SettingsStore& settings, std::int32_t cap_ms) : SerialDeviceLibrary(settings), cap_ms_(cap_ms) {}
    std::int32_t init_port_timeouts(std::int32_t& handle, const char* port, std::int32_t baud,
                                    std::int32_t timeout_ms) override {
        return SerialDeviceLibrary::init_port_timeouts(handle, port, baud, std::min(timeout_ms, cap_ms_));
    }

private:
    std::int32_t cap_ms_;
};

}  // namespace halvern::test
