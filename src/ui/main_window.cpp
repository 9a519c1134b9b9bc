#include "main_window.h"

#include "about_window.h"
#include "cell_text.h"
#include "central_link.h"
#include "enter_key_window.h"
#include "exit_save.h"
#include "full_decode_window.h"
#include "elided_label.h"
#include "grid_delegate.h"
#include "main_window_field.h"
#include "teach_meter_window.h"
#include "measurement_file.h"
#include "meter_saves.h"
#include "meter_table_model.h"
#include "meter_tree.h"
#include "reader_log.h"
#include "settings_file.h"
#include "signal_chart.h"
#include "table_csv.h"
#include "table_ops.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTableView>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

namespace palvero {

namespace {

constexpr char kCaption[] = "Palvero";

// Whether the desktop names a program for PDF files. Only a freedesktop desktop can be
// asked (xdg-mime); elsewhere, or without xdg-mime, the open itself tells.
bool pdfViewerSetUp()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QString query = QStandardPaths::findExecutable("xdg-mime");
    if (query.isEmpty())
        return true;
    QProcess process;
    process.start(query, {"query", "default", "application/pdf"});
    if (!process.waitForFinished(3000))
        return true;
    return !process.readAllStandardOutput().trimmed().isEmpty();
#else
    return true;
#endif
}

// Typical widths in characters of the sixteen titled columns; additional values get 18.
constexpr int kColumnChars[col::Fixed] = {5, 10, 5, 12, 27, 11, 12, 6, 10, 9, 11, 30, 13, 10, 34, 22};

} // namespace

TForm1::TForm1(MainWindowContext context, QWidget* parent)
    : QMainWindow(parent)
    , m_context(context)
    , m_table(clampedCount(readStartupAppearance(context.paths.iniFile()).Count))
    , m_reception(m_table, context.settings, context.formats, context.keys)
    , m_reading(context.port, context.sleeper, context.settings, m_table, m_reception, context.op, context.formats)
{
    setObjectName("TForm1");
    setWindowTitle(kCaption);
    openDocument = [](const QString& path) {
        return pdfViewerSetUp() && QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    };
    buildWindow();
    buildMenus();
    m_table.addListener(this);

    // The start-up read of the appearance comes straight from the settings file.
    const StartupAppearance look = readStartupAppearance(m_context.paths.iniFile());
    m_table.setAppearance(look.Count, look.FontSize, look.BoldFont);

    // Compact frames read on this walk with formats learned on earlier ones.
    m_reception.keepCompactFormatsIn(m_context.paths.dataFolder());
    // Meters taught on earlier walks; a format that cannot be read is named in the reader log.
    std::vector<FormatTextError> formatErrors;
    if (!m_reception.useMeterFormatsIn(m_context.paths.dataFolder(), &formatErrors))
        m_table.addReaderLogLine(std::string("Meter formats cannot be read from ") + kMeterFormatsFileName);
    for (const auto& e : formatErrors)
        m_table.addReaderLogLine(std::string(kMeterFormatsFileName) + ", line " + std::to_string(e.line) + ": "
                                 + e.text + "; that format is not used");

    m_reading.onStateChanged = [this](const ReadingControl::State& s) { readingStateChanged(s); };
    buildFieldFeatures();
    buildCentralFeatures();
    readingStateChanged({});
}

TForm1::~TForm1()
{
    m_reading.onStateChanged = nullptr;
    m_table.removeListener(this);
    // The views go before the table, the tree index and the model they read from.
    delete centralWidget();
    delete m_model;
}

