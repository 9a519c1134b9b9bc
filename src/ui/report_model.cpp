#include "report_model.h"

#include "cell_text.h"

namespace palvero {

const std::array<const char*, ReportModel::kColumns>& ReportModel::titles()
{
    // Each title ends with a space. Columns 13 and 14 hold the stored key and free text, so
    // the additional values start at column 15.
    static const std::array<const char*, kColumns> t = {
        "No. ",             "Meter ID ",         "MFR ",
        "Auxiliary ID ",    "Control fields ",   "Medium ",
        "Main value ",      "Units ",            "RSSI ",
        "Time ",            "Date ",             "Notes ",
        "FW version ",      "Encryption key ",   "Free text/description ",
        "Other value #1 ",  "Other value #2 ",   "Other value #3 ",
        "Other value #4 ",  "Other value #5 ",   "Other value #6 ",
        "Other value #7 ",  "Other value #8 ",   "Other value #9 ",
        "Other value #10 ",
    };
    return t;
}

ReportModel::ReportModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int ReportModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_published + 1;
}

int ReportModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ReportModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= m_published)
        return {};
    const std::string_view text = m_rows.cell(index.row(), index.column());
    return cellText(text);
}

QVariant ReportModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return section >= 0 && section < kColumns ? QString::fromLatin1(titles()[static_cast<size_t>(section)]) : QString();
    return section + 1;
}

void ReportModel::publish()
{
    const int count = m_rows.count();
    if (count <= m_published)
        return;
    // New rows go in before the empty last row.
    beginInsertRows({}, m_published, count - 1);
    m_published = count;
    endInsertRows();
}

void ReportModel::clear(bool keepStorage)
{
    beginResetModel();
    if (keepStorage)
        m_rows.reuse();
    else
        m_rows.clear();
    m_published = 0;
    endResetModel();
}

void ReportModel::rowCells(int row, std::vector<std::string>& cells) const
{
    cells.resize(kColumns);
    for (int c = 0; c < kColumns; ++c) {
        if (row < m_published)
            cells[static_cast<size_t>(c)].assign(m_rows.cell(row, c));
        else
            cells[static_cast<size_t>(c)].clear();
    }
}

} // namespace palvero
