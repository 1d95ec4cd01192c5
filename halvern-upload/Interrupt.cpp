#include "halvern-upload/Interrupt.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace halvern::cli::interrupt {

namespace {

std::atomic<bool> g_guarded{false};
std::atomic<bool> g_flag{false};
int g_pipe[2] = {-1, -1};  // the handler wakes wait() through it

void on_sigint(int) {
    if (!g_guarded.load()) {
        // Die of the signal itself, so that a calling shell sees the interruption.
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    g_flag.store(true);
    if (g_pipe[1] >= 0) {
        const int saved = errno;
        const char byte = 1;
        [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
        errno = saved;
    }
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
    action.sa_handler = on_sigint;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read of an answer returns
    sigaction(SIGINT, &action, nullptr);
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

int wake_descriptor() {
    make_pipe();
    return g_pipe[0];
}

void clear_wakes() { drain(); }

bool wait(int ms) {
    make_pipe();
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (take()) return true;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{g_pipe[0], POLLIN, 0};
        ::poll(&p, 1, static_cast<int>(left));
    }
}

}  // namespace halvern::cli::interrupt
