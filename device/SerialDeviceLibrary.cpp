// The link and port library: device commands and upload frames over a line (device/Line.h).
// Every call runs to completion on the caller's thread with the line's blocking waits, so it
// needs no event loop and works the same inside a running application. The wire format is that
// of docs/device-link.md.

#include "device/SerialDeviceLibrary.h"

#include "device/FrameHunter.h"
#include "device/Line.h"
#include "device/PortDiagnosis.h"

#include <QByteArray>
#include <QDeadlineTimer>

#include <limits>
#include <map>

namespace halvern {

namespace {

constexpr int kRequestSize = 6;
constexpr int kReplySize = 263;
constexpr int kReplyBlockOffset = 5;
constexpr int kReplyBlockSize = 256;

constexpr std::uint8_t kCodeQueryStatus = 0x51;
constexpr std::uint8_t kCodeStandby = 0x53;
constexpr std::uint8_t kCodeUploadMode = 0x55;
constexpr std::uint8_t kCodeIdentity = 0x49;

const QByteArray kFrameLeadIn(reinterpret_cast<const char*>(kFrameLeadInBytes.data()), 2);

std::uint8_t byte_at(const QByteArray& bytes, qsizetype i) { return static_cast<std::uint8_t>(bytes[i]); }

}  // namespace

struct SerialDeviceLibrary::Private {
    struct Port {
        std::unique_ptr<Line> line;
        std::int32_t baud_rate = 0;
        std::int32_t timeout_ms = 0;
        std::uint8_t request_number = 0;
        // Bytes read from the line but not yet handed out: whatever followed the last frame.
        QByteArray pending;
    };

    SettingsStore* settings = nullptr;  // where the port map is read and defaults written
    PortMap ports_given;                // the port map without a settings store
    std::map<std::int32_t, Port> ports;
    QString open_failure;
    std::int32_t next_handle = 1;

    Port* find(std::int32_t handle) {
        auto it = ports.find(handle);
        return it == ports.end() ? nullptr : &it->second;
    }

    std::int32_t take_handle() {
        // Numbers are never reused within a run; past the top of the range start again at 1,
        // skipping any still held.
        auto advance = [](std::int32_t h) { return h >= std::numeric_limits<std::int32_t>::max() ? 1 : h + 1; };
        while (ports.count(next_handle) != 0) next_handle = advance(next_handle);
        const std::int32_t h = next_handle;
        next_handle = advance(h);
        return h;
    }

    PortTarget resolve(const QString& name) {
        if (!settings) return resolve_port(name, ports_given);
        const PortMap map = PortMap::read(*settings);
        const int com = com_number(name);
        const QString key = QStringLiteral("COM%1").arg(com);
        if (com != 0 && !settings->contains(QStringLiteral("Ports"), key))
            settings->set(QStringLiteral("Ports"), key, default_com_device(com));
        return resolve_port(name, map);
    }

    // Discards whatever the port holds unread, in the line and in the library.
    static void discard_input(Port& port) {
        port.line->discard_input();
        port.pending.clear();
    }

    // Reads until port.pending holds at least count bytes or the deadline has passed.
    static std::int32_t fill(Port& port, qsizetype count, const QDeadlineTimer& deadline) {
        while (port.pending.size() < count)
            if (const auto r = port.line->read(port.pending, deadline); r != kOk) return r;
        return kOk;
    }

    // Writes bytes and waits until they have left on the line. The bound is the handle's
    // time-out plus the time the bytes take at the line's rate.
    static std::int32_t write_all(Port& port, const char* data, qsizetype size) {
        const qint64 line_ms = size * 10 * 1000 / std::max(port.baud_rate, 1);
        return port.line->write(data, size, QDeadlineTimer(port.timeout_ms + line_ms));
    }

