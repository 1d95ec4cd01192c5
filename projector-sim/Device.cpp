#include "Device.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace halvern::sim {

// ---- Faults ------------------------------------------------------------------------------

namespace {
bool parse_numbers(const std::string& list, std::set<int>* into) {
    std::stringstream ss(list);
    std::string item;
    bool any = false;
    while (std::getline(ss, item, ',')) {
        if (item.empty()) return false;
        char* end = nullptr;
        const long v = std::strtol(item.c_str(), &end, 10);
        if (*end != '\0' || v < 0 || v > 1000000) return false;
        into->insert(static_cast<int>(v));
        any = true;
    }
    return any;
}

std::string strip_mot(const std::string& name) {
    if (name.size() >= 4) {
        std::string ext = name.substr(name.size() - 4);
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".mot") return name.substr(0, name.size() - 4);
    }
    return name;
}

// The machine's monotonic clock, the same for every simulator on it: the logs of several
// projectors tell in which order their uploads began and ended.
std::string machine_clock() {
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    std::ostringstream text;
    text << std::fixed;
    text.precision(6);
    text << " [clock " << s << "]";
    return text.str();
}
}  // namespace

bool parse_fault(const std::string& text, Faults* f, std::string* why) {
    const auto colon = text.find(':');
    const std::string key = text.substr(0, colon);
    const std::string arg = colon == std::string::npos ? "" : text.substr(colon + 1);
    std::set<int>* list = nullptr;
    if (key == "drop-frame") list = &f->drop_frame;
    else if (key == "corrupt-frame") list = &f->corrupt_frame;
    else if (key == "wrong-seq") list = &f->wrong_seq;
    else if (key == "no-reply") list = &f->no_reply;
    else if (key == "drop-reply") list = &f->drop_reply;
    else if (key == "corrupt-reply") list = &f->corrupt_reply;
    else if (key == "wrong-seq-ack") list = &f->wrong_seq_ack;
    else if (key == "garbage") list = &f->garbage;
    if (list) {
        if (!parse_numbers(arg, list)) {
            if (why) *why = key + " needs a number or a comma-separated list of numbers";
            return false;
        }
        return true;
    }
    bool* flag = nullptr;
    if (key == "stay-cooling") flag = &f->stay_cooling;
    else if (key == "refuse-standby") flag = &f->refuse_standby;
    else if (key == "status3") flag = &f->status3;
    else if (key == "block-size-zero") flag = &f->block_size_zero;
    else if (key == "silent") flag = &f->silent;
    else if (key == "keep-version") flag = &f->keep_version;
    if (flag && colon == std::string::npos) {
        *flag = true;
        return true;
    }
    if (why) *why = "unknown fault '" + text + "'";
    return false;
}

const char* power_name(Power p) {
    switch (p) {
    case Power::kOn: return "on";
    case Power::kCooling: return "cooling";
    case Power::kStandby: return "standby";
    case Power::kUpload: return "upload";
    }
    return "?";
}

std::uint16_t to_bcd(unsigned seconds) {
    seconds = std::min(seconds, 9999u);
    return static_cast<std::uint16_t>(((seconds / 1000) << 12) | ((seconds / 100 % 10) << 8) |
                                      ((seconds / 10 % 10) << 4) | (seconds % 10));
}

// ---- Projector ---------------------------------------------------------------------------

Projector::Projector(DeviceConfig config, Logger log)
    : cfg_(std::move(config)), log_(std::move(log)), power_(cfg_.state), version_(cfg_.version) {}

void Projector::update(double now) {
    if (power_ == Power::kCooling && !cfg_.faults.stay_cooling &&
        now - cooling_since_ >= cfg_.cooldown_seconds)
        power_ = Power::kStandby;
}

Power Projector::power(double now) {
    update(now);
    return power_;
}

unsigned Projector::remaining_cooldown(double now) {
    update(now);
    if (power_ != Power::kCooling) return 0;
    const double left = cfg_.cooldown_seconds - (now - cooling_since_);
    return left <= 0 ? 0 : static_cast<unsigned>(std::ceil(left));
}

std::uint8_t Projector::status_byte(double now) {
    if (cfg_.faults.status3) return 3;
    switch (power(now)) {
    case Power::kStandby: return 0;
    case Power::kCooling: return 2;
    case Power::kOn:
    case Power::kUpload: return 1;
    }
    return 1;
}