void TForm1::buildWindow()
{
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    auto* bar = new QHBoxLayout;

    Butt_read = new QPushButton("Start", central);
    Butt_read->setObjectName("Butt_read");
    Butt_read->setMinimumWidth(90);
    connect(Butt_read, &QPushButton::clicked, this, [this] { m_reading.startStop(); });

    Check_noNew = new QCheckBox("Do not add new devices", central);
    Check_noNew->setObjectName("Check_noNew");
    connect(Check_noNew, &QCheckBox::toggled, this, [this](bool on) { m_table.doNotAddNew = on; });

    BitBtn1 = new QPushButton("Clear table", central);
    BitBtn1->setObjectName("BitBtn1");
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::clearTableButton);

    Butt_exportTable = new QPushButton("Export", central);
    Butt_exportTable->setObjectName("Butt_exportTable");
    Butt_exportTable->setToolTip("Export the table to a CSV file, plainly or through a template");
    connect(Butt_exportTable, &QPushButton::clicked, this, [this] { emit templateChoiceRequested(1); });

    auto* searchLabel = new QLabel("Search ID:", central);
    Edit_searchID = new QLineEdit(central);
    Edit_searchID->setObjectName("Edit_searchID");
    Edit_searchID->setMaxLength(8);
    Edit_searchID->setFixedWidth(110);
    refuseUnheldCharacters(Edit_searchID);
    Edit_searchID->installEventFilter(this);
    connect(Edit_searchID, &QLineEdit::textChanged, this, [this](const QString& t) { searchMeter(t, false); });

    // Free command to the receiver; kept for service use, not shown.
    Edit_send_command = new QLineEdit(central);
    Edit_send_command->setObjectName("Edit_send_command");
    Edit_send_command->setMaxLength(64);
    Edit_send_command->setVisible(false);
    refuseUnheldCharacters(Edit_send_command);
    Button1 = new QPushButton("Send data", central);
    Button1->setObjectName("Button1");
    Button1->setVisible(false);
    connect(Button1, &QPushButton::clicked, this,
            [this] { m_reading.sendData(cellBytes(Edit_send_command->text())); });

    bar->addWidget(Butt_read);
    bar->addSpacing(12);
    bar->addWidget(Check_noNew);
    bar->addSpacing(12);
    bar->addWidget(BitBtn1);
    bar->addWidget(Butt_exportTable);
    bar->addStretch(1);
    bar->addWidget(searchLabel);
    bar->addWidget(Edit_searchID);
    bar->addWidget(Edit_send_command);
    bar->addWidget(Button1);
    layout->addLayout(bar);

    auto* splitter = new QSplitter(Qt::Horizontal, central);
    Tree_meters = new QTreeWidget(splitter);
    Tree_meters->setObjectName("Tree_meters");
    m_tree = std::make_unique<MeterTree>(Tree_meters, m_table);

    Grid_values = new QTableView(splitter);
    Grid_values->setObjectName("Grid_values");
    m_model = new MeterTableModel(m_table, m_context.settings, this);
    Grid_values->setModel(m_model);
    Grid_values->setItemDelegate(new GridDelegate(Grid_values));
    Grid_values->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid_values->setSelectionBehavior(QAbstractItemView::SelectItems);
    Grid_values->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_values->setWordWrap(false);
    Grid_values->verticalHeader()->setVisible(false);
    Grid_values->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Grid_values->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Grid_values->horizontalHeader()->setHighlightSections(false);
    Grid_values->setContextMenuPolicy(Qt::CustomContextMenu);
    Grid_values->installEventFilter(this);
    connect(Grid_values->horizontalHeader(), &QHeaderView::sectionDoubleClicked, this, &TForm1::headerDoubleClicked);
    connect(Grid_values->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (!current.isValid())
                    return;
                m_table.selectedRow = MeterTableModel::tableRow(current);
                m_table.selectedColumn = current.column();
                m_model->refreshMarkedRows();
            });
    connect(Grid_values, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Grid_values->viewport()->mapToGlobal(at)); });

    splitter->addWidget(Tree_meters);
    splitter->addWidget(Grid_values);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({190, 1000});
    layout->addWidget(splitter, 1);
    setCentralWidget(central);

    StatusPanel0 = new ElidedLabel(this);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setFixedWidth(180);
    StatusPanel1 = new QLabel(this);
    StatusPanel1->setObjectName("StatusPanel1");
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);

    Timer_elapsedTime = new QTimer(this);
    Timer_elapsedTime->setObjectName("Timer_elapsedTime");
    Timer_elapsedTime->setInterval(1000);
    connect(Timer_elapsedTime, &QTimer::timeout, this, [this] { m_reading.tick(); });
}

