#include "meter_table_model.h"

#include "cell_text.h"

#include "row_colours.h"
#include "row_tooltip.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QPalette>

namespace palvero {

MeterTableModel::MeterTableModel(MeterTable& table, const Settings& settings, QObject* parent)
    : QAbstractTableModel(parent)
    , m_table(table)
    , m_settings(settings)
{
    m_table.addListener(this);
}

MeterTableModel::~MeterTableModel()
{
    m_table.removeListener(this);
}

int MeterTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.dataRowCount();
}

int MeterTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_table.columnCount();
}

QVariant MeterTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    const int row = tableRow(index);
    switch (role) {
    case Qt::DisplayRole:
        return cellText(m_table.cell(row, index.column()));
    case Qt::BackgroundRole: {
        const RowBrush b = rowBrush(m_table, m_settings, row);
        if (b.kind == RowBrush::Highlight)
            return QApplication::palette().brush(QPalette::Highlight);
        return QBrush(QColor(b.colour & 0xFF, (b.colour >> 8) & 0xFF, (b.colour >> 16) & 0xFF));
    }
    case Qt::ForegroundRole: {
        const RowBrush b = rowBrush(m_table, m_settings, row);
        return b.kind == RowBrush::Highlight ? QApplication::palette().brush(QPalette::HighlightedText)
                                             : QBrush(Qt::black);
    }
    case Qt::ToolTipRole:
        return rowToolTip(m_table, m_settings, row);
    default:
        return {};
    }
}

QVariant MeterTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return cellText(m_table.cell(0, section));
    return section + 1;
}

void MeterTableModel::repaintRow(int row)
{
    if (row >= 1 && row < m_table.rowCount())
        emit dataChanged(index(row - 1, 0), index(row - 1, columnCount() - 1));
}

void MeterTableModel::refreshMarkedRows()
{
    for (int row : {m_paintedLastRead, m_paintedSelected, m_table.lastReadRow, m_table.selectedRow})
        repaintRow(row);
    m_paintedLastRead = m_table.lastReadRow;
    m_paintedSelected = m_table.selectedRow;
}

void MeterTableModel::rowUpdated(int row)
{
    repaintRow(row);
    refreshMarkedRows();
}

void MeterTableModel::rowsAboutToBeAppended(int first, int last)
{
    beginInsertRows(QModelIndex(), first - 1, last - 1);
}

void MeterTableModel::rowsAppended()
{
    endInsertRows();
}

void MeterTableModel::rowAboutToBeRemoved(int row)
{
    beginRemoveRows(QModelIndex(), row - 1, row - 1);
}

void MeterTableModel::rowRemoved()
{
    endRemoveRows();
}

void MeterTableModel::aboutToReset()
{
    beginResetModel();
}

void MeterTableModel::reset()
{
    endResetModel();
}

void MeterTableModel::rowsChanged(int first, int last)
{
    first = std::max(first, 1);
    last = std::min(last, m_table.rowCount() - 1);
    if (first <= last)
        emit dataChanged(index(first - 1, 0), index(last - 1, columnCount() - 1));
}

} // namespace palvero
