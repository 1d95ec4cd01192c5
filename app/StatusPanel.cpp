#include "app/StatusPanel.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace halvern {

void StatusMessageLabel::set_message(const QString& text, const QString& detail) {
    const bool lines_change = detail.isEmpty() != detail_.isEmpty();
    detail_ = detail;
    setText(text);
    setToolTip(detail.isEmpty() ? text : text + QLatin1Char('\n') + detail);
    if (lines_change) updateGeometry();
    update();
}

QStringList StatusMessageLabel::shown_lines() const {
    QStringList lines{text()};
    if (!detail_.isEmpty()) lines << detail_.section(QLatin1Char('\n'), 0, 0);
    for (QString& line : lines) line = fontMetrics().elidedText(line, Qt::ElideRight, contentsRect().width());
    return lines;
}

void StatusMessageLabel::set_room_for(const QString& text) {
    room_for_ = text;
    updateGeometry();
}

int StatusMessageLabel::room() const {
    return room_for_.isEmpty() ? 0 : fontMetrics().horizontalAdvance(room_for_) + 1;
}

int StatusMessageLabel::lacking_room() const { return qMax(0, room() - contentsRect().width()); }

QSize StatusMessageLabel::sizeHint() const { return minimumSizeHint() + QSize(room(), 0); }

QSize StatusMessageLabel::minimumSizeHint() const {
    const QMargins m = contentsMargins();
    const int lines = detail_.isEmpty() ? 1 : 2;
    return QSize(m.left() + m.right(), lines * fontMetrics().height() + m.top() + m.bottom());
}

void StatusMessageLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    drawFrame(&painter);
    QStyleOption option;
    option.initFrom(this);
    style()->drawItemText(&painter, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, option.palette, isEnabled(),
                          shown_lines().join(QLatin1Char('\n')), foregroundRole());
}

}  // namespace halvern
