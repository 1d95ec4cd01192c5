#include "app/Pictures.h"

#include <QColor>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace halvern {

QPixmap status_light(const QString& key, int side) {
    QColor colour = Qt::gray;
    if (key == kStatusIconKeys[0]) colour = QColor(0x20, 0xc0, 0x30);
    else if (key == kStatusIconKeys[1]) colour = QColor(0xf0, 0xc8, 0x10);
    else if (key == kStatusIconKeys[2]) colour = QColor(0xe0, 0x20, 0x20);

    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF lamp(1, 1, side - 2, side - 2);
    QRadialGradient glow(lamp.center() - QPointF(side / 6.0, side / 6.0), side / 1.6);
    glow.setColorAt(0.0, colour.lighter(170));
    glow.setColorAt(0.6, colour);
    glow.setColorAt(1.0, colour.darker(160));
    p.setPen(QPen(colour.darker(220), 1));
    p.setBrush(glow);
    p.drawEllipse(lamp);
    return pixmap;
}

QPixmap maker_logo(int width, int height) {
    QPixmap pixmap(width, height);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = width, h = height;

    // The beam: a widening fan from the lens to the right edge.
    const QPointF lens(w * 0.42, h * 0.55);
    QPainterPath beam;
    beam.moveTo(lens + QPointF(0, -h * 0.08));
    beam.lineTo(w * 0.98, h * 0.12);
    beam.lineTo(w * 0.98, h * 0.92);
    beam.lineTo(lens + QPointF(0, h * 0.08));
    beam.closeSubpath();
    QLinearGradient beam_fill(lens, QPointF(w, lens.y()));
    beam_fill.setColorAt(0.0, QColor(255, 230, 120, 230));
    beam_fill.setColorAt(1.0, QColor(255, 230, 120, 40));
    p.setPen(Qt::NoPen);
    p.setBrush(beam_fill);
    p.drawPath(beam);

    // The body with its lens.
    const QRectF body(w * 0.04, h * 0.35, w * 0.36, h * 0.42);
    QLinearGradient body_fill(body.topLeft(), body.bottomLeft());
    body_fill.setColorAt(0.0, QColor(0x3a, 0x5f, 0xa8));
    body_fill.setColorAt(1.0, QColor(0x1b, 0x2f, 0x5e));
    p.setPen(QPen(QColor(0x10, 0x1c, 0x38), 1.5));
    p.setBrush(body_fill);
    p.drawRoundedRect(body, h * 0.06, h * 0.06);
    p.setBrush(QColor(0xd8, 0xe4, 0xf4));
    p.drawEllipse(lens, h * 0.1, h * 0.1);
    p.setBrush(QColor(0x10, 0x1c, 0x38));
    p.drawEllipse(lens, h * 0.05, h * 0.05);
    // Feet.
    p.setBrush(QColor(0x10, 0x1c, 0x38));
    p.drawRect(QRectF(body.left() + w * 0.04, body.bottom(), w * 0.05, h * 0.06));
    p.drawRect(QRectF(body.right() - w * 0.09, body.bottom(), w * 0.05, h * 0.06));
    return pixmap;
}

}  // namespace halvern
