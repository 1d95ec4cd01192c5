#include "app/FocusRingStyle.h"

#include <QApplication>
#include <QPainter>
#include <QStyleOptionButton>

namespace halvern {

void FocusRingStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                 const QWidget* widget) const {
    QProxyStyle::drawControl(element, option, painter, widget);
    if (element != CE_PushButton || !(option->state & State_HasFocus) || !(option->state & State_Enabled)) return;
    const QRect ring = subElementRect(SE_PushButtonFocusRect, option, widget).adjusted(1, 1, -1, -1);
    painter->save();
    QPen pen(option->palette.color(QPalette::Active, QPalette::ButtonText), 1, Qt::DotLine);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(ring.adjusted(0, 0, -1, -1));
    painter->restore();
}

void use_focus_ring_style() {
    if (dynamic_cast<FocusRingStyle*>(QApplication::style())) return;
    QApplication::setStyle(new FocusRingStyle(QApplication::style()->name()));
}

}  // namespace halvern