std::size_t Projector::block_size() const {
    return cfg_.block_message_size > kEnvelopeSize ? cfg_.block_message_size - kEnvelopeSize : 0;
}

Bytes Projector::handle_request(const Request& r, double now) {
    Bytes block(kReplyBlockSize, 0);
    block[16] = 1;
    std::uint8_t result = 0;
    std::ostringstream line;
    line << "cmd " << static_cast<char>(r.code) << " #" << int(r.number) << " -> ";
    auto put_status = [&] {
        block[19] = status_byte(now);
        const std::uint16_t bcd = power(now) == Power::kCooling ? to_bcd(remaining_cooldown(now)) : 0;
        block[20] = static_cast<std::uint8_t>(bcd >> 8);
        block[21] = static_cast<std::uint8_t>(bcd & 0xFF);
        line << "status " << int(block[19]) << " (" << power_name(power(now));
        if (power(now) == Power::kCooling) line << ", " << remaining_cooldown(now) << " s left";
        line << ")";
    };
    switch (r.code) {
    case 'Q':
        put_status();
        break;
    case 'S':
        update(now);
        if (cfg_.faults.refuse_standby || power_ == Power::kUpload) {
            result = 1;
        } else if (power_ == Power::kOn) {
            cooling_since_ = now;
            power_ = cfg_.cooldown_seconds > 0 || cfg_.faults.stay_cooling ? Power::kCooling : Power::kStandby;
        }
        put_status();
        break;
    case 'U':
        update(now);
        if (power_ == Power::kStandby) power_ = Power::kUpload;
        if (power_ == Power::kUpload) {
            block[19] = 1;
            line << "upload mode" << machine_clock();
        } else {
            result = 1;
            block[19] = status_byte(now);
            line << "refused, status " << int(block[19]) << " (" << power_name(power_) << ")";
        }
        break;
    case 'I':
        for (std::size_t i = 0; i < 16 && i < cfg_.model.size(); ++i)
            block[19 + i] = static_cast<std::uint8_t>(cfg_.model[i]);
        for (std::size_t i = 0; i < 4 && i < version_.size(); ++i)
            block[35 + i] = static_cast<std::uint8_t>(version_[i]);
        line << "model \"" << cfg_.model.substr(0, 16) << "\" version " << version_;
        identified_since_reset_ = true;
        break;
    default:
        result = 2;
        line << "unknown command";
        break;
    }
    if (result) line << " [device result " << int(result) << "]";
    log(line.str());
    return encode_reply(r, result, block);
}