QAction* TForm1::addCommand(QMenu* menu, const char* caption, const char* objectName, bool enabled)
{
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setObjectName(objectName);
    a->setEnabled(enabled);
    return a;
}

void TForm1::buildMenus()
{
    // Commands whose windows are not part of the program yet stay disabled.
    QMenu* file = menuBar()->addMenu("File");
    file->setObjectName("File1");
    connect(addCommand(file, "Import from CSV", "ImportfromCSV1", true), &QAction::triggered, this,
            [this] { emit templateChoiceRequested(0); });
    connect(addCommand(file, "Export data to CSV", "Exportdata1", true), &QAction::triggered, this,
            [this] { emit templateChoiceRequested(1); });
    connect(addCommand(file, "Save in database", "Saveindatabase1", true), &QAction::triggered, this,
            &TForm1::saveMeasurements);
    connect(addCommand(file, "Save log file", "Savelogfile1", true), &QAction::triggered, this, &TForm1::saveLogFile);
    addCommand(file, "Print table data", "Printtabledata1", true); // prints nothing
    file->addSeparator();
    connect(addCommand(file, "Exit", "Exit1", true), &QAction::triggered, this, &QWidget::close);

    QMenu* tools = menuBar()->addMenu("Tools");
    tools->setObjectName("Tools1");
    addCommand(tools, "Settings", "Settings1", false);
    connect(addCommand(tools, "Templates", "Templates1", true), &QAction::triggered, this,
            &TForm1::templatesRequested);
    connect(addCommand(tools, "Reports", "Reports1", true), &QAction::triggered, this, &TForm1::reportsRequested);
    connect(addCommand(tools, "Saved Meters", "SavedMeters1", true), &QAction::triggered, this,
            &TForm1::savedMetersRequested);
    addCommand(tools, "View signal strenght", "Viewsignalstrenght1", false);
    addCommand(tools, "Enter AES-128 key", "EnterAES128key1", false);
    addCommand(tools, "Decode telegram...", "Decodetelegram1", false)->setShortcut(QKeySequence("Ctrl+D"));
    addCommand(tools, "Teach a meter...", "Teachameter1", false);

    QMenu* help = menuBar()->addMenu("Help");
    help->setObjectName("Help1");
    addCommand(help, "About", "About1", false);
    connect(addCommand(help, "User Manual BG", "UserManualBG1", true), &QAction::triggered, this,
            [this] { openManual("UsrManBg.pdf"); });
    connect(addCommand(help, "User Manual EN", "UserManualEN1", true), &QAction::triggered, this,
            [this] { openManual("UsrManEn.pdf"); });

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    connect(addCommand(PopupMenu1, "Export whole table", "Exportwholetable1", true), &QAction::triggered, this,
            &TForm1::exportWholeTable);
    connect(addCommand(PopupMenu1, "Clear table", "Cleartable1", true), &QAction::triggered, this,
            &TForm1::clearTablePopup);
    connect(addCommand(PopupMenu1, "Save measurements in database", "Savemeasurementsindatabase1", true),
            &QAction::triggered, this, &TForm1::saveMeasurements);
    connect(addCommand(PopupMenu1, "Save/update meter in database", "Saveupdatemeterindatabase1", true),
            &QAction::triggered, this, &TForm1::saveMeterFromTable);
    connect(addCommand(PopupMenu1, "Copy Full telegram", "CopyFulltelegram1", true), &QAction::triggered, this,
            &TForm1::copyFullTelegram);
    connect(addCommand(PopupMenu1, "Remove selected row", "Removeselectedrow1", true), &QAction::triggered, this,
            &TForm1::removeSelectedRow);
    addCommand(PopupMenu1, "Enter AES-128 key", "EnterAES128key2", false);
    connect(addCommand(PopupMenu1, "Clear AES-128 keys", "ClearAES128keys1", true), &QAction::triggered, this,
            &TForm1::clearKeys);
    addCommand(PopupMenu1, "Full decode", "Fulldecode1", false);
    addCommand(PopupMenu1, "Teach meter...", "Teachmeter1", false);
}

