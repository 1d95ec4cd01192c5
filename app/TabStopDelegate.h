#pragma once
// Draws the lines of a list with tab characters expanded to a fixed tab stop, so that the part
// after the tab forms a column.

#include <QStyledItemDelegate>

class QListWidget;

namespace halvern {

class TabStopDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TabStopDelegate(QObject* parent = nullptr) : QStyledItemDelegate(parent) {}

    void set_tab_stop(qreal pixels) { tab_stop_ = pixels; }
    qreal tab_stop() const { return tab_stop_; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

    // Where the lines' text begins, in pixels from the list's left edge: the first column.
    // The second column begins tab_stop() further right.
    int text_left(const QListWidget& list) const;

private:
    qreal tab_stop_ = 80;
};

// The width of dialog units in the list's font: a quarter of its average character width.
qreal dialog_units_to_pixels(const QFont& font, int units);

// Gives the list one tab stop at the given number of dialog units, installing a
// TabStopDelegate when it has none, and repaints it.
void set_list_tab_stop(QListWidget& list, int dialog_units);

}  // namespace halvern
