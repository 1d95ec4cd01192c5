// The simulated projector's device commands: power states, cool-down, identity, faults.

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

TEST(ProjectorSimDevice, PackedBcd) {
    const struct { unsigned in; std::uint16_t out; } cases[] = {
        {0, 0x0000}, {9, 0x0009}, {10, 0x0010}, {180, 0x0180}, {1234, 0x1234}, {9999, 0x9999}, {12345, 0x9999}};
    for (const auto& c : cases) EXPECT_EQ(to_bcd(c.in), c.out) << c.in;
}

TEST(ProjectorSimDevice, PowerRoadFromOnToUploadMode) {
    Projector p(config(Power::kOn, 180), nullptr);
    const struct { double t; char code; Answer want; } road[] = {
        {0.0, 'Q', {0, 1, 0x00, 0x00}},
        {0.0, 'U', {1, 1, 0x00, 0x00}},    // upload mode only from standby
        {1.0, 'S', {0, 2, 0x01, 0x80}},    // cooling 180 s from now
        {1.5, 'Q', {0, 2, 0x01, 0x80}},    // 179.5 left, reported rounded up
        {101.0, 'Q', {0, 2, 0x00, 0x80}},
        {101.0, 'U', {1, 2, 0x00, 0x00}},
        {101.0, 'S', {0, 2, 0x00, 0x80}},  // a second request changes nothing
        {180.9, 'Q', {0, 2, 0x00, 0x01}},
        {181.0, 'Q', {0, 0, 0x00, 0x00}},
        {182.0, 'U', {0, 1, 0x00, 0x00}},
        {183.0, 'Q', {0, 1, 0x00, 0x00}},  // upload mode reads as 1
        {183.0, 'S', {1, 1, 0x00, 0x00}},  // no standby out of upload mode
        {183.0, 'U', {0, 1, 0x00, 0x00}},
        {183.0, 'X', {2, 0, 0x00, 0x00}},  // unknown command
    };
    for (const auto& step : road) EXPECT_EQ(ask(p, step.code, step.t), step.want) << step.code << " at " << step.t;
    EXPECT_EQ(p.power(183), Power::kUpload);
}

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

TEST(ProjectorSimDevice, IdentityBlock) {
    // A model of exactly 16 characters fills its field without a terminator.
    DeviceConfig cfg;
    cfg.model = "MODEL-1234567890";
    cfg.version = "0105";
    Projector p(cfg, nullptr);
    const Bytes r = p.handle_request(Request{'I', 9}, 0);
    Bytes want_block(256, 0);
    want_block[16] = 1;
    const std::string text = "MODEL-12345678900105";
    std::copy(text.begin(), text.end(), want_block.begin() + 19);
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 261), want_block);
    EXPECT_EQ(r[3], 9);
}

TEST(ProjectorSimDevice, FaultSyntax) {
    const struct { const char* text; bool ok; } cases[] = {
        {"drop-frame:3", true},  {"corrupt-frame:1,4", true}, {"wrong-seq:2", true},     {"no-reply:7", true},
        {"stay-cooling", true},  {"refuse-standby", true},    {"status3", true},         {"block-size-zero", true},
        {"silent", true},        {"drop-reply:2", true},      {"corrupt-reply:1,3", true}, {"wrong-seq-ack:4", true},
        {"garbage:5", true},     {"garbage", false},          {"wrong-seq-ack:", false}, {"drop-frame", false},
        {"drop-frame:", false},  {"drop-frame:x", false},     {"drop-frame:1,,2", false}, {"silent:1", false},
        {"explode", false}};
    for (const auto& c : cases) {
        Faults f;
        std::string why;
        EXPECT_EQ(parse_fault(c.text, &f, &why), c.ok) << c.text << ": " << why;
    }
    Faults f;
    ASSERT_TRUE(parse_fault("corrupt-frame:1,4", &f, nullptr));
    EXPECT_EQ(f.corrupt_frame, (std::set<int>{1, 4}));
}
