// The main window's help for a day in the field: route progress and the unread list,
// following the last read meter, undo, the capture of every reading and its replay,
// printing, and the keyboard and desktop conventions of the window.

#include "main_window_field.h"

#include "cell_text.h"
#include "central_link.h"
#include "known_meters.h"
#include "meter_table_model.h"
#include "meter_tree.h"
#include "table_ops.h"
#include "table_printer.h"
#include "window_geometry.h"
#include "window_placement.h"

#include <QAction>
#include <QCheckBox>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>

#include <optional>
#include <vector>

namespace palvero {

namespace {

constexpr char kCaption[] = "Palvero";

// What undo gives back beside the table: the tree, and for an import the state of
// "Do not add new devices", which the import ticked.
struct UndoView {
    std::vector<MeterTree::Node> nodes;
    std::optional<bool> doNotAddNew;
};
constexpr char kNoMatchStyle[] = "QLineEdit { background-color: #ffd0d0; }";
const char* const kSearchTip = "Meter ID or a part of it (Ctrl+F)";

} // namespace

void TForm1::buildFieldFeatures()
{
    m_field = std::make_unique<Field>(m_table);
    Field& f = *m_field;

    // The route panel beside the two specified ones.
    StatusPanel2 = new QLabel(this);
    StatusPanel2->setObjectName("StatusPanel2");
    StatusPanel2->setToolTip("Known meters (the meters file) read with a value from a readable telegram");
    statusBar()->addPermanentWidget(StatusPanel2);

    f.unread = std::make_unique<TUnreadMeters>(f.route, this);
    f.unread->hide();
    f.unread->exportList = [this](const TextGrid& grid) {
        ExportGridCsv(grid, "unread.csv", m_context.settings.ExportSeparator, m_context.paths.dataFolder(),
                      m_context.op, m_context.errorLog, nullptr, kUnreadExportTitle);
    };
    connect(f.unread.get(), &TUnreadMeters::meterActivated, this, [this](const QString& id) {
        const int row = m_table.findMeterRow(cellBytes(id));
        if (row > 0) {
            showRow(row);
            activateWindow();
        }
    });
    f.route.onMeterChanged = [this](int index) {
        StatusPanel2->setText(QString::fromStdString(m_field->route.panelText()));
        m_field->unread->model().meterChanged(index);
        m_field->unread->refreshSummary();
    };
    f.route.onRecounted = [this] {
        StatusPanel2->setText(QString::fromStdString(m_field->route.panelText()));
        m_field->unread->model().recounted();
    };
    f.legend = std::make_unique<TColourLegend>(m_context.settings, this);
    f.legend->hide();

    f.replay = std::make_unique<CaptureReplay>(m_reception, this);
    connect(f.replay.get(), &CaptureReplay::finished, this, [this](bool, const QString& error) {
        const std::string report = m_field->replay->report().toStdString();
        m_table.addReaderLogLine(report);
        m_table.notifyStatusText(1, report);
        if (!error.isEmpty())
            m_context.op.showMessage(kCaption, error.toStdString(), MessageIcon::Warning);
        readingStarted(m_reading.reading());
    });

    m_reading.onReceived = [this](const uint8_t* data, size_t n) {
        Field& field = *m_field;
        if (!field.capture.isOpen())
            return;
        std::string message;
        if (field.capture.write(data, n, CaptureStamp::now(), message))
            return;
        // The capture has ended: a failed write, or a limit that keeps the disk from filling.
        const bool limit = field.capture.limitReached();
        m_table.addReaderLogLine((limit ? "Capture stopped: " : "Capture not written: ") + message);
        m_context.op.showMessage(kCaption, (limit ? "The capture stops growing: " : "The reading cannot be captured: ")
                                     + message + "\nReading goes on without a capture.",
                                 MessageIcon::Warning);
    };
    // On the disk at least once a second while reading, even between telegrams.
    connect(Timer_elapsedTime, &QTimer::timeout, this, [this] { m_field->capture.sync(); });

    // Menus: mnemonics, the Edit and View menus, shortcuts.
    QMenu* file = findChild<QMenu*>("File1");
    QMenu* tools = findChild<QMenu*>("Tools1");
    QMenu* help = findChild<QMenu*>("Help1");
    file->setTitle("&File");
    tools->setTitle("&Tools");
    help->setTitle("&Help");

    QAction* exit = findChild<QAction*>("Exit1");
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QAction* print = findChild<QAction*>("Printtabledata1");
    print->setShortcut(QKeySequence::Print);
    connect(print, &QAction::triggered, this, &TForm1::printTable);
    f.replayAction = new QAction("&Replay capture...", this);
    f.replayAction->setObjectName("Replaycapture1");
    f.replayAction->setStatusTip("Feed a capture file through the reading into the table");
    connect(f.replayAction, &QAction::triggered, this, &TForm1::replayCaptureFile);
    const QList<QAction*> fileActions = file->actions();
    const int exitAt = static_cast<int>(fileActions.indexOf(exit));
    file->insertAction(exitAt > 0 ? fileActions[exitAt - 1] : exit, f.replayAction);

    auto* edit = new QMenu("&Edit", this);
    edit->setObjectName("Edit1");
    menuBar()->insertMenu(tools->menuAction(), edit);
    f.undoAction = edit->addAction("&Undo");
    f.undoAction->setObjectName("Undo1");
    f.undoAction->setShortcut(QKeySequence::Undo);
    f.undoAction->setEnabled(false);
    connect(f.undoAction, &QAction::triggered, this, &TForm1::undo);
    edit->addSeparator();
    QAction* find = edit->addAction("&Find meter");
    find->setObjectName("Findmeter1");
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        Edit_searchID->setFocus(Qt::ShortcutFocusReason);
        Edit_searchID->selectAll();
    });
    f.undo.onChanged = [this] {
        const std::string next = m_field->undo.nextCaption();
        m_field->undoAction->setEnabled(m_field->undo.canUndo());
        m_field->undoAction->setText(next.empty() ? QString("&Undo") : "&Undo " + QString::fromStdString(next));
    };

    auto* view = new QMenu("&View", this);
    view->setObjectName("View1");
    menuBar()->insertMenu(tools->menuAction(), view);
    f.followAction = view->addAction("&Follow last read meter");
    f.followAction->setObjectName("Followlastreadmeter1");
    f.followAction->setCheckable(true);
    f.follow = readFollowLastRead(m_context.paths.iniFile());
    f.followAction->setChecked(f.follow);
    connect(f.followAction, &QAction::toggled, this, &TForm1::setFollowLastRead);

    tools->addSeparator();
    f.startStopAction = tools->addAction("Start/Stop &reading");
    f.startStopAction->setObjectName("StartStopreading1");
    f.startStopAction->setShortcut(QKeySequence(Qt::Key_F5));
    connect(f.startStopAction, &QAction::triggered, Butt_read, &QPushButton::click);
    QAction* unread = tools->addAction("&Unread meters");
    unread->setObjectName("Unreadmeters1");
    connect(unread, &QAction::triggered, this, [this] {
        reloadRoute();
        showCentredOver(m_field->unread.get(), this);
    });

    // F1 opens the manual in the operator's language.
    const bool bulgarian = QLocale().language() == QLocale::Bulgarian;
    findChild<QAction*>(bulgarian ? "UserManualBG1" : "UserManualEN1")->setShortcut(QKeySequence::HelpContents);
    QAction* colours = help->addAction("&Colours");
    colours->setObjectName("Colours1");
    connect(colours, &QAction::triggered, this, [this] {
        showCentredOver(m_field->legend.get(), this);
    });

    Butt_read->setToolTip("Start or stop reading from the receiver (F5)");
    Check_noNew->setToolTip("Telegrams of meters that are not in the table yet are left out");
    BitBtn1->setToolTip("Empty the table; the tree of meters stays (Ctrl+Z takes it back)");
    Butt_exportTable->setToolTip("Export the table to a CSV file through a template");
    Button1->setToolTip("Send the command text to the receiver");
    Edit_searchID->setToolTip(kSearchTip);
    Tree_meters->setToolTip("Meters heard, with their keys; green once read. Click one to find its row");

    auto showMeterOf = [this](QTreeWidgetItem* item) {
        if (!item)
            return;
        const QString id = item->parent() ? item->parent()->text(0) : item->text(0);
        const int row = m_table.findMeterRow(cellBytes(id));
        if (row > 0)
            showRow(row);
    };
    connect(Tree_meters, &QTreeWidget::itemClicked, this, showMeterOf);
    connect(Tree_meters, &QTreeWidget::itemActivated, this, showMeterOf);

    reloadRoute();
    restoreGeometryFromSettings();
}

