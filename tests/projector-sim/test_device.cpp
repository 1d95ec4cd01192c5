// The simulated projector's device commands: the faults on its power road that the system's
// tests ask for.

#include "Device.h"

#include <gtest/gtest.h>

using namespace halvern::sim;

namespace {
// What a reply says: the result, the status byte (block index 19) and the remaining cool-down
// in packed BCD (block indices 20 and 21).
struct Answer {
    int result, status, bcd_hi, bcd_lo;
    bool operator==(const Answer&) const = default;
    friend std::ostream& operator<<(std::ostream& os, const Answer& a) {
        return os << a.result << "/" << a.status << "/" << std::hex << a.bcd_hi << " " << a.bcd_lo << std::dec;
    }
};

DeviceConfig config(Power state, double cooldown) {
    DeviceConfig c;
    c.state = state;
    c.cooldown_seconds = cooldown;
    return c;
}

Answer ask(Projector& p, char code, double now) {
    const Bytes r = p.handle_request(Request{static_cast<std::uint8_t>(code), 0}, now);
    EXPECT_EQ(r.size(), kReplySize);
    EXPECT_EQ(r[5 + 16], 1) << "protocol revision";
    return {r[4], r[5 + 19], r[5 + 20], r[5 + 21]};
}
}  // namespace

TEST(ProjectorSimDevice, StartStatesAndFaults) {
    const struct { Power state; double cooldown; const char* fault; double t; char code; Answer want; } cases[] = {
        {Power::kStandby, 10, nullptr, 0, 'Q', {0, 0, 0, 0}},
        {Power::kStandby, 10, nullptr, 0, 'U', {0, 1, 0, 0}},
        {Power::kCooling, 25, nullptr, 5, 'Q', {0, 2, 0x00, 0x20}},  // a cooling start counts from 0
        {Power::kOn, 0, nullptr, 0, 'S', {0, 0, 0, 0}},              // no cool-down
        {Power::kOn, 10, "refuse-standby", 0, 'S', {1, 1, 0, 0}},
        {Power::kStandby, 10, "status3", 0, 'Q', {0, 3, 0, 0}},
        {Power::kCooling, 2, "stay-cooling", 500, 'Q', {0, 2, 0, 0}},
        {Power::kCooling, 2, "stay-cooling", 500, 'U', {1, 2, 0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.fault ? c.fault : "") << " " << c.code << " at " << c.t);
        DeviceConfig cfg = config(c.state, c.cooldown);
        if (c.fault) {
            ASSERT_TRUE(parse_fault(c.fault, &cfg.faults, nullptr));
        }
        Projector p(cfg, nullptr);
        EXPECT_EQ(ask(p, c.code, c.t), c.want);
    }
}
