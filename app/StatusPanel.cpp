#include "app/StatusPanel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace halvern {

void StatusMessageLabel::set_message(const QString& text) {
    setText(text);
    setToolTip(text);
}

QString StatusMessageLabel::shown_text() const {
    return fontMetrics().elidedText(text(), Qt::ElideRight, contentsRect().width());
}

QSize StatusMessageLabel::sizeHint() const { return minimumSizeHint(); }

QSize StatusMessageLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    return QSize(m.left() + m.right(), fontMetrics().height() + m.top() + m.bottom());
}

void StatusMessageLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, option.palette, isEnabled(),
                          shown_text(), foregroundRole());
}

}  // namespace halvern
