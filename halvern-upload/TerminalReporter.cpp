#include "halvern-upload/TerminalReporter.h"

#include "halvern-upload/Interrupt.h"
#include "halvern-upload/ProgressFormat.h"

namespace halvern::cli {

Answers answers_for(bool yes_option, bool input_is_terminal) {
    if (yes_option) return Answers::Yes;
    return input_is_terminal ? Answers::Terminal : Answers::No;
}

QString box_line(const QString& text) {
    QString line = text;
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return line;
}

TerminalReporter::TerminalReporter(Console& console, Answers answers, GuardedLibrary* library)
    : console_(console), answers_(answers), library_(library) {}

void TerminalReporter::message_box(const QString& text, const QString&) { console_.line(box_line(text)); }

std::optional<bool> parse_answer(const QString& typed) {
    const QString a = typed.trimmed().toLower();
    if (a == QLatin1String("y") || a == QLatin1String("yes")) return true;
    if (a.isEmpty() || a == QLatin1String("n") || a == QLatin1String("no")) return false;
    return std::nullopt;
}

bool TerminalReporter::prompt_answer(const QString& text, Answers answers, bool interrupt_means_yes) {
    const QString prompt = box_line(text) + QStringLiteral(" [y/N] ");
    // A terminal that has hung up can no longer be asked.
    if (answers == Answers::Terminal && interrupt::hung_up()) answers = Answers::No;
    switch (answers) {
    case Answers::Yes:
        console_.line(prompt + QLatin1Char('y'));
        return true;
    case Answers::No:
        console_.line(prompt + QLatin1Char('n'));
        return false;
    case Answers::Terminal:
        break;
    }
    for (;;) {
        console_.prompt(prompt);
        const std::optional<QString> answer = console_.read_answer();
        if (!answer) {  // end of input: No; Ctrl-C where it means Yes
            const bool yes = interrupt_means_yes && interrupt::take();
            console_.end_prompt(yes ? QStringLiteral("y") : QStringLiteral("n"));
            return yes;
        }
        // Standard error that is not the terminal gets the answer, so that its lines read whole.
        console_.end_prompt(answer->toLower());
        if (const std::optional<bool> yes = parse_answer(*answer)) return *yes;
    }
}

bool TerminalReporter::question(const QString& text, const QString&) {
    // Ctrl-C pressed while an earlier step ran is not taken for a stop request here.
    return prompt_answer(text, answers_);
}

void TerminalReporter::show_status(int icon, const QString& text) {
    if (quiet && icon == 1) return;
    if (!text.isEmpty()) console_.line(box_line(text));
}

void TerminalReporter::yield() {
    if (interrupt::take()) offer_stop();
}

void TerminalReporter::pause(int ms) {
    QElapsedTimer clock;  // monotonic
    clock.start();
    for (qint64 left = ms; left > 0; left = ms - clock.elapsed())
        if (interrupt::wait(static_cast<int>(left))) offer_stop();
}

void TerminalReporter::offer_stop() {
    if (!library_ || library_->stopped()) return;
    // --yes answers the upload's own questions, never this one.
    const Answers answers = answers_ == Answers::Yes ? (console_.input_is_terminal() ? Answers::Terminal : Answers::No)
                                                     : answers_;
    // A second Ctrl-C while the question waits means Yes: a run can always be ended from the keyboard.
    console_.set_interrupt_ends_answer(true);
    const bool yes = prompt_answer(kStopQuestion, answers, true);
    console_.set_interrupt_ends_answer(false);
    if (yes) library_->stop();
}

TerminalProgress::TerminalProgress(Console& console, const GuardedLibrary& library, int bar_width)
    : console_(console), library_(library), bar_width_(bar_width) {}

void TerminalProgress::set_progress_maximum(float maximum) {
    if (!loaded_) {
        loaded_ = true;
        value_ = 0.0f;
        printed_percent_ = -1;
        bytes_at_start_ = library_.bytes_sent();
        clock_.start();
    }
    maximum_ = maximum;
}

void TerminalProgress::show_progress() {
    if (console_.error_is_terminal() && !quiet) draw();
}

void TerminalProgress::set_progress_value(float value) {
    value_ = value;
    if (loaded_) draw();
}

void TerminalProgress::draw() {
    const ProgressSample sample{value_, maximum_, library_.bytes_sent() - bytes_at_start_, clock_.elapsed()};
    const bool bar = console_.error_is_terminal();
    if (bar && !quiet) console_.redraw(progress_bar_line(sample, bar_width_));
    if (bar && !trace) return;
    const int due = plain_line_due(printed_percent_, percent_done(sample));
    if (due < 0) return;
    printed_percent_ = due;
    const QString line = progress_plain_line(sample);
    if (trace) trace(line);
    if (!bar && !quiet) console_.line(line);
}

void TerminalProgress::close_progress() {
    if (!loaded_) return;
    loaded_ = false;
    maximum_ = 100.0f;
    value_ = 0.0f;
    // The next line (the status line) ends a progress line drawn in place.
}

}  // namespace halvern::cli
