#pragma once

#include "measurement_report.h"

#include <QAbstractTableModel>

#include <array>
#include <string>
#include <vector>

namespace palvero {

// The report grid as Qt sees it: the rows of the last report and, always last, one empty
// row. A running report appends to rows(); publish() then tells the views about the rows
// added since the last call, so the grid grows while the file is read.
class ReportModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = ReportRows::kColumns;
    static const std::array<const char*, kColumns>& titles();

    explicit ReportModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Where a report puts its rows; they appear in the views at the next publish().
    ReportRows& rows() { return m_rows; }
    void publish();
    // The empty report: no rows, only the empty last row. `keepStorage` keeps the memory of
    // the rows for the report that is about to replace them.
    void clear(bool keepStorage = false);

    // Rows shown, the empty last row not counted.
    int reportRowCount() const { return m_published; }
    // The cells of model row `row`, the empty last row included, for the export.
    void rowCells(int row, std::vector<std::string>& cells) const;

private:
    ReportRows m_rows;
    int m_published = 0;
};

} // namespace palvero
