#pragma once
// The reporting interface on real windows: modal message boxes without an icon, Yes/No
// questions, the main window's status line, and yields to the event loop.

#include "common/Reporter.h"

#include <functional>

class QWidget;

namespace halvern {

class QtReporter : public Reporter {
public:
    // parent: the window the boxes stand over (may be null); status: the main window's
    // show_status (may be empty: status lines are then dropped).
    explicit QtReporter(QWidget* parent = nullptr, std::function<void(int, const QString&)> status = {});

    void message_box(const QString& text, const QString& caption = QString()) override;
    bool question(const QString& text, const QString& caption = QString()) override;
    void show_status(int icon, const QString& text) override;
    void yield() override;
    // A nested event loop that sleeps until an event or the end of the wait.
    void pause(int ms) override;

private:
    QWidget* parent_;
    std::function<void(int, const QString&)> status_;
};

}  // namespace halvern
