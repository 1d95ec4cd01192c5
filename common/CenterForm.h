#pragma once
// center_form: every window of the system places itself in the middle of the screen when it
// loads. The position is taken over the window's outer size; a window larger than the screen
// gets a negative position.

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace halvern {

inline void center_form(QWidget& form) {
    QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect area = screen->geometry();
    const QSize outer = form.frameGeometry().size();
    const float left = area.width() / 2.0f - outer.width() / 2.0f;
    const float top = area.height() / 2.0f - outer.height() / 2.0f;
    form.move(area.x() + static_cast<int>(left), area.y() + static_cast<int>(top));
}

}  // namespace halvern
