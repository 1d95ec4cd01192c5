#include "halvern-upload/Console.h"

#include "halvern-upload/Interrupt.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

namespace halvern::cli {

namespace {

void write_all(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= n;
    }
}

}  // namespace

bool StdConsole::wait_for_input() {
    // Ctrl-C may reach any thread of the program, or come between the prompt and the read:
    // the interrupt's own descriptor is watched beside the input, so that it is never missed.
    for (;;) {
        if (interrupt::pending()) return false;
        pollfd watched[2] = {{0, POLLIN, 0}, {interrupt::wake_descriptor(), POLLIN, 0}};
        const int n = ::poll(watched, watched[1].fd >= 0 ? 2 : 1, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 || watched[0].revents != 0) return true;  // input, its end or its error: read() tells
        if (interrupt::pending()) return false;
        interrupt::clear_wakes();  // a wake-up whose Ctrl-C has been dealt with already
    }
}

StdConsole::StdConsole() : error_tty_(::isatty(2) == 1), input_tty_(::isatty(0) == 1) {
    // Standard error sent elsewhere (2>log): the questions go to the terminal the person
    // sees, and the log gets each with its answer.
    if (input_tty_ && !error_tty_) {
        question_fd_ = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (question_fd_ < 0) question_fd_ = ::isatty(1) == 1 ? 1 : 0;
    }
    if (error_tty_) terminal_ = terminal_abilities(qgetenv("TERM"));
}

StdConsole::StdConsole(const TerminalAbilities& terminal)
    : error_tty_(true), input_tty_(::isatty(0) == 1), terminal_(terminal) {}

StdConsole::~StdConsole() {
    hold_echo(false);
    if (question_fd_ > 2) ::close(question_fd_);
}

void StdConsole::hold_echo(bool held) {
    if (held == echo_held_ || !input_tty_) return;
    if (held) {
        if (::tcgetattr(0, &saved_mode_) != 0) return;
        termios raw = saved_mode_;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        if (::tcsetattr(0, TCSANOW, &raw) != 0) return;
    } else {
        ::tcsetattr(0, TCSANOW, &saved_mode_);
    }
    echo_held_ = held;
    typed_.clear();
}

Console::Typed StdConsole::poll_answer(int ms, QString& answer) {
    pollfd watched[2] = {{0, POLLIN, 0}, {interrupt::wake_descriptor(), POLLIN, 0}};
    const int n = ::poll(watched, watched[1].fd >= 0 ? 2 : 1, ms);
    if (n <= 0 || watched[0].revents == 0) return Typed::Nothing;
    // What is there, byte by byte, never waiting for more.
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(0, &c, 1);
        if (got < 0 && errno == EINTR) return Typed::Nothing;
        const bool end = got <= 0 || (echo_held_ && c == 4 && typed_.empty());  // Ctrl-D
        if (end && typed_.empty()) return Typed::End;
        if (end || c == '\n' || (echo_held_ && c == '\r')) {
            answer = QString::fromLocal8Bit(typed_.data(), static_cast<qsizetype>(typed_.size())).trimmed();
            typed_.clear();
            // A typed line ends the prompt's line on the terminal itself (its echo).
            if (!echo_held_) {
                if (error_tty_) open_line_ = false;
                asked_open_ = false;
            }
            return Typed::Line;
        }
        if (echo_held_ && (c == 0x7f || c == 0x08)) {
            if (!typed_.empty()) typed_.pop_back();
        } else if (static_cast<unsigned char>(c) >= 0x20) {
            typed_ += c;
        }
        pollfd more{0, POLLIN, 0};
        if (::poll(&more, 1, 0) <= 0 || more.revents == 0) return Typed::Nothing;
    }
}

void StdConsole::end_open_line() {
    if (open_line_) write_all(2, "\n");
    open_line_ = false;
    block_lines_ = 0;
    redrawn_length_ = 0;
}

