#pragma once
// The terminal of halvern-upload: lines and a redrawn progress line on standard error, the
// commands' results on standard output, answers read from standard input. A question goes to
// the terminal the person sees (the controlling terminal) whatever standard error is
// redirected to; standard error then gets the question with its answer as one line.

#include "halvern-upload/TerminalAbilities.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <string>
#include <termios.h>

namespace halvern::cli {

class Console {
public:
    virtual ~Console() = default;
    // One whole line on standard error; a progress line drawn in place is ended first.
    virtual void line(const QString& text) = 0;
    // Text without a line end (a question's prompt); the next line or answer ends it.
    virtual void prompt(const QString& text) = 0;
    // Ends a prompt's line with the answer (nothing when the terminal's echo ended it).
    virtual void end_prompt(const QString& answer) = 0;
    // The progress line drawn in place (standard error is a terminal).
    virtual void redraw(const QString& text) = 0;
    // A block of lines on standard error drawn in place of the block drawn last (standard
    // error is a terminal); any other line or prompt in between starts a new block below it.
    virtual void redraw_lines(const QStringList& lines) {
        for (const QString& l : lines) line(l);
    }
    // A line that takes the place of the block drawn last (an answered question of the live
    // table): the block is erased, the line stays, and the next block is drawn below it.
    // Without a block drawn in place it is a line.
    virtual void line_over_block(const QString& text) { line(text); }
    // The width of the terminal of standard error, in characters, and its height in lines.
    virtual int columns() const { return 80; }
    virtual int rows() const { return 24; }
    // Standard error is a terminal that can redraw lines in place (redraw_lines); otherwise
    // a block is plain lines.
    virtual bool can_redraw() const { return false; }
    // One line on standard output.
    virtual void out(const QString& text) = 0;
    // A line typed on standard input, without its line end; empty at end of input.
    virtual std::optional<QString> read_answer() = 0;
    // What waiting for an answer came to.
    enum class Typed { Nothing, Line, End };
    // Waits up to ms milliseconds for an answer without holding up the caller any longer: Line
    // (in answer) once a whole line was typed, End at the end of input, Nothing when the time
    // is up or a signal came first.
    virtual Typed poll_answer(int ms, QString& answer) {
        (void)ms;
        const std::optional<QString> typed = read_answer();
        if (!typed) return Typed::End;
        answer = *typed;
        return Typed::Line;
    }
    // While held, the terminal neither echoes what is typed nor moves the cursor for it; the
    // caller draws the prompt and typed_so_far() itself (a question below the live table).
    virtual void hold_echo(bool) {}
    virtual QString typed_so_far() const { return QString(); }
    // From now on a Ctrl-C while an answer is read ends the reading as the end of input does
    // (the Ctrl-C stays to be handled); otherwise the reading goes on.
    virtual void set_interrupt_ends_answer(bool) {}

    virtual bool error_is_terminal() const = 0;
    virtual bool input_is_terminal() const = 0;
};

// The process's own standard streams. The terminal's sequences come from its terminfo entry
// (TERM) when standard error is a terminal.
class StdConsole : public Console {
public:
    StdConsole();
    // A terminal with the given abilities on standard error, whatever it is.
    explicit StdConsole(const TerminalAbilities& terminal);
    void line(const QString& text) override;
    void prompt(const QString& text) override;
    void end_prompt(const QString& answer) override;
    void redraw(const QString& text) override;
    void redraw_lines(const QStringList& lines) override;
    void line_over_block(const QString& text) override;
    int columns() const override;
    int rows() const override;
    bool can_redraw() const override { return terminal_.can_redraw(); }
    void out(const QString& text) override;
    std::optional<QString> read_answer() override;
    Typed poll_answer(int ms, QString& answer) override;
    void hold_echo(bool held) override;
    QString typed_so_far() const override { return QString::fromLocal8Bit(typed_.data(), static_cast<qsizetype>(typed_.size())); }
    ~StdConsole() override;
    void set_interrupt_ends_answer(bool ends) override { interrupt_ends_answer_ = ends; }
    bool error_is_terminal() const override { return error_tty_; }
    bool input_is_terminal() const override { return input_tty_; }

private:
    void end_open_line();
    bool error_tty_ = false;
    bool input_tty_ = false;
    bool open_line_ = false;  // a prompt or a progress line waits for its line end
    int question_fd_ = 2;     // where prompts go: the controlling terminal when standard error is not it
    bool asked_open_ = false; // a prompt on question_fd_ (not standard error) waits for its line end
    QString asked_;           // that prompt, for the line standard error gets
    std::string typed_;       // typed of an answer not yet ended
    bool echo_held_ = false;
    termios saved_mode_{};    // the terminal's mode before the echo was held
    int block_lines_ = 0;     // lines of the block drawn last, right above the cursor
    int redrawn_length_ = 0;  // of the progress line drawn last
    TerminalAbilities terminal_;
    // Until input is there (true) or Ctrl-C came (false).
    bool wait_for_input();
    bool interrupt_ends_answer_ = false;
};

}  // namespace halvern::cli
