#pragma once
// The upload's boxes, questions and status lines on the terminal, and its progress window as
// a progress line. A message box is one line on standard error with the box's words; a
// question prints its text and reads y or n; the status line is printed as a line and kept,
// since the last one tells how the command ended.

#include "halvern-upload/Console.h"
#include "halvern-upload/GuardedLibrary.h"
#include "common/Reporter.h"
#include "common/UploadView.h"

#include <QElapsedTimer>

#include <functional>

#include <optional>

namespace halvern::cli {

// How questions are answered: --yes, on the terminal, or No without a terminal.
enum class Answers { Yes, Terminal, No };

Answers answers_for(bool yes_option, bool input_is_terminal);

// A typed answer: true for y or yes, false for n, no or nothing (any letter case), empty for
// anything else (the question is asked again).
std::optional<bool> parse_answer(const QString& typed);

// One line of a box: a carriage return or line feed inside the text becomes one blank.
QString box_line(const QString& text);

inline const QString kStopQuestion =
    QStringLiteral("Stop now? The projector may not start until it is uploaded again.");

class TerminalReporter : public Reporter {
public:
    // library may be null (commands without a transfer).
    TerminalReporter(Console& console, Answers answers, GuardedLibrary* library);

    // -q: the status lines of progress and success (icon 1) are not shown.
    bool quiet = false;

    void message_box(const QString& text, const QString& caption = QString()) override;
    bool question(const QString& text, const QString& caption = QString()) override;
    void show_status(int icon, const QString& text) override;
    // Checks for Ctrl-C: asks kStopQuestion on the terminal (without one the answer is No)
    // and on Yes stops the library, so that the next frame fails.
    void yield() override;
    // Sleeps in poll on the Ctrl-C pipe; a Ctrl-C meanwhile is handled as a yield handles it
    // and the wait goes on to its end.
    void pause(int ms) override;

private:
    bool prompt_answer(const QString& text, Answers answers, bool interrupt_means_yes = false);
    // After a Ctrl-C: asks kStopQuestion and on Yes stops the library.
    void offer_stop();

    Console& console_;
    Answers answers_;
    GuardedLibrary* library_;
};

class TerminalProgress : public UploadView {
public:
    TerminalProgress(Console& console, const GuardedLibrary& library, int bar_width = 30);

    // -q: nothing is drawn.
    bool quiet = false;
    // Told of the plain progress line every tenth, drawn or not (the port's log).
    std::function<void(const QString&)> trace;

    void set_busy(bool) override {}
    void set_progress_maximum(float maximum) override;
    void show_progress() override;
    float progress_maximum() const override { return maximum_; }
    float progress_value() const override { return value_; }
    void set_progress_value(float value) override;
    void close_progress() override;

private:
    void draw();

    Console& console_;
    const GuardedLibrary& library_;
    int bar_width_;
    bool loaded_ = false;
    float maximum_ = 100.0f;
    float value_ = 0.0f;
    int printed_percent_ = -1;
    std::int64_t bytes_at_start_ = 0;
    QElapsedTimer clock_;
};

}  // namespace halvern::cli
