#pragma once
// A projector's side of the upload link for tests, on a ScriptedDeviceLibrary: it
// acknowledges every frame the system transmits, reassembles the system's messages, and
// answers each message that expects a reply with a reply message of its own (begin, data and
// end frame). Frames and messages are those of projector-sim's encoders, which are checked
// byte for byte against the worked examples on their own: independent of the system's frame
// layer.

#include "projector-sim/Wire.h"
#include "tests/support/ScriptedDeviceLibrary.h"

#include <QByteArray>

#include <cstdint>
#include <set>
#include <vector>

namespace halvern::test {

using Frame = ScriptedDeviceLibrary::Frame;
using sim::put_be;
using sim::sum16;

// Bytes written as hex digits; blanks are skipped.
inline Frame hex_bytes(const char* text) {
    const QByteArray raw = QByteArray::fromHex(text);
    return Frame(raw.begin(), raw.end());
}

// A frame as the device sends it: kind, role, sequence, data, frame count and number.
inline Frame device_frame(std::uint8_t kind, std::uint8_t role, std::uint8_t seq, const Frame& data = {},
                          std::uint8_t frame_count = 1, std::uint8_t frame_number = 1) {
    return sim::encode_frame({kind, role, seq, frame_count, frame_number, data});
}
inline Frame ack(std::uint8_t kind, std::uint8_t seq) { return device_frame(kind, 2, seq); }

// A message as the device sends it: envelope with code and parameter, then data.
inline Frame device_message(std::uint8_t code, const Frame& data = {}, std::uint8_t parameter = 0) {
    return sim::encode_message({code, parameter, data});
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