void StdConsole::line(const QString& text) {
    end_open_line();
    write_all(2, (text + QLatin1Char('\n')).toLocal8Bit());
}

void StdConsole::prompt(const QString& text) {
    end_open_line();
    if (question_fd_ != 2) {
        write_all(question_fd_, text.toLocal8Bit());
        asked_ = text;
        asked_open_ = true;
        return;
    }
    write_all(2, text.toLocal8Bit());
    open_line_ = true;
}

void StdConsole::end_prompt(const QString& answer) {
    if (question_fd_ != 2) {
        if (asked_open_) write_all(question_fd_, (answer + QLatin1Char('\n')).toLocal8Bit());
        asked_open_ = false;
        line(asked_ + answer);
        return;
    }
    if (open_line_) write_all(2, (answer + QLatin1Char('\n')).toLocal8Bit());
    open_line_ = false;
}

void StdConsole::redraw(const QString& text) {
    // Back to the line's start, the line, then erase whatever a longer line left to the right;
    // a terminal that cannot erase gets blanks over it.
    QByteArray bytes = "\r" + text.toLocal8Bit();
    if (!terminal_.erase_to_line_end.isEmpty())
        bytes += terminal_.erase_to_line_end;
    else if (redrawn_length_ > text.size())
        bytes += QByteArray(redrawn_length_ - text.size(), ' ');
    redrawn_length_ = static_cast<int>(text.size());
    write_all(2, bytes);
    open_line_ = true;
}

void StdConsole::redraw_lines(const QStringList& lines) {
    if (!can_redraw()) {
        Console::redraw_lines(lines);
        return;
    }
    if (open_line_) end_open_line();
    // Up to the first line of the last block, then every line rewritten and the rest of it
    // erased; a block that grew goes on below, one that shrank leaves nothing behind.
    QByteArray text = terminal_.up(block_lines_);
    for (const QString& l : lines)
        text += terminal_.back_to_line_start + l.toLocal8Bit() + terminal_.erase_to_line_end + '\n';
    text += terminal_.erase_to_screen_end;
    write_all(2, text);
    // A line wider than the terminal (a long question) takes more than one row on screen.
    const int width = std::max(1, columns());
    block_lines_ = 0;
    for (const QString& l : lines) block_lines_ += std::max<int>(1, static_cast<int>((l.size() + width - 1) / width));
}

void StdConsole::line_over_block(const QString& text) {
    if (can_redraw() && block_lines_ > 0 && !open_line_) {
        write_all(2, terminal_.up(block_lines_) + terminal_.back_to_line_start + terminal_.erase_to_screen_end);
        block_lines_ = 0;
    }
    line(text);
}

int StdConsole::columns() const {
    winsize size{};
    if (error_tty_ && ::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

int StdConsole::rows() const {
    winsize size{};
    if (error_tty_ && ::ioctl(2, TIOCGWINSZ, &size) == 0 && size.ws_row > 0) return size.ws_row;
    return 24;
}

void StdConsole::out(const QString& text) { write_all(1, (text + QLatin1Char('\n')).toLocal8Bit()); }

std::optional<QString> StdConsole::read_answer() {
    // Read byte by byte so that nothing typed after the line end is taken from the terminal.
    std::string text;
    for (;;) {
        if (interrupt_ends_answer_ && !wait_for_input()) return std::nullopt;
        char c = 0;
        const ssize_t n = ::read(0, &c, 1);
        if (n < 0 && errno == EINTR && interrupt_ends_answer_ && interrupt::pending()) return std::nullopt;
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (text.empty()) return std::nullopt;
            break;
        }
        if (c == '\n') break;
        text += c;
    }
    // A typed answer ends the prompt's line on the terminal itself (its echo).
    if (input_tty_ && error_tty_) open_line_ = false;
    asked_open_ = false;
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())).trimmed();
}

}  // namespace halvern::cli
