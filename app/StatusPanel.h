#pragma once
// The message of the status bar's first panel: a label that never asks the window for more
// room. A text longer than the panel is cut with "..." on the screen and shown whole in the
// panel's tooltip; text() keeps the whole message.

#include <QLabel>

namespace halvern {

class StatusMessageLabel : public QLabel {
public:
    explicit StatusMessageLabel(QWidget* parent = nullptr) : QLabel(parent) {}

    // Sets the message and its tooltip.
    void set_message(const QString& text);
    // The text as painted: the message, elided to the label's width.
    QString shown_text() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace halvern
