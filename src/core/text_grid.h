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
    void setCell(int row, int column, std::string_view text);
    bool contains(int row, int column) const;

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