void TForm1::readingStateChanged(const ReadingControl::State&)
{
    readingStarted(m_reading.reading());
    // A log file that cannot be written is reported once per reading, not per telegram.
    if (m_reading.reading())
        m_context.errorLog.beginReading([this](const std::string& line) { m_table.addReaderLogLine(line); });
    else
        m_context.errorLog.endReading();
    Butt_read->setText(QString::fromStdString(m_reading.buttonCaption()));
    Button1->setEnabled(!m_reading.reading());
    if (m_reading.reading() && !Timer_elapsedTime->isActive())
        Timer_elapsedTime->start();
    else if (!m_reading.reading())
        Timer_elapsedTime->stop();
}

void TForm1::selectRow(int row)
{
    m_table.selectedRow = row;
    const QModelIndex index = m_model->index(row - 1, std::max(m_table.selectedColumn, 0));
    Grid_values->setCurrentIndex(index);
    Grid_values->scrollTo(index);
    m_model->refreshMarkedRows();
}

void TForm1::searchMeter(const QString& text, bool exact)
{
    if (text.isEmpty()) {
        searchResult(text, true);
        return;
    }
    const std::string needle = cellBytes(text);
    int found = 0;
    for (int r = 1; r < m_table.rowCount(); ++r) {
        const std::string& id = m_table.cell(r, col::MeterId);
        if (exact ? id == needle : id.find(needle) != std::string::npos)
            found = r;
    }
    if (!exact)
        searchResult(text, found > 0);
    if (found > 0 && m_table.dataRowCount() >= 2)
        selectRow(found);
}

void TForm1::clearTableButton()
{
    recordUndo("Clear table");
    m_table.clearData();
    m_table.clearFlag(RowFlag::LowBattery);
    m_table.clearFlag(RowFlag::Decrypted);
    tableCleared();
    commandDone();
}

void TForm1::clearTablePopup()
{
    recordUndo("Clear table");
    m_table.clearData();
    m_tree->clear();
    tableCleared();
    commandDone();
}

void TForm1::tableCleared()
{
    // The tree's colours and the counts describe the rows that were just emptied.
    m_table.recountMediumCounters();
    m_reading.refreshCounts();
    Tree_meters->viewport()->update();
}

void TForm1::clearKeys()
{
    recordUndo("Clear AES-128 keys");
    for (int r = 1; r < m_table.rowCount(); ++r)
        m_table.setCell(r, col::EncryptionKey, "");
    m_table.notifyRowsChanged(1, m_table.rowCount() - 1);
    commandDone();
}

void TForm1::removeSelectedRow()
{
    if (m_table.selectedRow < 1 || m_table.selectedRow >= m_table.rowCount())
        return;
    recordUndo("Remove selected row");
    const std::string id = RemoveTableRow(m_table, m_table.selectedRow);
    if (!id.empty())
        m_tree->removeMeter(cellText(id));
    m_model->refreshMarkedRows();
    commandDone();
}

void TForm1::exportWholeTable()
{
    TableCsvResult result;
    if (ExportGridCsv(m_table.grid(), "meters.csv", m_context.settings.ExportSeparator, m_context.paths.dataFolder(),
                      m_context.op, m_context.errorLog, &result.file)) {
        result.status = TableCsvResult::Status::Done;
        result.rows = m_table.dataRowCount();
        m_table.notifyStatusText(kExchangeStatusPanel, exportStatusText(result));
    }
}

void TForm1::saveLogFile()
{
    saveReaderLog(m_table.readerLog, m_context.paths.dataFolder(), m_context.op, m_context.errorLog);
}

void TForm1::headerDoubleClicked(int column)
{
    if (m_table.dataRowCount() < 2)
        return;
    if (column == col::MeterId || column == col::Medium || column == col::Mfr)
        recordUndo(column == col::MeterId ? "Sort by meter ID"
                                          : column == col::Medium ? "Group by medium" : "Group by manufacturer");
    if (column == col::MeterId)
        SortByMeterId(m_table, m_context.errorLog);
    else if (column == col::Medium)
        GroupByMedium(m_table, m_context.errorLog);
    else if (column == col::Mfr)
        GroupByManufacturer(m_table, m_context.errorLog);
    commandDone();
}

