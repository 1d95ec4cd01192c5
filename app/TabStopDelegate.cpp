#include "app/TabStopDelegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QListWidget>
#include <QPainter>
#include <QTextOption>

namespace halvern {

namespace {
int text_margin(const QStyle* style, const QWidget* widget) {
    return style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
}
}  // namespace

void TabStopDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget* widget = opt.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();

    // The style draws background, selection and focus; the text is drawn here with the tab stop.
    const QRect text_rect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const QString text = opt.text;
    opt.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, widget);

    const int margin = text_margin(style, widget);
    const QPalette::ColorGroup group = !(opt.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (opt.state & QStyle::State_Active) ? QPalette::Active
                                                                            : QPalette::Inactive;
    QTextOption text_option(Qt::AlignLeft | Qt::AlignVCenter);
    text_option.setWrapMode(QTextOption::NoWrap);
    text_option.setTabStopDistance(tab_stop_);

    painter->save();
    painter->setFont(opt.font);
    painter->setPen(opt.palette.color(
        group, (opt.state & QStyle::State_Selected) ? QPalette::HighlightedText : QPalette::Text));
    painter->setClipRect(text_rect);
    painter->drawText(QRectF(text_rect.adjusted(margin, 0, -margin, 0)), text, text_option);
    painter->restore();
}

int TabStopDelegate::text_left(const QListWidget& list) const {
    QStyleOptionViewItem opt;
    opt.initFrom(list.viewport());
    opt.widget = &list;
    opt.font = list.font();
    opt.fontMetrics = QFontMetrics(list.font());
    opt.features = QStyleOptionViewItem::HasDisplay;
    opt.text = QStringLiteral("X");
    opt.rect = QRect(0, 0, list.viewport()->width(), opt.fontMetrics.height() + 4);
    opt.displayAlignment = Qt::AlignLeft | Qt::AlignVCenter;
    const QStyle* style = list.style();
    const QRect text_rect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, &list);
    return list.viewport()->x() + text_rect.left() + text_margin(style, &list);
}

qreal dialog_units_to_pixels(const QFont& font, int units) {
    return units * QFontMetricsF(font).averageCharWidth() / 4.0;
}

void set_list_tab_stop(QListWidget& list, int dialog_units) {
    auto* delegate = qobject_cast<TabStopDelegate*>(list.itemDelegate());
    if (!delegate) {
        delegate = new TabStopDelegate(&list);
        list.setItemDelegate(delegate);
    }
    delegate->set_tab_stop(dialog_units_to_pixels(list.font(), dialog_units));
    list.viewport()->update();
}

}  // namespace halvern
