#include "halvern-upload/Interrupt.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <utility>
#include <unistd.h>

namespace halvern::cli::interrupt {

namespace {

std::atomic<bool> g_guarded{false};
std::atomic<bool> g_flag{false};
std::atomic<int> g_terminations{0};
std::atomic<bool> g_hung_up{false};
int g_pipe[2] = {-1, -1};  // the handlers wake wait() through it

void wake() {
    if (g_pipe[1] < 0) return;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void on_sigint(int) {
    if (!g_guarded.load()) {
        // Die of the signal itself, so that a calling shell sees the interruption.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    g_flag.store(true);
    wake();
}

void on_sigterm(int) {
    g_terminations.fetch_add(1);
    wake();
}

void on_sighup(int) {
    g_hung_up.store(true);
    wake();
}

void drain() {
    char buf[64];
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], buf, sizeof buf) > 0) {
    }
}

void make_pipe() {
    if (g_pipe[0] >= 0) return;
    if (::pipe(g_pipe) != 0) return;
    for (int fd : g_pipe) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
}

}  // namespace

void install() {
    make_pipe();
    struct sigaction action {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read of an answer returns
    const std::pair<int, void (*)(int)> handlers[] = {{SIGINT, on_sigint}, {SIGTERM, on_sigterm}, {SIGHUP, on_sighup}};
    for (const auto& [signal, handler] : handlers) {
        action.sa_handler = handler;
        sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

int terminations() { return g_terminations.load(); }
bool hung_up() { return g_hung_up.load(); }

void raise_termination() {
    make_pipe();
    on_sigterm(SIGTERM);
}

void forget_stops() {
    g_terminations.store(0);
    g_hung_up.store(false);
}

void raise_hang_up() {
    make_pipe();
    on_sighup(SIGHUP);
}

void set_guarded(bool guarded) { g_guarded.store(guarded); }
bool guarded() { return g_guarded.load(); }

bool take() {
    drain();
    return g_flag.exchange(false);
}

bool pending() { return g_flag.load(); }

void raise_flag() {
    make_pipe();
    g_flag.store(true);
    const char byte = 1;
    if (g_pipe[1] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    }
}

void sleep_until_signal(int ms) {
    make_pipe();
    pollfd p{g_pipe[0], POLLIN, 0};
    ::poll(&p, 1, ms);
}

int wake_descriptor() {
    make_pipe();
    return g_pipe[0];
}

void clear_wakes() { drain(); }

void wake_up() { wake(); }

bool wait(int ms, bool wake_on_termination) {
    make_pipe();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (take()) return true;
        if (wake_on_termination && terminations() > 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{g_pipe[0], POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
}

}  // namespace halvern::cli::interrupt
