#pragma once
// The simulated projector: its power state and device commands, the upload session that
// assembles and flashes the announced files, and the link engine that speaks the framed,
// acknowledged protocol of upload mode. Nothing here touches a file descriptor: bytes go in
// through DeviceLink::receive, come out of DeviceLink::take_output, and time is passed in.

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "Wire.h"

namespace halvern::sim {

using Logger = std::function<void(const std::string&)>;

// Faults that a test can ask for. On what the device receives, frame numbers count the
// frames of role 1 (transmissions) that the device receives from the system, from 1,
// retransmissions included. On what it sends, they count every frame the device sends
// (its acknowledgements and the frames of its own messages, retransmissions included), and
// for wrong_seq_ack its acknowledgements alone.
struct Faults {
    std::set<int> drop_frame;     // received, neither checked nor acknowledged
    std::set<int> corrupt_frame;  // one data byte flipped before the device checks it
    std::set<int> wrong_seq;      // acknowledged with the sequence byte plus one
    std::set<int> drop_reply;     // a frame the device never sends
    std::set<int> corrupt_reply;  // a frame sent with one byte flipped (data, or the header checksum)
    std::set<int> wrong_seq_ack;  // an acknowledgement sent with the sequence byte plus one
    std::set<int> garbage;        // noise on the line before a frame the device sends
    std::set<int> no_reply;       // message codes that get no reply message
    bool stay_cooling = false;
    bool refuse_standby = false;
    bool status3 = false;
    bool block_size_zero = false;
    bool silent = false;
    bool keep_version = false;    // the reset does not take the uploaded release's version
};
// Parses one --fault argument into *f; false with a reason in *why when it is not understood.
bool parse_fault(const std::string& text, Faults* f, std::string* why);

enum class Power { kOn, kCooling, kStandby, kUpload };
const char* power_name(Power p);

struct DeviceConfig {
    std::string model = "SIM-PROJECTOR";
    std::string version = "0100";   // four characters
    Power state = Power::kOn;
    double cooldown_seconds = 10;
    double restart_seconds = 0;     // after the reset message: silent this long, then in standby
    std::uint32_t block_message_size = 16384;
    std::string dump_dir;           // empty: nothing written
    Faults faults;
};

// Four packed BCD digits of a number of seconds (capped at 9999): 180 gives 01 80.
std::uint16_t to_bcd(unsigned seconds);

class Projector {
public:
    Projector(DeviceConfig config, Logger log);

    // Device commands. Time is in seconds on any monotonic scale.
    Bytes handle_request(const Request& r, double now);
    // One message of upload mode; the reply, or nullopt when none is sent.
    std::optional<Message> handle_message(const Message& m, double now);

    Power power(double now);
    unsigned remaining_cooldown(double now);
    const std::string& version() const { return version_; }
    int uploads_completed() const { return uploads_completed_; }
    // Restarting after the reset message: the device answers nothing.
    bool restarting(double now) const { return now < restarted_at_; }
    // An identity request was answered since the last reset (and after its restart).
    bool identified_since_reset() const { return identified_since_reset_; }
    // The images committed so far, by announced name (with ".mot"), block count × block size.
    const std::map<std::string, Bytes>& images() const { return images_; }
    const DeviceConfig& config() const { return cfg_; }

private:
    void update(double now);
    std::uint8_t status_byte(double now);
    void log(const std::string& s) { if (log_) log_(s); }
    std::size_t block_size() const;

    DeviceConfig cfg_;
    Logger log_;
    Power power_;
    double cooling_since_ = 0;
    std::string version_;
    std::string pending_version_;
    int uploads_completed_ = 0;
    double restarted_at_ = 0;
    bool identified_since_reset_ = false;

    // The file being uploaded.
    std::string file_;
    unsigned file_blocks_ = 0;
    std::map<unsigned, Bytes> received_blocks_;
    std::map<std::string, Bytes> images_;
};

// The frame layer of the device side. Receives the system's messages frame by frame,
// acknowledging each frame with its own sequence byte, and sends each reply as begin, data
// and end frames, waiting for the system's acknowledgement of each and retransmitting (with
// the sequence byte counting up) when none comes in time.
class DeviceLink {
public:
    DeviceLink(Projector& device, Logger log, double ack_timeout = 1.0, int max_transmissions = 5);
    // The wait for the system's acknowledgement before a frame of a reply is sent again.
    void set_ack_timeout(double seconds) { ack_timeout_ = seconds; }

    void receive(const std::uint8_t* p, std::size_t n, double now);
    // Timers: retransmission, and dropping a half-received request or frame after a pause.
    void poll(double now);
    // Everything that should go out on the line, in order.
    Bytes take_output();
    // The caller has written all output to the line; the acknowledgement clock starts now.
    void output_drained(double now);
    // When poll next has something to do; nullopt if nothing is pending.
    std::optional<double> next_deadline() const;
    // True once the reset message (15) has been received and acknowledged.
    bool reset_seen() const { return reset_seen_; }
    void clear_reset_seen() { reset_seen_ = false; }

private:
    void on_frame(const Bytes& raw, double now);
    void on_transmission(const Frame& f, double now);
    void on_acknowledgement(const Frame& f, double now);
    void acknowledge(const Frame& f);
    // Puts one frame on the way out, with the faults asked for on what the device sends.
    void put_frame(Frame f);
    void message_complete(double now);
    void start_send(const Bytes& message);
    void transmit_current();
    void log(const std::string& s) { if (log_) log_(s); }

    Projector& device_;
    Logger log_;
    double ack_timeout_;
    int max_transmissions_;
    StreamScanner scanner_;
    Bytes out_;
    double last_input_ = 0;
    int transmissions_received_ = 0;
    int frames_sent_ = 0;
    int acknowledgements_sent_ = 0;

    // Receiving a message.
    enum class Rx { kIdle, kData, kEnd } rx_ = Rx::kIdle;
    Bytes rx_message_;
    int rx_last_number_ = 0;
    int rx_total_ = 0;

    // Sending a reply.
    std::vector<Frame> tx_frames_;
    std::size_t tx_index_ = 0;
    int tx_counter_ = 0;
    bool tx_waiting_drain_ = false;
    std::optional<double> tx_deadline_;
    std::string tx_what_;

    bool reset_seen_ = false;
    bool bump_ack_ = false;   // the acknowledgement about to be sent gets a wrong sequence byte
};

}  // namespace halvern::sim
