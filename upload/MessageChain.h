#pragma once
// The reporter a command runs on: everything goes on to the face's reporter as it comes, and
// every box, question (with its answer) and status line is kept in order, so that the command
// can hand back what it showed together with its outcome.

#include "common/Outcome.h"
#include "common/Reporter.h"

namespace halvern {

class MessageChain : public Reporter {
public:
    explicit MessageChain(Reporter& face) : face_(face) {}

    void message_box(const QString& text, const QString& caption = QString()) override {
        messages.push_back({Message::Box, text});
        face_.message_box(text, caption);
    }
    bool question(const QString& text, const QString& caption = QString()) override {
        return keep(text, face_.question(text, caption));
    }
    bool ask(Question which, const QString& text, const QString& caption = QString()) override {
        return keep(text, face_.ask(which, text, caption));
    }
    void show_status(int icon, const QString& text) override {
        messages.push_back({Message::Status, text, icon});
        face_.show_status(icon, text);
    }
    void yield() override { face_.yield(); }
    void pause(int ms) override { face_.pause(ms); }

    // The status line of an ending, its light taken from the outcome; the outcome back.
    Outcome end(Outcome outcome, const QString& text) {
        show_status(status_icon(outcome), text);
        return outcome;
    }
    RoadResult result(Outcome outcome) { return {outcome, std::move(messages)}; }

    std::vector<Message> messages;

private:
    bool keep(const QString& text, bool yes) {
        messages.push_back({Message::Question, text, 0, yes});
        return yes;
    }
    Reporter& face_;
};

}  // namespace halvern