    std::int32_t device_command(std::int32_t handle, std::uint8_t code, DeviceReply& reply) {
        Port* port = find(handle);
        if (!port) return kInvalidHandle;

        char request[kRequestSize] = {'\xA5', '\x3C', static_cast<char>(code),
                                      static_cast<char>(port->request_number++), 0, 0};
        std::uint8_t check = 0;
        for (int i = 0; i < kRequestSize - 1; ++i) check += static_cast<std::uint8_t>(request[i]);
        request[kRequestSize - 1] = static_cast<char>(check);

        // A late reply to an earlier request must never be taken for the answer to this one.
        discard_input(*port);
        if (const auto r = write_all(*port, request, kRequestSize); r != kOk) return r;

        const QDeadlineTimer deadline(port->timeout_ms);
        if (const auto r = fill(*port, kReplySize, deadline); r != kOk) return r;
        const QByteArray answer = port->pending.left(kReplySize);
        port->pending.remove(0, kReplySize);

        std::uint32_t sum = 0;
        for (int i = 0; i < kReplySize - 2; ++i) sum += byte_at(answer, i);
        const std::uint32_t stated = (byte_at(answer, kReplySize - 2) << 8) | byte_at(answer, kReplySize - 1);
        if (byte_at(answer, 0) != 0xA5 || byte_at(answer, 1) != 0xC3 || byte_at(answer, 2) != code ||
            answer[3] != request[3] || (sum & 0xFFFF) != stated)
            return kBadFrame;

        for (int i = 0; i < kReplyBlockSize; ++i) reply[i] = byte_at(answer, kReplyBlockOffset + i);
        const std::uint8_t result = byte_at(answer, 4);
        return result == 0 ? kOk : 256 + result;
    }
};

SerialDeviceLibrary::SerialDeviceLibrary(SettingsStore& settings) : d(std::make_unique<Private>()) {
    d->settings = &settings;
}

SerialDeviceLibrary::SerialDeviceLibrary(const PortMap& ports) : d(std::make_unique<Private>()) {
    d->ports_given = ports;
}

SerialDeviceLibrary::~SerialDeviceLibrary() {
    for (auto& [handle, port] : d->ports) port.line->close();
}

std::int32_t SerialDeviceLibrary::init_port_timeouts(std::int32_t& handle, const char* port_name,
                                                     std::int32_t baud_rate, std::int32_t timeout_ms) {
    // A refusal here has no cause to tell, and the cause of an earlier failure is not this one's.
    d->open_failure.clear();
    if (!port_name || baud_rate <= 0 || timeout_ms <= 0) return kInvalidParameter;
    const QString path = d->resolve(QString::fromLocal8Bit(port_name)).path;
    if (path.isEmpty()) return kPortNotFound;

    // One device is one port, whatever name reaches it.
    auto line = make_line(path);
    for (const auto& [h, port] : d->ports)
        if (port.line->identity() == line->identity()) {
            d->open_failure = describe_port_trouble(PortTrouble::kHeldHere, path);
            return kAccessDenied;
        }
    if (const auto r = line->open(baud_rate, timeout_ms); r != kOk) {
        d->open_failure = line->open_failure();
        return r;
    }

    Private::Port port;
    port.line = std::move(line);
    port.baud_rate = baud_rate;
    port.timeout_ms = timeout_ms;
    const std::int32_t h = d->take_handle();
    d->ports.emplace(h, std::move(port));
    handle = h;
    return kOk;
}

std::int32_t SerialDeviceLibrary::close_port(std::int32_t handle) {
    auto it = d->ports.find(handle);
    if (it == d->ports.end()) return kInvalidHandle;
    it->second.line->close();
    d->ports.erase(it);
    return kOk;
}

std::int32_t SerialDeviceLibrary::query_upload_status(std::int32_t handle, DeviceReply& reply) {
    return d->device_command(handle, kCodeQueryStatus, reply);
}

std::int32_t SerialDeviceLibrary::request_standby_mode(std::int32_t handle, DeviceReply& reply) {
    return d->device_command(handle, kCodeStandby, reply);
}

std::int32_t SerialDeviceLibrary::request_upload_mode(std::int32_t handle, DeviceReply& reply) {
    return d->device_command(handle, kCodeUploadMode, reply);
}

std::int32_t SerialDeviceLibrary::get_proj_info(std::int32_t handle, DeviceReply& reply) {
    return d->device_command(handle, kCodeIdentity, reply);
}

std::int32_t SerialDeviceLibrary::send_data(std::int32_t handle, std::span<const std::uint8_t> frame,
                                            std::int32_t& out) {
    // The result convention of this call is "nonzero: sent"; the reason for a failure goes to
    // the out-value.
    Private::Port* port = d->find(handle);
    if (!port) {
        out = kInvalidHandle;
        return 0;
    }
    if (frame.size() < static_cast<std::size_t>(kMinFrameLength) ||
        frame.size() > static_cast<std::size_t>(kMaxFrameLength)) {
        out = kInvalidParameter;
        return 0;
    }
    out = Private::write_all(*port, reinterpret_cast<const char*>(frame.data()),
                             static_cast<qsizetype>(frame.size()));
    return out == kOk ? static_cast<std::int32_t>(frame.size()) : 0;
}

std::int32_t SerialDeviceLibrary::get_data(std::int32_t handle, std::span<std::uint8_t> buffer, std::int32_t& out) {
    out = 0;
    Private::Port* port = d->find(handle);
    if (!port) return kInvalidHandle;
    if (buffer.empty()) return kInvalidParameter;
    QByteArray& pending = port->pending;
    const QDeadlineTimer deadline(port->timeout_ms);

    // Everything before a sound frame is dropped, damaged frames included; the whole hunt
    // shares the one time-out.
    int rejected = 0;
    qsizetype length = 0;
    for (;;) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(pending.constData());
        const FrameHunt hunt = hunt_frame({bytes, static_cast<std::size_t>(pending.size())}, buffer.size());
        rejected += hunt.rejected;
        pending.remove(0, static_cast<qsizetype>(hunt.discard));
        if (hunt.frame != 0) {
            length = static_cast<qsizetype>(hunt.frame);
            break;
        }
        if (const auto r = Private::fill(*port, static_cast<qsizetype>(hunt.need), deadline); r != kOk) {
            // A frame that cannot be completed in time is given up from its lead-in on; the
            // next hunt starts right after it.
            if (pending.startsWith(kFrameLeadIn)) pending.remove(0, kFrameLeadIn.size());
            return r == kTimeout && rejected > 0 ? kBadFrame : r;
        }
    }

    std::copy_n(reinterpret_cast<const std::uint8_t*>(pending.constData()), length, buffer.begin());
    pending.remove(0, length);
    out = length;
    return kOk;
}

std::int32_t SerialDeviceLibrary::read_timeout_ms(std::int32_t handle) const {
    const auto it = d->ports.find(handle);
    return it == d->ports.end() ? 0 : it->second.timeout_ms;
}

QString SerialDeviceLibrary::open_failure() const { return d->open_failure; }

}  // namespace halvern
