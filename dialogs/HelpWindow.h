#pragma once
// The help window: the program's help file "upload.hlp" (HTML written for this program) in a
// browser window of its own, at its contents or at one of its numbered topics. One window per
// owner, created on first use, reused while it is open and destroyed when it closes.
//
// HelpKeyFilter turns the help key F1 into the help window at the topic of the focused
// control: the dynamic property "helpTopic" of that widget or of its nearest parent carrying
// one, or the contents when none does.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QTextBrowser;

namespace halvern {

// Help topics, as the "helpTopic" property of a control or a window names them.
inline constexpr int kHelpTopicSearch = 9;
inline constexpr int kHelpTopicUpload = 11;
inline constexpr int kHelpTopicComPort = 12;
inline constexpr int kHelpTopicWorkingDirectory = 13;

// The anchor of a topic in the help file: 9 "topic9" (device search), 11 "topic11" (upload),
// 12 "comport" (serial port dialog), 13 "workdir" (working directory dialog); 0 and every
// number the file has no topic for give "contents".
QString help_anchor(int topic);

// The "helpTopic" property of widget or its nearest parent that has one as a positive whole
// number; 0 when none has.
int help_topic_of(const QWidget* widget);

// The sentence shown instead of the page when the help file cannot be shown; empty when
// help_file is a readable file.
QString help_file_problem(const QString& help_file);

class HelpWindow : public QWidget {
    Q_OBJECT
public:
    // A top-level window, owned by owner (may be null), centred on the screen, closed by
    // Escape and deleted when it closes.
    explicit HelpWindow(QWidget* owner = nullptr);

    // Shows help_file at topic (0 the contents), raises the window and gives it the focus.
    // A missing or unreadable file is reported in the window in a sentence naming the path.
    void show_help(const QString& help_file, int topic = 0);

    QTextBrowser* browser() const { return browser_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTextBrowser* browser_ = nullptr;
    bool centred_ = false;
};

// The help window of owner: the open one, or a new one.
HelpWindow& help_window_for(QWidget* owner);

// Shows help_file at topic in owner's help window.
void show_help(QWidget* owner, const QString& help_file, int topic = 0);

class HelpKeyFilter : public QObject {
    Q_OBJECT
public:
    // help_file gives the path at the moment F1 is pressed; owner owns the help window, except
    // while a modal dialog is open, which then owns it so that it is not blocked.
    HelpKeyFilter(QWidget* owner, std::function<QString()> help_file, QObject* parent = nullptr);

    // Installed on the application or on a window: F1 without modifiers opens the help.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> owner_;
    std::function<QString()> help_file_;
};

}  // namespace halvern