std::optional<Message> Projector::handle_message(const Message& m, double now) {
    update(now);
    std::ostringstream line;
    line << "msg " << int(m.code);
    Message reply{static_cast<std::uint8_t>(m.code + 1), 0, {}};
    const std::size_t b = block_size();
    switch (m.code) {
    case 1:
        power_ = Power::kUpload;
        file_.clear();
        received_blocks_.clear();
        line << " open upload";
        break;
    case 3: {
        std::string v;
        for (std::size_t i = 64; i <= 70 && i < m.data.size(); i += 2) v += static_cast<char>(m.data[i]);
        if (v.size() == 4) pending_version_ = v;
        const std::uint32_t size = cfg_.faults.block_size_zero ? 0 : cfg_.block_message_size;
        reply.data.assign(4, 0);
        put_be(reply.data, 0, size, 4);
        line << " version control file (" << m.data.size() << " data bytes, release version "
             << (v.size() == 4 ? v : std::string("unreadable")) << ") block message size " << size;
        break;
    }
    case 5:
        file_.assign(m.data.begin(), m.data.end());
        file_blocks_ = m.parameter;
        received_blocks_.clear();
        images_[file_] = Bytes(file_blocks_ * b, 0xFF);
        line << " announce " << file_ << " (" << file_blocks_ << " blocks)";
        break;
    case 7:
        received_blocks_[m.parameter] = m.data;
        line << " block " << int(m.parameter) << " (" << m.data.size() + kEnvelopeSize << " bytes)";
        if (m.data.size() != b) line << " [expected " << b << " data bytes]";
        if (m.parameter == 0 || m.parameter > file_blocks_)
            line << " [outside the " << file_blocks_ << " announced]";
        break;
    case 9: {
        line << " flash block " << int(m.parameter);
        auto it = received_blocks_.find(m.parameter);
        if (it == received_blocks_.end() || file_.empty() || m.parameter == 0) {
            line << " [no such block received]";
        } else {
            Bytes& image = images_[file_];
            const std::size_t at = (m.parameter - 1) * b;
            if (image.size() < at + it->second.size()) image.resize(at + it->second.size(), 0xFF);
            std::copy(it->second.begin(), it->second.end(), image.begin() + at);
        }
        break;
    }
    case 11:
        line << " end of file " << file_;
        if (!cfg_.dump_dir.empty() && !file_.empty()) {
            const std::string path = cfg_.dump_dir + "/" + strip_mot(file_) + ".bin";
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            const Bytes& image = images_[file_];
            out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
            line << (out ? " written to " : " [could not write] ") << path;
        }
        break;
    case 13:
        line << " end of upload";
        break;
    case 15:
        power_ = Power::kStandby;
        if (!pending_version_.empty() && !cfg_.faults.keep_version) version_ = pending_version_;
        ++uploads_completed_;
        identified_since_reset_ = false;
        restarted_at_ = now + cfg_.restart_seconds;
        line << " reset -> ";
        if (cfg_.restart_seconds > 0) line << "restarting for " << cfg_.restart_seconds << " s, then ";
        line << "standby, version " << version_;
        if (cfg_.faults.keep_version) line << " (kept, fault)";
        line << machine_clock();
        log(line.str());
        return std::nullopt;
    default:
        line << " unknown code";
        break;
    }
    if (cfg_.faults.no_reply.count(m.code)) {
        line << " -> no reply (fault)";
        log(line.str());
        return std::nullopt;
    }
    line << " -> reply";
    log(line.str());
    return reply;
}

// ---- DeviceLink --------------------------------------------------------------------------

namespace {
constexpr double kPartialTimeout = 2.0;
const char* kind_name(int k) { return k == kBegin ? "begin" : k == kData ? "data" : k == kEnd ? "end" : "?"; }
}  // namespace

DeviceLink::DeviceLink(Projector& device, Logger log, double ack_timeout, int max_transmissions)
    : device_(device), log_(std::move(log)), ack_timeout_(ack_timeout), max_transmissions_(max_transmissions) {}

void DeviceLink::receive(const std::uint8_t* p, std::size_t n, double now) {
    if (device_.restarting(now)) {
        log(std::to_string(n) + " bytes ignored (restarting)");
        return;
    }
    last_input_ = now;
    scanner_.feed(p, n);
    while (auto item = scanner_.next()) {
        switch (item->type) {
        case StreamScanner::Item::kSkipped:
            log("skipped " + std::to_string(item->bytes.size()) + " bytes: " + hex(item->bytes, 16));
            break;
        case StreamScanner::Item::kBadRequest:
            log("request with a wrong check byte ignored: " + hex(item->bytes));
            break;
        case StreamScanner::Item::kRequestItem: {
            if (device_.config().faults.silent && device_.power(now) == Power::kUpload) {
                log("cmd ignored (silent)");
                break;
            }
            const Bytes reply = device_.handle_request(*decode_request(item->bytes.data()), now);
            out_.insert(out_.end(), reply.begin(), reply.end());
            break;
        }
        case StreamScanner::Item::kFrameItem:
            on_frame(item->bytes, now);
            break;
        }
    }
}

