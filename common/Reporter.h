#pragma once
// The one way the Upload module talks to the person in front of the screen: modal message
// boxes (OK only), Yes/No questions, the status line of the main window, yields to the event
// loop and waits that sleep in it. The windows implement it with Qt; tests implement it with a recorder.

#include <QString>
#include <QStringList>

namespace halvern {

// The questions of the upload road, by what they ask: a face that answers for the person (a
// fleet of projectors, --yes) tells them apart by this, never by their words.
enum class Question { ConfirmUpload, PowerOff };

class Reporter {
public:
    virtual ~Reporter() = default;
    // Modal box with an OK button only and no icon. An empty caption means the application
    // title "Halvern!".
    virtual void message_box(const QString& text, const QString& caption = QString()) = 0;
    // Modal question with Yes and No buttons, no icon; true only for Yes.
    virtual bool question(const QString& text, const QString& caption = QString()) = 0;
    // One of the road's own questions; asked like any other unless a face answers it itself.
    virtual bool ask(Question, const QString& text, const QString& caption = QString()) {
        return question(text, caption);
    }
    // The status line of the main window: icon 1 progress and success, 2 cancelled, 3 failure.
    virtual void show_status(int icon, const QString& text) = 0;
    // Let the event loop run once, so that windows repaint.
    virtual void yield() = 0;
    // Wait ms milliseconds asleep: windows stay responsive and what the person does meanwhile
    // is handled (a click, Ctrl-C), but the wait uses no processor time of its own. Returns
    // once the time is up.
    virtual void pause(int ms) = 0;
};

// No one in front of a screen: every box is kept, every question answered No, nothing waits.
// For checks made before anything is sent, whose boxes are shown afterwards or not at all.
class CollectingReporter : public Reporter {
public:
    QStringList boxes;
    void message_box(const QString& text, const QString& = QString()) override { boxes << text; }
    bool question(const QString&, const QString& = QString()) override { return false; }
    void show_status(int, const QString&) override {}
    void yield() override {}
    void pause(int) override {}
};

}  // namespace halvern
