#pragma once

#include <QStyledItemDelegate>

namespace palvero {

// Draws a meter-table cell the program's way: the row's brush over the whole cell and
// the text from the cell's top-left corner, without margin. Qt's own selection and
// focus painting is left out: the selected row has its own colour rule.
class GridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

} // namespace palvero