bool TForm1::saveMeasurements()
{
    return MeasurementFile(m_context.paths.dataFolder(), m_context.errorLog, m_context.formats)
        .SaveMeasurements(m_table.grid());
}

bool TForm1::saveMeterFromTable()
{
    const int row = m_table.selectedRow;
    // An empty row names no meter.
    if (row < 1 || row >= m_table.rowCount() || m_table.cell(row, col::MeterId).empty())
        return false;
    const std::string& id = m_table.cell(row, col::MeterId);
    if (id.size() > MeterKeyRecord::kIdCapacity) {
        m_context.op.showMessage(kCaption,
                                 "Meter ID \"" + codePageToUtf8(id, cellCodePage())
                                     + "\" is longer than 8 characters, which meters.mrv keeps: the meter is not saved.",
                                 MessageIcon::Warning);
        return false;
    }
    MetersFile meters(m_context.paths.dataFolder(), m_context.errorLog);
    return SaveMeterFromTable(meters, m_context.errorLog, id, m_table.cell(row, col::EncryptionKey));
}

void TForm1::saveNewMeters()
{
    MetersFile meters(m_context.paths.dataFolder(), m_context.errorLog);
    SaveNewMeters(meters, m_context.errorLog, m_table.grid());
}

void TForm1::openManual(const QString& fileName)
{
    const std::string path = (m_context.paths.programFolder() / fileName.toStdString()).string();
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        m_context.op.showMessage(kCaption,
                                 "The manual " + path + " is not in the program folder.\n"
                                     "Install Palvero there again, or upgrade the folder (README.txt says how).",
                                 MessageIcon::Warning);
        return;
    }
    if (!openDocument(QString::fromStdString(path)))
        m_context.op.showMessage(kCaption,
                                 "The manual " + path + " cannot be opened: no PDF viewer is set up on this "
                                     "computer.\nInstall a PDF viewer, or open the file with one by hand.",
                                 MessageIcon::Warning);
}

void TForm1::applyColumnWidths()
{
    const QFontMetrics fm(Grid_values->font());
    const int charWidth = fm.horizontalAdvance(QLatin1Char('0'));
    for (int c = 0; c < m_table.columnCount(); ++c) {
        const int chars = c < col::Fixed ? kColumnChars[c] : 18;
        const int title = fm.horizontalAdvance(cellText(m_table.cell(0, c))) + 12;
        Grid_values->setColumnWidth(c, std::max(chars * charWidth + 8, title));
    }
}

void TForm1::applyAppearance()
{
    const TableAppearance& a = m_table.appearance();
    QFont f = Grid_values->font();
    f.setPointSize(std::max(a.fontSize, 1));
    f.setBold(a.bold);
    Grid_values->setFont(f);
    Grid_values->verticalHeader()->setMinimumSectionSize(1);
    Grid_values->verticalHeader()->setDefaultSectionSize(a.rowHeight());
    // The title row is row 0 of the table: same font, same height.
    QHeaderView* titles = Grid_values->horizontalHeader();
    titles->setFont(f);
    titles->setMinimumHeight(a.rowHeight());
    titles->setMaximumHeight(a.rowHeight());
    applyColumnWidths();
}

void TForm1::copyFullTelegram()
{
    const int row = m_table.selectedRow;
    if (row >= 1 && row < m_table.rowCount())
        QGuiApplication::clipboard()->setText(cellText(m_table.cell(row, col::FullTelegram)));
}

void TForm1::attachAboutWindow(TForm4* about)
{
    QAction* a = findChild<QAction*>("About1");
    connect(a, &QAction::triggered, about, &TForm4::showWindow);
    a->setEnabled(true);
}

void TForm1::attachKeyWindow(TEnterAES* keyDialog)
{
    // The main menu's command keeps "Use this Key for all " as it was; the pop-up's clears it.
    QAction* menu = findChild<QAction*>("EnterAES128key1");
    connect(menu, &QAction::triggered, keyDialog, [this, keyDialog] { keyDialog->openFor(m_table.selectedRow, false); });
    menu->setEnabled(true);
    QAction* popup = findChild<QAction*>("EnterAES128key2");
    connect(popup, &QAction::triggered, keyDialog, [this, keyDialog] { keyDialog->openFor(m_table.selectedRow, true); });
    popup->setEnabled(true);
    // Keys entered are taken back with Edit > Undo like the table's other commands.
    keyDialog->beforeChange = [this](const std::string& caption) { recordUndo(caption); };
    keyDialog->afterChange = [this] { commitUndo(); };
}

