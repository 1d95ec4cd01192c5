#pragma once
// The program's look on top of the platform's style: the focused button carries a clear
// dotted ring inside its edge, so that a person driving the windows by keyboard sees where
// Enter and Space go.

#include <QProxyStyle>

namespace halvern {

class FocusRingStyle : public QProxyStyle {
public:
    // key: the name of the style to draw everything else with; empty: the default style.
    explicit FocusRingStyle(const QString& key) : QProxyStyle(key) {}

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
};

// Puts FocusRingStyle over the application's current style (once).
void use_focus_ring_style();

}  // namespace halvern
