// projector-sim: a simulated projector on the master side of a pseudo-terminal.
// The system under test opens the slave side as its serial port.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "Device.h"

using namespace halvern::sim;

namespace {

volatile sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

// Seconds since the program started; the device's clock starts at 0.
double now_s() {
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return duration<double>(steady_clock::now() - start).count();
}

void log_line(const std::string& s) {
    std::fprintf(stderr, "%s\n", s.c_str());
    std::fflush(stderr);
}

const char* kUsage =
    "usage: projector-sim [options]\n"
    "Plays a projector on the master side of a pseudo-terminal; the slave side is the port.\n"
    "  --link PATH         make PATH a symbolic link to the slave device (an old link is replaced)\n"
    "  --model TEXT        model name, up to 16 characters (default SIM-PROJECTOR)\n"
    "  --version NNNN      operating-system version, four characters (default 0100)\n"
    "  --state on|cooling|standby   power state at start (default on)\n"
    "  --cooldown SECONDS  cool-down time after a standby request (default 10)\n"
    "  --restart SECONDS   after the reset message answer nothing for SECONDS (a restart), then\n"
    "                      come back in standby (default 0: at once)\n"
    "  --block-size N      block message size given in the reply to the version message (default 16384)\n"
    "  --dump DIR          write each uploaded file as DIR/NAME.bin at its end-of-file message\n"
    "  --baud-pace         move bytes no faster than the baud rate set on the line\n"
    "  --fault FAULT       inject a fault; may be repeated:\n"
    "                        drop-frame:K  corrupt-frame:K  wrong-seq:K   (K: the K-th frame of\n"
    "                        role 1 received, from 1, retransmissions included; K may be a list 2,5)\n"
    "                        drop-reply:K  corrupt-reply:K  garbage:K   (K: the K-th frame the\n"
    "                        device sends, acknowledgements included, from 1, retransmissions included)\n"
    "                        wrong-seq-ack:K   (K: the K-th acknowledgement the device sends)\n"
    "                        no-reply:CODE  stay-cooling  refuse-standby  status3\n"
    "                        block-size-zero  silent\n"
    "                        keep-version   (the reset keeps the old operating-system version)\n"
    "  --ack-timeout SECONDS  wait this long for the system's acknowledgement of a reply frame\n"
    "                      before sending it again (default 1)\n"
    "  --once              exit 0 after one completed upload (the reset message); with --restart,\n"
    "                      once an identity request after the restart has been answered\n"
    "  --help              this text\n"
    "Prints \"ready SLAVEPATH\" on standard error once the port can be opened.\n"
    "Exit codes: 0 stopped by SIGTERM/SIGINT or --once done; 1 set-up failure; 2 bad arguments.\n";

int usage_error(const std::string& text) {
    std::fprintf(stderr, "projector-sim: %s\n%s", text.c_str(), kUsage);
    return 2;
}

// A number of seconds from 0 to 9999 (fractions allowed).
bool seconds_of(const std::string& text, double* out) {
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(value >= 0 && value <= 9999)) return false;
    *out = value;
    return true;
}

unsigned baud_of(speed_t s) {
    switch (s) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

// A paced line wakes at least this often while bytes cross it, so that the bytes are passed
// on in small steps as they arrive, and exactly when the last of them has crossed.
constexpr double kPaceStep = 0.005;

}  // namespace

