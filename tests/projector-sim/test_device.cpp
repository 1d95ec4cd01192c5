#include <gtest/gtest.h>

#include "Device.h"

using namespace halvern::sim;

namespace {
struct Answer {
    std::uint8_t result;
    std::uint8_t status;   // block index 19
    std::uint8_t bcd_hi;   // block index 20
    std::uint8_t bcd_lo;   // block index 21
};

Answer ask(Projector& p, char code, double now) {
    const Bytes r = p.handle_request(Request{static_cast<std::uint8_t>(code), 0}, now);
    EXPECT_EQ(r.size(), kReplySize);
    EXPECT_EQ(r[5 + 16], 1) << "protocol revision";
    return {r[4], r[5 + 19], r[5 + 20], r[5 + 21]};
}

void expect(const Answer& a, const Answer& want, const std::string& where) {
    EXPECT_EQ(a.result, want.result) << where;
    EXPECT_EQ(a.status, want.status) << where;
    EXPECT_EQ(a.bcd_hi, want.bcd_hi) << where;
    EXPECT_EQ(a.bcd_lo, want.bcd_lo) << where;
}

DeviceConfig config(Power state, double cooldown) {
    DeviceConfig c;
    c.state = state;
    c.cooldown_seconds = cooldown;
    return c;
}
}  // namespace

TEST(ProjectorSimDevice, PackedBcd) {
    const struct { unsigned in; std::uint16_t out; } cases[] = {
        {0, 0x0000}, {9, 0x0009}, {10, 0x0010}, {180, 0x0180}, {1234, 0x1234}, {9999, 0x9999}, {12345, 0x9999}};
    for (const auto& c : cases) EXPECT_EQ(to_bcd(c.in), c.out) << c.in;
}

TEST(ProjectorSimDevice, PowerRoadFromOnToUploadMode) {
    Projector p(config(Power::kOn, 180), nullptr);
    // Each step: time, command, and the expected result, status byte and remaining time.
    const struct { double t; char code; Answer want; } road[] = {
        {0.0, 'Q', {0, 1, 0x00, 0x00}},
        {0.0, 'U', {1, 1, 0x00, 0x00}},     // upload mode only from standby
        {1.0, 'S', {0, 2, 0x01, 0x80}},     // cooling 180 s from now
        {1.5, 'Q', {0, 2, 0x01, 0x80}},     // 179.5 left, reported rounded up
        {101.0, 'Q', {0, 2, 0x00, 0x80}},
        {101.0, 'U', {1, 2, 0x00, 0x00}},
        {101.0, 'S', {0, 2, 0x00, 0x80}},   // a second request changes nothing
        {180.9, 'Q', {0, 2, 0x00, 0x01}},
        {181.0, 'Q', {0, 0, 0x00, 0x00}},
        {182.0, 'U', {0, 1, 0x00, 0x00}},
        {183.0, 'Q', {0, 1, 0x00, 0x00}},   // upload mode reads as 1
        {183.0, 'S', {1, 1, 0x00, 0x00}},   // no standby out of upload mode
        {183.0, 'U', {0, 1, 0x00, 0x00}},
        {183.0, 'X', {2, 0, 0x00, 0x00}},   // unknown command
    };
    for (const auto& step : road)
        expect(ask(p, step.code, step.t), step.want, std::string(1, step.code) + " at " + std::to_string(step.t));
    EXPECT_EQ(p.power(183), Power::kUpload);
}

TEST(ProjectorSimDevice, StartStatesAndFaults) {
    struct Case {
        const char* name;
        Power state;
        double cooldown;
        const char* fault;
        double t;
        char code;
        Answer want;
    };
    const Case cases[] = {
        {"standby start", Power::kStandby, 10, nullptr, 0, 'Q', {0, 0, 0, 0}},
        {"standby start, upload", Power::kStandby, 10, nullptr, 0, 'U', {0, 1, 0, 0}},
        {"cooling start counts from 0", Power::kCooling, 25, nullptr, 5, 'Q', {0, 2, 0x00, 0x20}},
        {"no cool-down", Power::kOn, 0, nullptr, 0, 'S', {0, 0, 0, 0}},
        {"refuse-standby", Power::kOn, 10, "refuse-standby", 0, 'S', {1, 1, 0, 0}},
        {"status3", Power::kStandby, 10, "status3", 0, 'Q', {0, 3, 0, 0}},
        {"stay-cooling", Power::kCooling, 2, "stay-cooling", 500, 'Q', {0, 2, 0, 0}},
        {"stay-cooling, upload", Power::kCooling, 2, "stay-cooling", 500, 'U', {1, 2, 0, 0}},
    };
    for (const Case& c : cases) {
        DeviceConfig cfg = config(c.state, c.cooldown);
        if (c.fault) {
            ASSERT_TRUE(parse_fault(c.fault, &cfg.faults, nullptr)) << c.name;
        }
        Projector p(cfg, nullptr);
        expect(ask(p, c.code, c.t), c.want, c.name);
    }
}

TEST(ProjectorSimDevice, IdentityBlock) {
    DeviceConfig cfg;
    cfg.model = "MODEL-1234567890";   // exactly 16 characters, no terminator
    cfg.version = "0105";
    Projector p(cfg, nullptr);
    const Bytes r = p.handle_request(Request{'I', 9}, 0);
    Bytes want_block(256, 0);
    want_block[16] = 1;
    for (int i = 0; i < 16; ++i) want_block[19 + i] = static_cast<std::uint8_t>(cfg.model[i]);
    for (int i = 0; i < 4; ++i) want_block[35 + i] = static_cast<std::uint8_t>(cfg.version[i]);
    EXPECT_EQ(Bytes(r.begin() + 5, r.begin() + 261), want_block);
    EXPECT_EQ(r[3], 9);
}

TEST(ProjectorSimDevice, FaultSyntax) {
    const struct { const char* spec; bool ok; } cases[] = {
        {"drop-frame:3", true}, {"corrupt-frame:1,4", true}, {"wrong-seq:2", true}, {"no-reply:7", true},
        {"stay-cooling", true}, {"refuse-standby", true}, {"status3", true}, {"block-size-zero", true},
        {"silent", true}, {"drop-reply:2", true}, {"corrupt-reply:1,3", true}, {"wrong-seq-ack:4", true},
        {"garbage:5", true}, {"garbage", false}, {"wrong-seq-ack:", false}, {"drop-frame", false}, {"drop-frame:", false}, {"drop-frame:x", false},
        {"drop-frame:1,,2", false}, {"silent:1", false}, {"explode", false}};
    for (const auto& c : cases) {
        Faults f;
        std::string why;
        EXPECT_EQ(parse_fault(c.spec, &f, &why), c.ok) << c.spec << ": " << why;
    }
    Faults f;
    ASSERT_TRUE(parse_fault("corrupt-frame:1,4", &f, nullptr));
    EXPECT_EQ(f.corrupt_frame, (std::set<int>{1, 4}));
}