void DeviceLink::on_frame(const Bytes& raw_in, double now) {
    Bytes raw = raw_in;
    const bool transmission = raw[11] == kTransmission;
    int k = 0;
    if (transmission) {
        k = ++transmissions_received_;
        const Faults& faults = device_.config().faults;
        if (faults.silent) {
            log("frame " + std::to_string(k) + " ignored (silent)");
            return;
        }
        if (faults.drop_frame.count(k)) {
            log("frame " + std::to_string(k) + " (" + kind_name(raw[10]) + ") dropped (fault)");
            return;
        }
        if (faults.corrupt_frame.count(k)) {
            const std::size_t n = raw.size() - kFrameOverhead;
            raw[n ? 23 + n / 2 : 21] ^= 0x10;
            log("frame " + std::to_string(k) + " corrupted (fault)");
        }
    }
    std::string why;
    auto f = decode_frame(raw, &why);
    if (!f) {
        log("frame " + (k ? std::to_string(k) + " " : std::string()) + "rejected: " + why + ", not acknowledged");
        return;
    }
    if (transmission) {
        const bool wrong = device_.config().faults.wrong_seq.count(k) > 0;
        if (wrong) log("frame " + std::to_string(k) + " acknowledged with a wrong sequence byte (fault)");
        bump_ack_ = wrong;
        on_transmission(*f, now);
        bump_ack_ = false;
    } else if (f->role == kAcknowledgement) {
        on_acknowledgement(*f, now);
    } else {
        log("frame with role " + std::to_string(f->role) + " ignored");
    }
}

void DeviceLink::acknowledge(const Frame& f) {
    const auto sequence = static_cast<std::uint8_t>(f.sequence + (bump_ack_ ? 1 : 0));
    bump_ack_ = false;
    put_frame(Frame{f.kind, kAcknowledgement, sequence, 1, 1, {}});
}

void DeviceLink::put_frame(Frame f) {
    const Faults& faults = device_.config().faults;
    if (f.role == kAcknowledgement && faults.wrong_seq_ack.count(++acknowledgements_sent_)) {
        ++f.sequence;
        log("acknowledgement " + std::to_string(acknowledgements_sent_) + " sent with a wrong sequence byte (fault)");
    }
    const int k = ++frames_sent_;
    const std::string what = "sent frame " + std::to_string(k) + " (" + kind_name(f.kind) +
                             (f.role == kAcknowledgement ? " acknowledgement)" : ")");
    if (faults.drop_reply.count(k)) {
        log(what + " dropped (fault)");
        return;
    }
    if (faults.garbage.count(k)) {
        // Noise that a reader must pass over: stray bytes, a lead-in with a length but a wrong
        // header, and a lone E3 right before the frame.
        Bytes noise = {0x00, 0x57, 0xE3, 0xE3, 0x12, 0xA5, 0xC3};
        const Bytes lead = {0xE3, 0x57, 0x01, 0x01, 0x01, 0x03, 0x01, 0x01, 0x00, 0x1B};
        noise.insert(noise.end(), lead.begin(), lead.end());
        std::uint32_t x = 2463534242u ^ static_cast<std::uint32_t>(k);
        for (int i = 0; i < 13 + k % 17; ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            noise.push_back(static_cast<std::uint8_t>(x));
        }
        noise.push_back(0xE3);
        out_.insert(out_.end(), noise.begin(), noise.end());
        log(what + " after " + std::to_string(noise.size()) + " bytes of noise (fault)");
    }
    Bytes raw = encode_frame(f);
    if (faults.corrupt_reply.count(k)) {
        const std::size_t n = raw.size() - kFrameOverhead;
        raw[n ? 23 + n / 2 : 21] ^= 0x10;
        log(what + " corrupted (fault)");
    }
    out_.insert(out_.end(), raw.begin(), raw.end());
}

void DeviceLink::on_transmission(const Frame& f, double now) {
    if (!tx_frames_.empty()) {
        if (f.kind == kEnd) {  // the system repeats its end frame: our acknowledgement went astray
            acknowledge(f);
            return;
        }
        if (f.kind == kBegin) {
            log("system started a new message; the reply in progress is abandoned");
            tx_frames_.clear();
            tx_deadline_.reset();
            tx_waiting_drain_ = false;
        } else {
            log("data frame while sending a reply ignored");
            return;
        }
    }
    switch (f.kind) {
    case kBegin:
        if (rx_ != Rx::kIdle && !rx_message_.empty()) log("begin frame in the middle of a message: starting over");
        acknowledge(f);
        rx_ = Rx::kData;
        rx_message_.clear();
        rx_last_number_ = 0;
        rx_total_ = 0;
        break;
    case kData:
        if (rx_ == Rx::kIdle) {
            log("data frame outside a message ignored");
            return;
        }
        if (rx_last_number_ != 0 && f.frame_number == rx_last_number_) {
            acknowledge(f);  // a retransmission of the frame just taken
            return;
        }
        rx_message_.insert(rx_message_.end(), f.data.begin(), f.data.end());
        rx_last_number_ = f.frame_number;
        rx_total_ = std::max<int>(1, f.frame_count);
        acknowledge(f);
        rx_ = rx_last_number_ >= rx_total_ ? Rx::kEnd : Rx::kData;
        break;
    case kEnd:
        if (rx_ == Rx::kEnd) {
            acknowledge(f);
            message_complete(now);
        } else if (rx_ == Rx::kIdle) {
            acknowledge(f);  // repeated end frame of a message already taken
        } else {
            log("end frame after " + std::to_string(rx_last_number_) + " of " + std::to_string(rx_total_) +
                " data frames ignored");
        }
        break;
    default:
        log("frame of kind " + std::to_string(f.kind) + " ignored");
        break;
    }
}