void TForm1::attachFullDecodeWindow(TFullDecode* fullDecode)
{
    QAction* row = findChild<QAction*>("Fulldecode1");
    connect(row, &QAction::triggered, fullDecode, [this, fullDecode] { fullDecode->decodeRow(m_table.selectedRow); });
    row->setEnabled(true);
    QAction* text = findChild<QAction*>("Decodetelegram1");
    connect(text, &QAction::triggered, fullDecode, &TFullDecode::askTelegram);
    text->setEnabled(true);
}

void TForm1::attachSignalChart(TForm5* chart)
{
    QAction* a = findChild<QAction*>("Viewsignalstrenght1");
    connect(a, &QAction::triggered, chart, &TForm5::showWindow);
    a->setEnabled(true);
}

void TForm1::attachTeachWindow(TTeachMeter* teach)
{
    m_teach = teach;
    QAction* row = findChild<QAction*>("Teachmeter1");
    connect(row, &QAction::triggered, teach, [this, teach] { teach->openFor(m_table.selectedRow); });
    row->setEnabled(true);
    QAction* tools = findChild<QAction*>("Teachameter1");
    connect(tools, &QAction::triggered, teach, [this, teach] {
        if (m_table.selectedRow >= 1 && !m_table.cell(m_table.selectedRow, col::MeterId).empty())
            teach->openFor(m_table.selectedRow);
        else
            teach->openEmpty();
    });
    tools->setEnabled(true);
}

void TForm1::rowUpdated(int row)
{
    if (m_teach && m_teach->isVisible())
        m_teach->telegramHeard(row);
    m_tree->updateRow(row);
    Tree_meters->viewport()->update();
    // Scrolled to once the delivery is through, or by the event loop for a telegram that came
    // another way (a meter taught again).
    m_followPending = true;
    if (!m_followScheduled) {
        m_followScheduled = true;
        QTimer::singleShot(0, this, [this] {
            m_followScheduled = false;
            followPending();
        });
    }
}

void TForm1::deliveryDone()
{
    followPending();
}

void TForm1::followPending()
{
    if (!m_followPending)
        return;
    m_followPending = false;
    meterRead(m_table.lastReadRow);
}

void TForm1::statusText(int panel, const std::string& text)
{
    (panel == 0 ? StatusPanel0 : StatusPanel1)->setText(QString::fromStdString(text));
}

void TForm1::tableRebuilt()
{
    // An import brought other meters: the counts follow at the next tick.
    m_table.recountMediumCounters();
    m_tree->rebuild();
}

void TForm1::appearanceChanged()
{
    applyAppearance();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (!m_context.op.askYesNo("Exit Confirmation", "Are you sure you want to exit?", MessageIcon::Warning)) {
        event->ignore();
        return;
    }
    if (m_reading.reading())
        m_reading.stop();
    // The readings go first, then the meters they came from. What cannot be saved is said,
    // and the operator may stay to keep it.
    if (!saveAtExit(m_table.grid(), m_context.settings.AutoSave, m_context.settings.SaveMeters,
                    m_context.paths.dataFolder(), m_context.errorLog, m_context.formats, m_context.op)) {
        event->ignore();
        return;
    }
    if (m_central->sendOnStop())
        m_central->sendReadings(CentralLink::SendWhen::Exit);
    saveGeometryToSettings();
    event->accept();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == Edit_searchID) {
            // The key is not in the text yet: the whole text as it stands is looked up.
            searchMeter(Edit_searchID->text(), true);
        } else if (watched == Grid_values) {
            if (key->key() == Qt::Key_Delete) {
                removeSelectedRow();
                return true;
            }
            if (key->key() == Qt::Key_E && (key->modifiers() & Qt::ControlModifier)) {
                exportWholeTable();
                return true;
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace palvero
