#pragma once

#include "text_grid.h"

#include <QAbstractTableModel>

#include <functional>

namespace palvero {

// A small text grid as Qt sees it: row 0 holds the titles (the horizontal header), model row
// r is grid row r + 1. The model owns its grid; every change goes through it, so views hear
// of exactly the rows that changed.
class TextGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TextGridModel(TextGrid grid, QObject* parent = nullptr);

    const TextGrid& grid() const { return m_grid; }
    // Data rows: grid rows 1 .. dataRowCount().
    int dataRowCount() const { return m_grid.rowCount() - 1; }
    const std::string& cell(int gridRow, int column) const { return m_grid.cell(gridRow, column); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    void setCell(int gridRow, int column, const std::string& text);
    void appendRow();
    void removeRow(int gridRow);
    // The grid's empty state: the titles and one empty row.
    void clearRows();
    // Rebuilds the data rows at once; `fill` may change anything but the titles.
    void rebuild(const std::function<void(TextGrid&)>& fill);

private:
    TextGrid m_grid;
};

} // namespace palvero
