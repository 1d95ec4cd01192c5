#pragma once
// Test doubles of the reporting interface and the upload view: they record what a person
// would have seen, in order, and answer questions from a script.

#include "common/Reporter.h"
#include "common/UploadView.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <ostream>
#include <vector>

// Readable QString values in test failures.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace halvern::test {

class RecordingReporter : public Reporter {
public:
    // Every box, question and status line, in order:
    //   "box: TEXT"   "box[CAPTION]: TEXT"   "question[CAPTION]: TEXT"   "status N: TEXT"
    QStringList events;
    std::deque<bool> answers;   // Yes = true; when empty every question is answered Yes
    int yields = 0;
    std::vector<int> pauses;    // the length of every pause, in milliseconds; none is waited

    void message_box(const QString& text, const QString& caption = QString()) override {
        events << (caption.isEmpty() ? QStringLiteral("box: ") : QStringLiteral("box[%1]: ").arg(caption)) + text;
    }
    bool question(const QString& text, const QString& caption = QString()) override {
        events << QStringLiteral("question[%1]: ").arg(caption) + text;
        if (answers.empty()) return true;
        const bool a = answers.front();
        answers.pop_front();
        return a;
    }
    void show_status(int icon, const QString& text) override {
        events << QStringLiteral("status %1: ").arg(icon) + text;
    }
    void yield() override { ++yields; }
    void pause(int ms) override { pauses.push_back(ms); }

    // Only the message boxes' texts, innermost first.
    QStringList boxes() const {
        QStringList out;
        for (const QString& e : events)
            if (e.startsWith(QLatin1String("box"))) out << e.mid(e.indexOf(QLatin1String(": ")) + 2);
        return out;
    }
    QString last_status() const {
        for (auto it = events.crbegin(); it != events.crend(); ++it)
            if (it->startsWith(QLatin1String("status"))) return *it;
        return QString();
    }
};

class RecordingView : public UploadView {
public:
    bool busy = false;
    bool loaded = false;
    bool shown = false;
    int busy_changes = 0;
    int maximum_sets = 0;
    int closes = 0;
    float maximum = 100.0f;
    float value = 0.0f;

    void set_busy(bool b) override { busy = b; ++busy_changes; }
    void set_progress_maximum(float m) override {
        if (!loaded) { loaded = true; value = 0.0f; }
        maximum = m;
        ++maximum_sets;
    }
    void show_progress() override { shown = true; }
    float progress_maximum() const override { return maximum; }
    float progress_value() const override { return value; }
    void set_progress_value(float v) override { value = v; }
    void close_progress() override {
        if (loaded) ++closes;
        loaded = shown = false;
        maximum = 100.0f;
        value = 0.0f;
    }
};

}  // namespace halvern::test