void DeviceLink::message_complete(double now) {
    rx_ = Rx::kIdle;
    std::string why;
    auto m = decode_message(rx_message_, &why);
    if (!m) {
        log("msg rejected: " + why + " (" + std::to_string(rx_message_.size()) + " bytes: " + hex(rx_message_, 20) + ")");
        return;
    }
    auto reply = device_.handle_message(*m, now);
    if (m->code == 15) reset_seen_ = true;
    if (reply) {
        tx_what_ = "reply " + std::to_string(reply->code);
        start_send(encode_message(*reply));
    }
}

void DeviceLink::start_send(const Bytes& message) {
    tx_frames_ = frames_of_message(message);
    tx_index_ = 0;
    tx_counter_ = 0;
    transmit_current();
}

void DeviceLink::transmit_current() {
    Frame f = tx_frames_[tx_index_];
    f.sequence = static_cast<std::uint8_t>(tx_counter_);
    put_frame(f);
    tx_waiting_drain_ = true;
    tx_deadline_.reset();
}

void DeviceLink::on_acknowledgement(const Frame& f, double) {
    if (tx_frames_.empty()) {
        log("acknowledgement (" + std::string(kind_name(f.kind)) + ", sequence " + std::to_string(f.sequence) +
            ") while sending nothing ignored");
        return;
    }
    const Frame& expected = tx_frames_[tx_index_];
    if (f.kind != expected.kind || f.sequence != tx_counter_) {
        log("acknowledgement (" + std::string(kind_name(f.kind)) + ", sequence " + std::to_string(f.sequence) +
            ") ignored, waiting for " + kind_name(expected.kind) + " " + std::to_string(tx_counter_));
        return;
    }
    ++tx_index_;
    tx_counter_ = 0;
    if (tx_index_ == tx_frames_.size()) {
        tx_frames_.clear();
        tx_deadline_.reset();
        tx_waiting_drain_ = false;
        return;
    }
    transmit_current();
}

void DeviceLink::poll(double now) {
    if (tx_deadline_ && now >= *tx_deadline_) {
        const Frame& f = tx_frames_[tx_index_];
        if (++tx_counter_ >= max_transmissions_) {
            log(tx_what_ + " abandoned: " + kind_name(f.kind) + " frame not acknowledged after " +
                std::to_string(max_transmissions_) + " transmissions");
            tx_frames_.clear();
            tx_deadline_.reset();
        } else {
            log(tx_what_ + ": no acknowledgement, " + kind_name(f.kind) + " frame sent again with sequence " +
                std::to_string(tx_counter_));
            transmit_current();
        }
    }
    if (scanner_.has_partial() && now - last_input_ >= kPartialTimeout) {
        log("incomplete input dropped after a pause");
        scanner_.discard_partial();
    }
}

Bytes DeviceLink::take_output() {
    Bytes b;
    b.swap(out_);
    return b;
}

void DeviceLink::output_drained(double now) {
    if (tx_waiting_drain_ && out_.empty()) {
        tx_waiting_drain_ = false;
        tx_deadline_ = now + ack_timeout_;
    }
}

std::optional<double> DeviceLink::next_deadline() const {
    std::optional<double> d = tx_deadline_;
    if (scanner_.has_partial()) {
        const double p = last_input_ + kPartialTimeout;
        if (!d || p < *d) d = p;
    }
    return d;
}

}  // namespace halvern::sim