UndoStack& TForm1::undoStack()
{
    return m_field->undo;
}

RouteProgress& TForm1::route()
{
    return m_field->route;
}

TUnreadMeters& TForm1::unreadMeters()
{
    return *m_field->unread;
}

TColourLegend& TForm1::colourLegend()
{
    return *m_field->legend;
}

CaptureReplay& TForm1::captureReplay()
{
    return *m_field->replay;
}

void TForm1::recordUndo(const std::string& caption)
{
    m_field->undo.record(caption, std::any(UndoView{m_tree->nodes(), std::nullopt}));
}

void TForm1::recordImportUndo()
{
    m_field->undo.record("Import from CSV", std::any(UndoView{m_tree->nodes(), Check_noNew->isChecked()}));
}

void TForm1::commitUndo()
{
    commandDone();
}

void TForm1::commandDone()
{
    m_field->undo.commit();
    m_field->route.refresh();
}

void TForm1::undo()
{
    if (m_field->replay->running())
        return;
    auto done = m_field->undo.undo();
    if (!done)
        return;
    if (const auto* view = std::any_cast<UndoView>(&done->viewState)) {
        m_tree->restore(view->nodes);
        if (view->doNotAddNew)
            Check_noNew->setChecked(*view->doNotAddNew);
    }
    for (int r = 1; r < m_table.rowCount(); ++r)
        if (!m_table.cell(r, col::MeterId).empty())
            m_tree->updateRow(r);
    Tree_meters->viewport()->update();
    m_reading.refreshCounts();
    m_model->refreshMarkedRows();
    m_field->route.refresh();
}

