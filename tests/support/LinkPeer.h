#pragma once
// A projector's side of the upload link for tests, on a ScriptedDeviceLibrary: it
// acknowledges every frame the system transmits, reassembles the system's messages, and
// answers each message that expects a reply with a reply message of its own (begin, data and
// end frame). Frames are built here by hand, independently of the system's frame layer.

#include "tests/support/ScriptedDeviceLibrary.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <set>
#include <vector>

namespace halvern::test {

using Frame = ScriptedDeviceLibrary::Frame;

// Bytes written as hex digits; blanks are skipped.
inline Frame hex_bytes(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return Frame(raw.begin(), raw.end());
}

inline void put_be(Frame& f, std::size_t at, std::uint64_t v, int n) {
    for (int k = 0; k < n; ++k) f[at + k] = static_cast<std::uint8_t>(v >> (8 * (n - 1 - k)));
}
inline std::uint32_t sum16(const Frame& f, std::size_t from, std::size_t to) {
    std::uint32_t s = 0;
    for (std::size_t i = from; i <= to && i < f.size(); ++i) s += f[i];
    return s % 65536;
}

// A frame as the device sends it: kind, role, sequence, data, frame count.
inline Frame device_frame(std::uint8_t kind, std::uint8_t role, std::uint8_t seq, const Frame& data = {},
                          std::uint8_t frame_count = 1, std::uint8_t frame_number = 1) {
    Frame f(27 + data.size(), 0);
    const std::uint8_t lead[8] = {0xE3, 0x57, 1, 1, 1, 3, 1, 1};
    std::copy(lead, lead + 8, f.begin());
    put_be(f, 8, f.size(), 2);
    f[10] = kind;
    f[11] = role;
    f[12] = seq;
    f[13] = frame_count;
    f[14] = frame_number;
    put_be(f, 15, data.size(), 4);
    put_be(f, 19, data.size(), 2);
    put_be(f, 21, sum16(f, 0, 20), 2);
    std::copy(data.begin(), data.end(), f.begin() + 23);
    put_be(f, 23 + data.size(), data.empty() ? 0 : sum16(data, 0, data.size() - 1), 2);
    f[25 + data.size()] = 0x7A;
    f[26 + data.size()] = 0xCE;
    return f;
}
inline Frame ack(std::uint8_t kind, std::uint8_t seq) { return device_frame(kind, 2, seq); }

// A message as the device sends it: envelope with code and parameter, then data.
inline Frame device_message(std::uint8_t code, const Frame& data = {}, std::uint8_t parameter = 0) {
    Frame m(20 + data.size(), 0);
    const std::uint8_t lead[6] = {1, 1, 1, 3, 1, 1};
    std::copy(lead, lead + 6, m.begin());
    put_be(m, 6, m.size(), 4);
    m[10] = code;
    m[11] = parameter;
    put_be(m, 12, data.size(), 4);
    std::copy(data.begin(), data.end(), m.begin() + 20);
    put_be(m, 16, sum16(m, 20, m.size() - 1), 2);
    put_be(m, 18, sum16(m, 0, 17), 2);
    return m;
}

class LinkPeer {
public:
    struct Message {
        std::uint8_t code = 0;
        std::uint8_t parameter = 0;
        Frame bytes;  // the whole message, envelope included
        Frame data() const { return Frame(bytes.begin() + 20, bytes.end()); }
    };

    std::vector<Message> messages;       // every message of the system, in order
    std::set<std::uint8_t> silent_codes; // codes the device does not answer
    // After this many messages the device goes quiet (no acknowledgements, no replies).
    int quiet_after = -1;
    std::int32_t block_message_size = 16384;  // the reply to the version control message

    explicit LinkPeer(ScriptedDeviceLibrary& lib) {
        lib.on_send = [this](ScriptedDeviceLibrary& l, const Frame& f) { on_frame(l, f); };
    }

    // Data of every data-block message (code 7), in order.
    Frame block_bytes() const {
        Frame out;
        for (const Message& m : messages)
            if (m.code == 7) {
                const Frame d = m.data();
                out.insert(out.end(), d.begin(), d.end());
            }
        return out;
    }
    std::vector<int> codes() const {
        std::vector<int> out;
        for (const Message& m : messages) out.push_back(m.code);
        return out;
    }

private:
    void on_frame(ScriptedDeviceLibrary& lib, const Frame& f) {
        if (f.size() < 27 || f[11] != 1) return;  // our own acknowledgements come back here too
        if (quiet()) return;
        lib.reads.push_back({kOk, ack(f[10], f[12])});
        if (f[10] == 1) {
            assembling_.clear();
        } else if (f[10] == 2) {
            assembling_.insert(assembling_.end(), f.begin() + 23, f.end() - 4);
        } else if (f[10] == 3 && !assembling_.empty()) {
            Message m{assembling_[10], assembling_[11], assembling_};
            assembling_.clear();
            messages.push_back(m);
            if (m.code != 15 && !silent_codes.count(m.code)) reply(lib, m);
        }
    }
    bool quiet() const { return quiet_after >= 0 && static_cast<int>(messages.size()) >= quiet_after; }
    void reply(ScriptedDeviceLibrary& lib, const Message& m) {
        Frame data;
        if (m.code == 3) {
            data.assign(4, 0);
            put_be(data, 0, static_cast<std::uint32_t>(block_message_size), 4);
        }
        const Frame msg = device_message(static_cast<std::uint8_t>(m.code + 1), data);
        lib.reads.push_back({kOk, device_frame(1, 1, 0)});
        lib.reads.push_back({kOk, device_frame(2, 1, 0, msg)});
        lib.reads.push_back({kOk, device_frame(3, 1, 0)});
    }

    Frame assembling_;
};

}  // namespace halvern::test
