// The frame layer on its own, over a device that answers at once: one 16,384-byte message
// out (a data block: begin frame, two data frames, end frame, each acknowledged) and one
// 20-byte reply in (begin, one data frame of 47 bytes, end, each acknowledged by the layer).
// Counters per iteration: heap allocations, bytes the layer cleared and bytes received.

#include "link/FrameLayer.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<long> g_allocations{0};

}  // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace halvern;

class SilentReporter : public Reporter {
public:
    void message_box(const QString&, const QString&) override {}
    bool question(const QString&, const QString&) override { return false; }
    void show_status(int, const QString&) override {}
    void yield() override {}
    void pause(int) override {}
};

Bytes frame(std::uint8_t kind, std::uint8_t role, std::uint8_t sequence, std::span<const std::uint8_t> data) {
    const std::size_t n = data.size();
    Bytes f(n + kFrameOverhead, 0);
    build_frame_header(f);
    put_big_endian(f, 8, static_cast<std::int64_t>(n + kFrameOverhead), 2);
    f[10] = kind;
    f[11] = role;
    f[12] = sequence;
    f[13] = 1;
    f[14] = 1;
    put_big_endian(f, 15, static_cast<std::int64_t>(n), 4);
    put_big_endian(f, 19, static_cast<std::int64_t>(n), 2);
    put_big_endian(f, 21, compute_checksum(f, 0, 20), 2);
    std::copy(data.begin(), data.end(), f.begin() + kFrameHeaderSize);
    put_big_endian(f, static_cast<std::int64_t>(kFrameHeaderSize + n), n ? compute_checksum(data, 0, static_cast<std::int64_t>(n) - 1) : 0, 2);
    f[n + 25] = 0x7A;
    f[n + 26] = 0xCE;
    return f;
}

// A device that acknowledges every transmission at once and otherwise plays a reply, frame
// after frame.
class InstantDevice : public DeviceLibrary {
public:
    std::vector<Bytes> reply;
    std::size_t next = 0;
    std::int64_t received = 0;

    InstantDevice() {
        // Made once, so that the device itself allocates nothing while it is measured.
        for (std::uint8_t kind = kBeginFrame; kind <= kEndFrame; ++kind)
            for (int sequence = 0; sequence < 6; ++sequence)
                acks[kind][sequence] = frame(kind, kAcknowledgement, static_cast<std::uint8_t>(sequence), {});
    }

    std::int32_t init_port_timeouts(std::int32_t&, const char*, std::int32_t, std::int32_t) override { return 0; }
    std::int32_t close_port(std::int32_t) override { return 0; }
    std::int32_t query_upload_status(std::int32_t, DeviceReply&) override { return 0; }
    std::int32_t request_standby_mode(std::int32_t, DeviceReply&) override { return 0; }
    std::int32_t request_upload_mode(std::int32_t, DeviceReply&) override { return 0; }
    std::int32_t get_proj_info(std::int32_t, DeviceReply&) override { return 0; }
    std::int32_t send_data(std::int32_t, std::span<const std::uint8_t> f, std::int32_t&) override {
        if (f[11] == kTransmission) ack = &acks[f[10]][f[12]];
        return static_cast<std::int32_t>(f.size());
    }
    std::int32_t get_data(std::int32_t, std::span<std::uint8_t> buffer, std::int32_t& out) override {
        const Bytes& f = ack ? *ack : reply[next];
        std::copy(f.begin(), f.end(), buffer.begin());
        out = static_cast<std::int32_t>(f.size());
        received += out;
        if (ack) ack = nullptr;
        else next = (next + 1) % reply.size();
        return 0;
    }

private:
    Bytes acks[4][6];
    const Bytes* ack = nullptr;
};

template <typename Layer>
double zeroed(const Layer& layer) {
    if constexpr (requires { layer.bytes_zeroed(); }) return static_cast<double>(layer.bytes_zeroed());
    else return -1;  // a layer without the counter
}

void report(benchmark::State& state, const FrameLayer& layer, long allocations, double zeroed_before,
            std::int64_t received) {
    state.counters["allocations"] = benchmark::Counter(static_cast<double>(g_allocations - allocations),
                                                       benchmark::Counter::kAvgIterations);
    if (zeroed_before >= 0)
        state.counters["zeroed"] = benchmark::Counter(zeroed(layer) - zeroed_before, benchmark::Counter::kAvgIterations);
    state.counters["received"] = benchmark::Counter(static_cast<double>(received), benchmark::Counter::kAvgIterations);
}

void MessageOut(benchmark::State& state) {
    InstantDevice device;
    SilentReporter reporter;
    const std::int32_t handle = 1;
    FrameLayer layer(device, handle, reporter);
    const Bytes block(16364, 0x5A);
    layer.build_message(7, 1, block);  // the first use sizes the buffers
    layer.send_message();
    const long allocations = g_allocations;
    const double before = zeroed(layer);
    const std::int64_t received = device.received;
    for (auto _ : state) {
        layer.build_message(7, 1, block);
        if (!layer.send_message()) state.SkipWithError("message not delivered");
    }
    report(state, layer, allocations, before, device.received - received);
}
BENCHMARK(MessageOut);

void ReplyIn(benchmark::State& state) {
    InstantDevice device;
    Bytes message(20, 0);
    build_message_header(message);
    put_big_endian(message, 6, 20, 4);
    message[10] = 8;
    put_big_endian(message, 18, compute_checksum(message, 0, 17), 2);
    device.reply = {frame(kBeginFrame, kTransmission, 0, {}), frame(kDataFrame, kTransmission, 0, message),
                    frame(kEndFrame, kTransmission, 0, {})};
    SilentReporter reporter;
    const std::int32_t handle = 1;
    FrameLayer layer(device, handle, reporter);
    layer.receive_message();  // the first use sizes the buffers
    const long allocations = g_allocations;
    const double before = zeroed(layer);
    const std::int64_t received = device.received;
    for (auto _ : state)
        if (!layer.receive_message()) state.SkipWithError("reply not received");
    report(state, layer, allocations, before, device.received - received);
}
BENCHMARK(ReplyIn);

}  // namespace

BENCHMARK_MAIN();
