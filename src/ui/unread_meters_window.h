#pragma once

#include "route_progress.h"
#include "text_grid.h"

#include <QAbstractTableModel>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QTableView;

namespace palvero {

// The known meters not read yet, in route order: meter ID, when it was last heard (if it
// was) and why it does not count as read. Follows the route meter by meter, so a telegram
// inserts, removes or repaints one line.
class UnreadMetersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Id, LastHeard, Why, ColumnCount };

    explicit UnreadMetersModel(const RouteProgress& route, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // The route's notifications, passed on by its owner.
    void meterChanged(int routeIndex);
    void recounted();

    // The list as a grid: titles in row 0, a line per unread meter.
    TextGrid grid() const;
    QString meterId(int row) const;

private:
    const RouteProgress& m_route;
    std::vector<int> m_rows; // route indices, ascending
};

// Tools › "Unread meters": the list, live while reading, with Copy and Export. Double
// clicking a meter asks for its row in the table.
class TUnreadMeters : public QWidget {
    Q_OBJECT
public:
    TUnreadMeters(const RouteProgress& route, QWidget* parent = nullptr);

    UnreadMetersModel& model() { return *m_model; }
    // Puts the chosen lines (all when none is chosen) on the clipboard, tab separated.
    void copyToClipboard();
    void refreshSummary();

    // Writes the list through the table CSV writer; set by the owner.
    std::function<void(const TextGrid&)> exportList;

    QLabel* Label_summary = nullptr;
    QTableView* Grid_unread = nullptr;
    QPushButton* Butt_copy = nullptr;
    QPushButton* Butt_export = nullptr;
    QPushButton* Butt_close = nullptr;

signals:
    void meterActivated(const QString& meterId);

private:
    const RouteProgress& m_route;
    UnreadMetersModel* m_model = nullptr;
};

} // namespace palvero
