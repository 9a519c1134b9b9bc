#include "text_grid.h"

#include <algorithm>

namespace palvero {

namespace {
const std::string kEmpty;
const std::vector<std::string> kEmptyRow;
} // namespace

TextGrid::TextGrid(int rows, int columns)
{
    setColumnCount(columns);
    setRowCount(rows);
}

const std::string& TextGrid::cell(int row, int column) const
{
    return contains(row, column) ? m_rows[static_cast<size_t>(row)][static_cast<size_t>(column)] : kEmpty;
}

const std::vector<std::string>& TextGrid::row(int row) const
{
    return row >= 0 && row < rowCount() ? m_rows[static_cast<size_t>(row)] : kEmptyRow;
}

void TextGrid::setRowCount(int rows)
{
    rows = std::max(rows, 0);
    m_rows.resize(static_cast<size_t>(rows), std::vector<std::string>(static_cast<size_t>(m_columns)));
}

void TextGrid::setColumnCount(int columns)
{
    m_columns = std::max(columns, 0);
    for (auto& r : m_rows)
        r.resize(static_cast<size_t>(m_columns));
}

void TextGrid::appendRow()
{
    m_rows.emplace_back(static_cast<size_t>(m_columns));
}

void TextGrid::removeRow(int row)
{
    if (row >= 0 && row < rowCount())
        m_rows.erase(m_rows.begin() + row);
}

void TextGrid::clearRow(int row)
{
    if (row >= 0 && row < rowCount())
        for (auto& c : m_rows[static_cast<size_t>(row)])
            c.clear();
}

} // namespace palvero
