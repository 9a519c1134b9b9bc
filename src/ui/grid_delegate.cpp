#include "grid_delegate.h"

#include <QPainter>

namespace palvero {

void GridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    painter->fillRect(option.rect, index.data(Qt::BackgroundRole).value<QBrush>());
    painter->setPen(index.data(Qt::ForegroundRole).value<QBrush>().color());
    painter->setFont(option.font);
    painter->setClipRect(option.rect);
    painter->drawText(option.rect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());
    painter->restore();
}

} // namespace palvero
