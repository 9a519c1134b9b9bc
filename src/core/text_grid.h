#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// A rectangle of text cells, row 0 holding the titles. The meter table, the decoded
// records, the scratch grid, the meters grid and the report grid are all of this type.
// Cells outside the rectangle read as empty text and ignore writes, so a caller that
// addresses a column the table does not (yet) have never corrupts memory.
class TextGrid {
public:
    TextGrid() = default;
    TextGrid(int rows, int columns);

    int rowCount() const { return static_cast<int>(m_rows.size()); }
    int columnCount() const { return m_columns; }

    const std::string& cell(int row, int column) const;
    // Assigning in place keeps the cell's buffer: rewriting a row allocates nothing. A
    // telegram mostly writes what the cell holds already, which is then left alone.
    void setCell(int row, int column, std::string_view text)
    {
        if (!contains(row, column))
            return;
        std::string& cell = m_rows[static_cast<size_t>(row)][static_cast<size_t>(column)];
        if (cell.size() != text.size() || std::char_traits<char>::compare(cell.data(), text.data(), text.size()) != 0)
            cell.assign(text);
    }
    bool contains(int row, int column) const
    {
        return row >= 0 && row < rowCount() && column >= 0 && column < m_columns;
    }

    const std::vector<std::string>& row(int row) const;

    // New rows are empty; removed columns lose their text.
    void setRowCount(int rows);
    void setColumnCount(int columns);
    void appendRow();
    void removeRow(int row);
    void clearRow(int row);

private:
    std::vector<std::vector<std::string>> m_rows;
    int m_columns = 0;
};

} // namespace palvero
