#pragma once
// The message of the status bar's first panel: a label that never asks the window for more
// room than it needs to stay whole. A text longer than the panel is cut with "..." on the
// screen and shown whole in the panel's tooltip; text() keeps the whole message.
//
// A message may carry a detail (why a port did not open): a second line under the message,
// and in the tooltip after it.

#include <QLabel>

namespace halvern {

class StatusMessageLabel : public QLabel {
public:
    explicit StatusMessageLabel(QWidget* parent = nullptr) : QLabel(parent) {}

    // Sets the message, its detail (may be empty) and the tooltip.
    void set_message(const QString& text, const QString& detail = QString());
    QString detail() const { return detail_; }
    // The lines as painted: the message and the first line of its detail, each elided to the
    // label's width.
    QStringList shown_lines() const;
    QString shown_text() const { return shown_lines().value(0); }

    // The width the label asks for: room for text whole. Its minimum stays small.
    void set_room_for(const QString& text);
    // How much wider the label would have to be for that text to stand whole, in the font it
    // has now; 0 when it does.
    int lacking_room() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int room() const;

    QString detail_;
    QString room_for_;
};

}  // namespace halvern
