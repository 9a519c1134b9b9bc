#pragma once

#include "meter_table.h"
#include "settings.h"

#include <QAbstractTableModel>

namespace palvero {

// The meter table as Qt sees it: one model row per data row (model row r is table row
// r + 1), the titles as the horizontal header. Background roles follow the row colour
// rules; changes of the table arrive through its listener interface and are passed on
// as narrowly as Qt allows, so a telegram repaints its own row and nothing else.
class MeterTableModel : public QAbstractTableModel, public MeterTableListener {
    Q_OBJECT
public:
    MeterTableModel(MeterTable& table, const Settings& settings, QObject* parent = nullptr);
    ~MeterTableModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Repaints the rows whose colour depends on the last read or selected row.
    void refreshMarkedRows();
    static int tableRow(const QModelIndex& index) { return index.row() + 1; }

    void rowUpdated(int row) override;
    void rowsAboutToBeAppended(int first, int last) override;
    void rowsAppended() override;
    void rowAboutToBeRemoved(int row) override;
    void rowRemoved() override;
    void aboutToReset() override;
    void reset() override;
    void rowsChanged(int first, int last) override;

private:
    void repaintRow(int tableRow);

    MeterTable& m_table;
    const Settings& m_settings;
    int m_paintedLastRead = 0;
    int m_paintedSelected = 0;
};

} // namespace palvero
