#include "text_grid_model.h"

#include "cell_text.h"

namespace palvero {

TextGridModel::TextGridModel(TextGrid grid, QObject* parent)
    : QAbstractTableModel(parent)
    , m_grid(std::move(grid))
{
    if (m_grid.rowCount() < 2)
        m_grid.setRowCount(2);
}

int TextGridModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : dataRowCount();
}

int TextGridModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_grid.columnCount();
}

QVariant TextGridModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cellText(m_grid.cell(index.row() + 1, index.column()));
}

QVariant TextGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return cellText(m_grid.cell(0, section));
    return section + 1;
}

void TextGridModel::setCell(int gridRow, int column, const std::string& text)
{
    if (gridRow < 1 || !m_grid.contains(gridRow, column) || m_grid.cell(gridRow, column) == text)
        return;
    m_grid.setCell(gridRow, column, text);
    const QModelIndex at = index(gridRow - 1, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

void TextGridModel::appendRow()
{
    const int row = dataRowCount();
    beginInsertRows({}, row, row);
    m_grid.appendRow();
    endInsertRows();
}

void TextGridModel::removeRow(int gridRow)
{
    if (gridRow < 1 || gridRow >= m_grid.rowCount())
        return;
    beginRemoveRows({}, gridRow - 1, gridRow - 1);
    m_grid.removeRow(gridRow);
    endRemoveRows();
}

void TextGridModel::clearRows()
{
    rebuild([](TextGrid& g) {
        g.setRowCount(1);
        g.setRowCount(2);
    });
}

void TextGridModel::rebuild(const std::function<void(TextGrid&)>& fill)
{
    const std::vector<std::string> titles = m_grid.row(0);
    beginResetModel();
    fill(m_grid);
    for (int c = 0; c < m_grid.columnCount(); ++c)
        m_grid.setCell(0, c, c < static_cast<int>(titles.size()) ? titles[static_cast<size_t>(c)] : std::string());
    if (m_grid.rowCount() < 2)
        m_grid.setRowCount(2);
    endResetModel();
}

} // namespace palvero