int main(int argc, char** argv) {
    DeviceConfig cfg;
    std::string link_path;
    bool pace = false;
    bool once = false;
    double ack_timeout = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](std::string* out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        std::string v;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--baud-pace") {
            pace = true;
        } else if (a == "--once") {
            once = true;
        } else if (a == "--link") {
            if (!value(&link_path) || link_path.empty()) return usage_error("--link needs a path");
        } else if (a == "--model") {
            if (!value(&v) || v.size() > 16) return usage_error("--model needs a text of at most 16 characters");
            cfg.model = v;
        } else if (a == "--version") {
            if (!value(&v) || v.size() != 4) return usage_error("--version needs four characters, e.g. 0105");
            cfg.version = v;
        } else if (a == "--state") {
            if (!value(&v)) return usage_error("--state needs on, cooling or standby");
            if (v == "on") cfg.state = Power::kOn;
            else if (v == "cooling") cfg.state = Power::kCooling;
            else if (v == "standby") cfg.state = Power::kStandby;
            else return usage_error("--state needs on, cooling or standby");
        } else if (a == "--cooldown" || a == "--restart") {
            if (!value(&v)) return usage_error(a + " needs seconds");
            if (!seconds_of(v, a == "--cooldown" ? &cfg.cooldown_seconds : &cfg.restart_seconds))
                return usage_error(a + " needs seconds from 0 to 9999");
        } else if (a == "--block-size") {
            char* end = nullptr;
            if (!value(&v)) return usage_error("--block-size needs a number");
            const long n = std::strtol(v.c_str(), &end, 10);
            if (*end || n < 0 || n > 0x7FFFFFFF) return usage_error("--block-size needs a number");
            cfg.block_message_size = static_cast<std::uint32_t>(n);
        } else if (a == "--ack-timeout") {
            char* end = nullptr;
            if (!value(&v)) return usage_error("--ack-timeout needs seconds");
            ack_timeout = std::strtod(v.c_str(), &end);
            if (*end || !(ack_timeout >= 0.01 && ack_timeout <= 60)) return usage_error("--ack-timeout needs seconds from 0.01 to 60");
        } else if (a == "--dump") {
            if (!value(&cfg.dump_dir) || cfg.dump_dir.empty()) return usage_error("--dump needs a directory");
        } else if (a == "--fault") {
            std::string why;
            if (!value(&v)) return usage_error("--fault needs a fault");
            if (!parse_fault(v, &cfg.faults, &why)) return usage_error(why);
        } else {
            return usage_error("unknown option " + a);
        }
    }

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) {
        std::fprintf(stderr, "projector-sim: openpty: %s\n", std::strerror(errno));
        return 1;
    }
    // A raw line until the system sets its own; no echo of what the device sends.
    termios tio {};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B38400);
    cfsetospeed(&tio, B38400);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    const char* name = ttyname(slave);
    if (!name) {
        std::fprintf(stderr, "projector-sim: ttyname: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string slave_path = name;

    if (!cfg.dump_dir.empty()) {
        struct stat st {};
        if (stat(cfg.dump_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            std::fprintf(stderr, "projector-sim: --dump %s is not a directory\n", cfg.dump_dir.c_str());
            return 1;
        }
    }

    now_s();
    Projector device(cfg, log_line);
    DeviceLink link(device, log_line);
    link.set_ack_timeout(ack_timeout);

    if (!link_path.empty()) {
        struct stat st {};
        if (lstat(link_path.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "projector-sim: %s exists and is not a symbolic link\n", link_path.c_str());
                return 1;
            }
            unlink(link_path.c_str());
        }
        if (symlink(slave_path.c_str(), link_path.c_str()) != 0) {
            std::fprintf(stderr, "projector-sim: symlink %s: %s\n", link_path.c_str(), std::strerror(errno));
            return 1;
        }
    }
    log_line("ready " + slave_path);

    Bytes pending;
    std::size_t pending_at = 0;
    LinePace in_line, out_line;  // system to device, device to system: independent
    std::uint64_t bytes_in = 0, bytes_out = 0;  // everything that crossed the line
    bool finishing = false;
    double finish_deadline = 0;
    std::uint8_t buf[65536];
    double shown_rate = -1;

    while (!g_stop) {
        double now = now_s();
        double rate = 0;
        if (pace) {
            termios t {};
            if (tcgetattr(master, &t) == 0) rate = baud_of(cfgetospeed(&t)) / 10.0;
            // Every change of the rate set on the line, so that a test can tell which rate
            // each exchange ran at.
            if (rate != shown_rate) {
                shown_rate = rate;
                log_line("line at " + std::to_string(static_cast<long>(rate * 10)) + " baud");
            }
        }

        // When --once is done: wait until the system has read the last acknowledgement.
        if (finishing && pending_at == pending.size()) {
            int unread = 0;
            ioctl(slave, FIONREAD, &unread);
            // The pty moves bytes to the slave side a moment after they are written.
            if ((unread == 0 && now >= finish_deadline - 1.8) || now >= finish_deadline) break;
        }

        double timeout = 0.2;
        if (auto d = link.next_deadline()) timeout = std::min(timeout, std::max(0.0, *d - now));
        // The next wake-up of a paced line: when the bytes waiting now, or a step of them,
        // have crossed it.
        auto wake_for = [&](const LinePace& line, std::size_t waiting) {
            const std::size_t step = std::max<std::size_t>(1, std::size_t(rate * kPaceStep));
            timeout = std::min(timeout, std::max(0.0, line.ready_at(std::min(waiting, step), rate) - now));
        };
        pollfd p {master, 0, 0};
        std::size_t in_budget = sizeof buf;
        if (rate > 0) {
            int avail = 0;
            ioctl(master, FIONREAD, &avail);
            if (avail <= 0) {
                in_line.idle();  // POLLIN tells when the next byte is handed over
            } else {
                in_line.start(now);
                in_budget = std::min(in_budget, in_line.due(now, rate));
                if (in_budget == 0) wake_for(in_line, std::size_t(avail));
            }
        }
        if (in_budget > 0) p.events |= POLLIN;
        std::size_t out_budget = pending.size() - pending_at;
        if (out_budget > 0) {
            if (rate > 0) {
                out_budget = std::min(out_budget, out_line.due(now, rate));
                if (out_budget == 0) wake_for(out_line, pending.size() - pending_at);
            }
            if (out_budget > 0) p.events |= POLLOUT;
        }
        if (finishing) timeout = std::min(timeout, 0.02);

        // To the microsecond: a byte at 38,400 baud takes 260 of them.
        timespec wait_for {};
        wait_for.tv_sec = static_cast<time_t>(timeout);
        wait_for.tv_nsec = static_cast<long>((timeout - double(wait_for.tv_sec)) * 1e9);
        const int r = ppoll(&p, 1, &wait_for, nullptr);
        if (r < 0 && errno != EINTR) {
            std::fprintf(stderr, "projector-sim: poll: %s\n", std::strerror(errno));
            break;
        }
        now = now_s();
        if (r > 0 && (p.revents & POLLIN)) {
            if (rate > 0) {
                // Bytes that have just been handed over start crossing the line now.
                in_line.start(now);
                in_budget = std::min(in_budget, in_line.due(now, rate));
            }
            const ssize_t n = in_budget > 0 ? read(master, buf, in_budget) : 0;
            if (n > 0) {
                bytes_in += std::uint64_t(n);
                if (rate > 0) in_line.take(std::size_t(n), rate);
                link.receive(buf, std::size_t(n), now);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                if (errno == EIO) std::this_thread::sleep_for(std::chrono::milliseconds(20));
                else log_line(std::string("read: ") + std::strerror(errno));
            }
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        link.poll(now);

        Bytes more = link.take_output();
        if (!more.empty()) {
            if (pending_at == pending.size()) {
                pending.clear();
                pending_at = 0;
                if (rate > 0) out_line.start(now);  // an idle line starts the new bytes now
            }
            pending.insert(pending.end(), more.begin(), more.end());
            if (rate > 0) out_budget = std::min(pending.size() - pending_at, out_line.due(now, rate));
            else out_budget = pending.size() - pending_at;
        }
        if (out_budget > 0 && pending_at < pending.size()) {
            const std::size_t count = std::min(out_budget, pending.size() - pending_at);
            const ssize_t n = write(master, pending.data() + pending_at, count);
            if (n > 0) {
                bytes_out += std::uint64_t(n);
                pending_at += std::size_t(n);
                if (rate > 0) out_line.take(std::size_t(n), rate);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) {
                log_line(std::string("write: ") + std::strerror(errno));
            }
        }
        if (pending_at == pending.size()) {
            out_line.idle();
            link.output_drained(now_s());
        }

        // A restart keeps the device up until the system has seen it come back.
        if (once && !finishing && link.reset_seen() && (cfg.restart_seconds <= 0 || device.identified_since_reset())) {
            finishing = true;
            finish_deadline = now + 2.0;
        }
    }

    if (!link_path.empty()) unlink(link_path.c_str());
    close(master);
    close(slave);
    if (finishing) log_line("upload complete, exiting");
    log_line("line bytes: received " + std::to_string(bytes_in) + ", sent " + std::to_string(bytes_out));
    return 0;
}
