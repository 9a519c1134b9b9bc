#include "unread_meters_window.h"

#include "cell_text.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace palvero {

namespace {

const char* const kTitles[UnreadMetersModel::ColumnCount] = {"Meter ID", "Last heard", "Why not read"};

} // namespace

UnreadMetersModel::UnreadMetersModel(const RouteProgress& route, QObject* parent)
    : QAbstractTableModel(parent)
    , m_route(route)
{
    recounted();
}

int UnreadMetersModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int UnreadMetersModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant UnreadMetersModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount())
        return {};
    const RouteProgress::Meter& m = m_route.meters()[static_cast<size_t>(m_rows[static_cast<size_t>(index.row())])];
    switch (index.column()) {
    case Id:
        return cellText(m.id);
    case LastHeard:
        return cellText(m.lastHeard);
    case Why:
        return QString::fromLatin1(m.state == RouteState::NotHeard ? "not heard" : routeStateText(m.state));
    default:
        return {};
    }
}

QVariant UnreadMetersModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromLatin1(kTitles[section]);
}

void UnreadMetersModel::meterChanged(int routeIndex)
{
    const bool unread = m_route.meters()[static_cast<size_t>(routeIndex)].state != RouteState::Read;
    auto at = std::lower_bound(m_rows.begin(), m_rows.end(), routeIndex);
    const int row = static_cast<int>(at - m_rows.begin());
    const bool listed = at != m_rows.end() && *at == routeIndex;
    if (listed && unread) {
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    } else if (listed) {
        beginRemoveRows(QModelIndex(), row, row);
        m_rows.erase(at);
        endRemoveRows();
    } else if (unread) {
        beginInsertRows(QModelIndex(), row, row);
        m_rows.insert(at, routeIndex);
        endInsertRows();
    }
}

void UnreadMetersModel::recounted()
{
    beginResetModel();
    m_rows.clear();
    const auto& meters = m_route.meters();
    for (size_t i = 0; i < meters.size(); ++i)
        if (meters[i].state != RouteState::Read)
            m_rows.push_back(static_cast<int>(i));
    endResetModel();
}

TextGrid UnreadMetersModel::grid() const
{
    TextGrid g(1 + rowCount(), ColumnCount);
    for (int c = 0; c < ColumnCount; ++c)
        g.setCell(0, c, kTitles[c]);
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < ColumnCount; ++c)
            g.setCell(r + 1, c, cellBytes(data(index(r, c), Qt::DisplayRole).toString()));
    return g;
}

QString UnreadMetersModel::meterId(int row) const
{
    return data(index(row, Id), Qt::DisplayRole).toString();
}

TUnreadMeters::TUnreadMeters(const RouteProgress& route, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_route(route)
{
    setObjectName("TUnreadMeters");
    setWindowTitle("Unread meters");
    auto* layout = new QVBoxLayout(this);
    Label_summary = new QLabel(this);
    Label_summary->setObjectName("Label_summary");
    layout->addWidget(Label_summary);

    m_model = new UnreadMetersModel(route, this);
    Grid_unread = new QTableView(this);
    Grid_unread->setObjectName("Grid_unread");
    Grid_unread->setModel(m_model);
    Grid_unread->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid_unread->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Grid_unread->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_unread->verticalHeader()->setVisible(false);
    Grid_unread->horizontalHeader()->setStretchLastSection(true);
    Grid_unread->setColumnWidth(UnreadMetersModel::Id, 100);
    Grid_unread->setColumnWidth(UnreadMetersModel::LastHeard, 170);
    Grid_unread->setToolTip("Double-click a meter to select its row in the table");
    connect(Grid_unread, &QTableView::doubleClicked, this,
            [this](const QModelIndex& index) { emit meterActivated(m_model->meterId(index.row())); });
    layout->addWidget(Grid_unread, 1);

    auto* buttons = new QHBoxLayout;
    Butt_copy = new QPushButton("&Copy", this);
    Butt_copy->setObjectName("Butt_copy");
    Butt_copy->setToolTip("Copy the chosen meters, or all of them, to the clipboard (Ctrl+C)");
    connect(Butt_copy, &QPushButton::clicked, this, &TUnreadMeters::copyToClipboard);
    Butt_export = new QPushButton("&Export", this);
    Butt_export->setObjectName("Butt_export");
    Butt_export->setToolTip("Save the list as a CSV file");
    connect(Butt_export, &QPushButton::clicked, this, [this] {
        if (exportList)
            exportList(m_model->grid());
    });
    Butt_close = new QPushButton("Close", this);
    Butt_close->setObjectName("Butt_close");
    Butt_close->setToolTip("Hide the list (Esc)");
    connect(Butt_close, &QPushButton::clicked, this, &QWidget::hide);
    buttons->addWidget(Butt_copy);
    buttons->addWidget(Butt_export);
    buttons->addStretch(1);
    buttons->addWidget(Butt_close);
    layout->addLayout(buttons);

    auto* copy = new QShortcut(QKeySequence::Copy, Grid_unread);
    copy->setContext(Qt::WidgetShortcut);
    connect(copy, &QShortcut::activated, this, &TUnreadMeters::copyToClipboard);
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(esc, &QShortcut::activated, this, &QWidget::hide);

    connect(m_model, &QAbstractItemModel::rowsInserted, this, &TUnreadMeters::refreshSummary);
    connect(m_model, &QAbstractItemModel::rowsRemoved, this, &TUnreadMeters::refreshSummary);
    connect(m_model, &QAbstractItemModel::modelReset, this, &TUnreadMeters::refreshSummary);
    refreshSummary();
    resize(460, 420);
}

void TUnreadMeters::refreshSummary()
{
    Label_summary->setText(QString::fromStdString(m_route.panelText()) + QStringLiteral(" - %1 unread")
                                                                             .arg(m_model->rowCount()));
}

void TUnreadMeters::copyToClipboard()
{
    QList<int> rows;
    for (const QModelIndex& i : Grid_unread->selectionModel()->selectedRows())
        rows << i.row();
    if (rows.isEmpty())
        for (int r = 0; r < m_model->rowCount(); ++r)
            rows << r;
    std::sort(rows.begin(), rows.end());
    QString text;
    for (int r : rows) {
        QStringList cells;
        for (int c = 0; c < UnreadMetersModel::ColumnCount; ++c)
            cells << m_model->data(m_model->index(r, c), Qt::DisplayRole).toString();
        text += cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    QApplication::clipboard()->setText(text);
}

} // namespace palvero