void TForm1::reloadRoute()
{
    // The routes taken from the central database, when there are any, in walking order.
    std::vector<std::string> ids = m_central ? m_central->routeMeterIds() : std::vector<std::string>();
    m_field->route.setRoute(ids.empty() ? readKnownMeterIds(m_context.paths.dataFolder()) : ids);
}

void TForm1::setFollowLastRead(bool on)
{
    m_field->follow = on;
    if (m_field->followAction->isChecked() != on)
        m_field->followAction->setChecked(on);
    writeFollowLastRead(m_context.paths.iniFile(), on);
    if (on && m_table.lastReadRow > 0)
        meterRead(m_table.lastReadRow);
}

bool TForm1::followLastRead() const
{
    return m_field->follow;
}

void TForm1::showRow(int row)
{
    if (row >= 1 && row < m_table.rowCount())
        selectRow(row);
}

void TForm1::meterRead(int row)
{
    if (!m_field || !m_field->follow || row != m_table.lastReadRow || row < 1)
        return;
    const int column = std::max(Grid_values->currentIndex().column(), 0);
    const QModelIndex at = m_model->index(row - 1, column);
    const int top = Grid_values->rowViewportPosition(row - 1);
    if (top >= 0 && top + Grid_values->rowHeight(row - 1) <= Grid_values->viewport()->height())
        return;
    // Only the rows scroll: the columns stay where the operator put them. The view is not
    // shifted on screen for each meter heard (a copy of the whole picture every time, with
    // a new meter in every frame of a walk): it is painted once where it ends up.
    QScrollBar* across = Grid_values->horizontalScrollBar();
    const int left = across->value();
    Grid_values->setUpdatesEnabled(false);
    Grid_values->scrollTo(at, QAbstractItemView::EnsureVisible);
    across->setValue(left);
    Grid_values->setUpdatesEnabled(true);
}

void TForm1::searchResult(const QString& text, bool found)
{
    Edit_searchID->setProperty("noMatch", !found);
    Edit_searchID->setStyleSheet(found ? QString() : QString(kNoMatchStyle));
    Edit_searchID->setToolTip(found ? QString(kSearchTip) : "No meter ID contains \"" + text + "\"");
}

void TForm1::readingStarted(bool reading)
{
    if (!m_field)
        return;
    Field& f = *m_field;
    if (reading && !f.capture.isOpen()) {
        reloadRoute();
        std::string error;
        if (!f.capture.open(m_context.paths.dataFolder(), m_context.formats.now(), error)) {
            m_table.addReaderLogLine("Capture not written: " + error);
            if (!f.captureReported) {
                f.captureReported = true;
                m_context.op.showMessage(kCaption, "The reading cannot be captured: " + error
                                             + "\nReading goes on without a capture.", MessageIcon::Warning);
            }
        }
    } else if (!reading) {
        f.capture.close();
    }
    const bool replaying = f.replay->running();
    f.replayAction->setEnabled(!reading && !replaying);
    f.startStopAction->setEnabled(!replaying);
    Butt_read->setEnabled(!replaying);
}

QString TForm1::capturePath() const
{
    return m_field->capture.isOpen() ? QString::fromStdString(m_field->capture.path().string()) : QString();
}

void TForm1::replayCaptureFile()
{
    if (m_reading.reading() || m_field->replay->running())
        return;
    const FileDialogSpec spec{"Replay capture", "Captures|*.cap|Hex captures|*.txt *.hex|All files|*", "cap",
                              (m_context.paths.dataFolder() / kCapturesFolder).string(), ""};
    const auto chosen = m_context.op.askOpenFile(spec);
    if (chosen && !chosen->empty())
        startReplay(QString::fromStdString(*chosen));
}

bool TForm1::startReplay(const QString& path)
{
    std::string error;
    if (!m_field->replay->start(path, error)) {
        m_context.op.showMessage(kCaption, error, MessageIcon::Warning);
        return false;
    }
    readingStarted(m_reading.reading());
    return true;
}

std::vector<int> TForm1::visibleColumns() const
{
    std::vector<int> columns;
    for (int c = 0; c < m_table.columnCount(); ++c)
        if (!Grid_values->isColumnHidden(c) && Grid_values->columnWidth(c) > 0)
            columns.push_back(c);
    return columns;
}

void TForm1::printTable()
{
    TablePrinter::preview(m_table, visibleColumns(), this);
}

void TForm1::restoreGeometryFromSettings()
{
    bool maximized = false;
    const auto saved = readWindowGeometry(m_context.paths.iniFile(), &maximized);
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    setGeometry(fittedWindowGeometry(screen->availableGeometry(), saved));
    if (maximized)
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TForm1::saveGeometryToSettings()
{
    writeWindowGeometry(m_context.paths.iniFile(), normalGeometry(), isMaximized());
}

} // namespace palvero
