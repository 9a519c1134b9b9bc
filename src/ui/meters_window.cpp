#include "meters_window.h"

#include "named_widgets.h"

#include "cell_text.h"
#include "csv.h"
#include "error_log.h"
#include "table_ops.h"
#include "text_grid_model.h"

#include <QAction>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QTableView>
#include <QVBoxLayout>

namespace palvero {

namespace {

constexpr char kProgramCaption[] = "Palvero";
constexpr int kNo = 0;
constexpr int kSerial = 1;
constexpr int kKey = 2;

TextGrid emptyMetersGrid()
{
    TextGrid grid(2, 3);
    grid.setCell(0, kNo, "No. ");
    grid.setCell(0, kSerial, "Serial No. ");
    grid.setCell(0, kKey, "AES-128 key ");
    return grid;
}

} // namespace

TMetersView::TMetersView(MetersViewContext context, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_context(context)
{
    setObjectName("TMetersView");
    setWindowTitle("Meters and Keys database");
    // A secondary window never keeps the program running on its own.
    setAttribute(Qt::WA_QuitOnClose, false);
    buildWindow();
}

TMetersView::~TMetersView()
{
    // The view goes before the model it reads from.
    delete Grid_meters;
}

void TMetersView::buildWindow()
{
    auto* layout = new QVBoxLayout(this);

    auto* edits = new QHBoxLayout;
    QFont bold = font();
    bold.setBold(true);

    Label1 = new QLabel("Meter ID", this);
    Label1->setObjectName("Label1");
    Edit_id = new QLineEdit(this);
    Edit_id->setObjectName("Edit_id");
    Edit_id->setMaxLength(8);
    Edit_id->setFont(bold);
    Edit_id->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), Edit_id));
    Edit_id->setToolTip("Identification number of the meter; shorter numbers get leading zeros");
    Label1->setBuddy(Edit_id);

    Label2 = new QLabel("AES-128 encryption key", this);
    Label2->setObjectName("Label2");
    Edit_aes = new QLineEdit(this);
    Edit_aes->setObjectName("Edit_aes");
    Edit_aes->setMaxLength(32);
    Edit_aes->setFont(bold);
    Edit_aes->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]*"), Edit_aes));
    Edit_aes->setToolTip("The meter's key: 32 hexadecimal digits");
    Label2->setBuddy(Edit_aes);

    auto* idColumn = new QVBoxLayout;
    idColumn->addWidget(Label1);
    idColumn->addWidget(Edit_id);
    auto* keyColumn = new QVBoxLayout;
    keyColumn->addWidget(Label2);
    keyColumn->addWidget(Edit_aes);
    edits->addLayout(idColumn, 1);
    edits->addLayout(keyColumn, 3);
    layout->addLayout(edits);

    auto* buttons = new QHBoxLayout;
    BitBtn1 = namedButton("New / Update", "BitBtn1", "Save the meter and key of the fields", this);
    BitBtn2 = namedButton("Delete", "BitBtn2", "Delete the selected meter", this);
    BitBtn3 = namedButton("Export", "BitBtn3", "Write the list to a CSV file", this);
    BitBtn4 = namedButton("Import", "BitBtn4", "Save the meters and keys of a CSV file", this);
    BitBtn5 = namedButton("Delete All", "BitBtn5", "Delete every meter of the database", this);
    BitBtn5->setFont(bold);
    for (QPushButton* b : {BitBtn1, BitBtn2, BitBtn3, BitBtn4})
        buttons->addWidget(b);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn5);
    layout->addLayout(buttons);

    m_model = new TextGridModel(emptyMetersGrid(), this);
    Grid_meters = new QTableView(this);
    Grid_meters->setObjectName("Grid_meters");
    Grid_meters->setModel(m_model);
    Grid_meters->setSelectionBehavior(QAbstractItemView::SelectRows);
    Grid_meters->setSelectionMode(QAbstractItemView::SingleSelection);
    Grid_meters->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid_meters->setWordWrap(false);
    Grid_meters->verticalHeader()->setVisible(false);
    Grid_meters->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Grid_meters->horizontalHeader()->setStretchLastSection(true);
    const QFontMetrics fm(Grid_meters->font());
    Grid_meters->setColumnWidth(kNo, fm.horizontalAdvance("00000") + 16);
    Grid_meters->setColumnWidth(kSerial, fm.horizontalAdvance("Serial No. 00") + 16);
    Grid_meters->setContextMenuPolicy(Qt::CustomContextMenu);
    Grid_meters->installEventFilter(this);
    layout->addWidget(Grid_meters, 1);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    auto command = [this](const char* caption, const char* name, void (TMetersView::*slot)()) {
        QAction* a = PopupMenu1->addAction(caption);
        a->setObjectName(name);
        connect(a, &QAction::triggered, this, slot);
    };
    command("Import", "Import1", &TMetersView::importFile);
    command("Export", "Export1", &TMetersView::exportGrid);
    command("Delete", "Delete1", &TMetersView::deleteSelected);
    command("Delete all", "Deleteall1", &TMetersView::deleteAllListed);
    command("Refresh", "Refresh1", &TMetersView::LoadMetersGrid);

    connect(BitBtn1, &QPushButton::clicked, this, &TMetersView::newOrUpdate);
    connect(BitBtn2, &QPushButton::clicked, this, &TMetersView::deleteSelected);
    connect(BitBtn3, &QPushButton::clicked, this, &TMetersView::exportGrid);
    connect(BitBtn4, &QPushButton::clicked, this, &TMetersView::importFile);
    connect(BitBtn5, &QPushButton::clicked, this, &TMetersView::ClearMeters);
    connect(Grid_meters, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(Grid_meters->viewport()->mapToGlobal(at)); });
    connect(Grid_meters->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && !m_moving)
                    rowSelected(current.row() + 1);
            });

    resize(560, 420);
}

void TMetersView::open()
{
    clearEdits();
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
    raise();
    activateWindow();
}

bool TMetersView::event(QEvent* event)
{
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate)
        LoadMetersGrid();
    return QWidget::event(event);
}

bool TMetersView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Grid_meters && event->type() == QEvent::KeyRelease
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        deleteSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TMetersView::rowSelected(int gridRow)
{
    m_selectedRow = gridRow;
    showRow(gridRow);
}

void TMetersView::showRow(int gridRow)
{
    Edit_id->setText(cellText(m_model->cell(gridRow, kSerial)));
    Edit_aes->setText(cellText(m_model->cell(gridRow, kKey)));
}

void TMetersView::selectInView(int gridRow)
{
    m_moving = true;
    Grid_meters->setCurrentIndex(m_model->index(gridRow - 1, 0));
    m_moving = false;
}

bool TMetersView::gridIsEmpty() const
{
    return m_model->dataRowCount() == 1 && m_model->cell(1, kNo).empty();
}

void TMetersView::clearEdits()
{
    Edit_id->clear();
    Edit_aes->clear();
}

void TMetersView::LoadMetersGrid()
{
    const std::vector<MeterKeyRecord> records = m_context.meters.ReadAll();
    const FileOutcome& outcome = m_context.meters.lastOutcome();
    if (outcome.status == FileStatus::Missing) {
        m_context.errorLog.LogErrorCode(logcode::MetersGrid);
        return;
    }
    if (!outcome.ok()) {
        m_context.errorLog.LogErrorCode(logcode::MetersGridRead);
        m_context.errorLog.LogErrorText(outcome.error);
    }
    m_model->rebuild([&records](TextGrid& grid) {
        grid.setRowCount(1);
        grid.setRowCount(1 + std::max<int>(static_cast<int>(records.size()), 1));
        for (std::size_t i = 0; i < records.size(); ++i) {
            const int row = static_cast<int>(i) + 1;
            grid.setCell(row, kNo, std::to_string(row));
            grid.setCell(row, kSerial, records[i].id);
            grid.setCell(row, kKey, records[i].key);
        }
    });
}

void TMetersView::ClearMeters()
{
    if (!m_context.op.askYesNo("Delete Confirmation", "Are you sure you want to delete ALL meters?",
                               MessageIcon::Warning))
        return;
    if (!m_context.meters.Truncate()) {
        if (m_context.meters.lastOutcome().status == FileStatus::Missing) {
            m_context.errorLog.LogErrorCode(logcode::MetersMissingAtLookup);
            return;
        }
        m_context.errorLog.LogErrorCode(logcode::MetersTruncate);
        m_context.errorLog.LogErrorText(kCantTruncateMetersText);
        m_context.op.showMessage(kProgramCaption, "Can not delete meters in file, read-only?", MessageIcon::Warning);
        return;
    }
    m_model->clearRows();
}

void TMetersView::newOrUpdate()
{
    QString id = Edit_id->text();
    if (id.isEmpty())
        return;
    if (id.size() < 8) {
        id = id.rightJustified(8, '0');
        Edit_id->setText(id);
    }
    const std::string meterId = cellBytes(id);
    const std::string key = cellBytes(Edit_aes->text());
    switch (m_context.meters.SaveMeter(meterId, key)) {
    case MetersFile::MeterUpdated:
        // The listed row is brought up to date only when it is the meter just saved; any
        // other stored meter is shown as the file now holds it.
        if (m_selectedRow >= 1 && m_selectedRow <= m_model->dataRowCount()
            && m_model->cell(m_selectedRow, kSerial) == meterId.substr(0, MeterKeyRecord::kIdCapacity)) {
            m_model->setCell(m_selectedRow, kSerial, meterId);
            m_model->setCell(m_selectedRow, kKey, key);
        } else {
            LoadMetersGrid();
        }
        break;
    case MetersFile::MeterAdded:
        LoadMetersGrid();
        m_selectedRow = 1;
        selectInView(1);
        showRow(1);
        break;
    default:
        break;
    }
}

void TMetersView::deleteSelected()
{
    const int row = m_selectedRow;
    // A selection left over from a longer list points at nothing.
    if (row < 1 || row > m_model->dataRowCount())
        return;
    if (!m_context.meters.DeleteMeter(m_model->cell(row, kSerial)))
        return;
    if (m_model->dataRowCount() == 1) {
        for (int c : {kNo, kSerial, kKey})
            m_model->setCell(1, c, "");
    } else {
        m_moving = true;
        m_model->removeRow(row);
        m_moving = false;
        for (int r = row; r <= m_model->dataRowCount(); ++r)
            m_model->setCell(r, kNo, std::to_string(r));
        if (row <= m_model->dataRowCount())
            selectInView(row);
        showRow(row);
    }
    if (gridIsEmpty())
        clearEdits();
}

void TMetersView::deleteAllListed()
{
    // Emptying the list is as destructive as "Delete All": it is confirmed the same way.
    if (!m_context.op.askYesNo("Delete Confirmation", "Are you sure you want to delete ALL meters?",
                               MessageIcon::Warning))
        return;
    // One rewrite of the file for every listed meter, as each of them deleted in turn would
    // leave it: the file is either as it was or without all of them.
    std::vector<std::string> ids;
    for (int row = 1; row <= m_model->dataRowCount(); ++row)
        if (!m_model->cell(row, kSerial).empty())
            ids.push_back(m_model->cell(row, kSerial));
    if (!ids.empty() && m_context.meters.DeleteMeters(ids) < 0) {
        const FileOutcome& outcome = m_context.meters.lastOutcome();
        if (outcome.status == FileStatus::IoError) { // a missing file is logged by the delete
            m_context.errorLog.LogErrorCode(logcode::MetersDeleteAll);
            m_context.errorLog.LogErrorText(outcome.error);
        }
    }
    LoadMetersGrid();
    if (gridIsEmpty())
        clearEdits();
}

void TMetersView::exportGrid()
{
    ExportGridCsv(m_model->grid(), "meters.csv", m_context.settings.ExportSeparator, m_context.paths.dataFolder(),
                  m_context.op, m_context.errorLog);
}

void TMetersView::importFile()
{
    const FileDialogSpec spec{"Import meters and keys", "CSV|*.csv|TXT|*.txt", "csv",
                              m_context.paths.dataFolder().string(), ""};
    const std::optional<std::string> chosen = m_context.op.askOpenFile(spec);
    if (!chosen || chosen->empty())
        return;
    if (!ImportMetersCsv(*chosen))
        m_context.op.showMessage(kProgramCaption, "Not succesfull import!", MessageIcon::Warning);
}

bool TMetersView::ImportMetersCsv(const std::string& fileName)
{
    std::vector<std::string> lines;
    std::string error;
    if (!readTextLines(fileName, lines, error)) {
        m_context.op.showMessage(kFileErrorCaption, "You chose wrong file for import!\nContact administrator!",
                                 MessageIcon::Warning);
        m_context.errorLog.LogErrorCode(logcode::CsvImport);
        m_context.errorLog.LogErrorText(error);
        return false;
    }
    if (lines.empty())
        return false;

    // The lines are shown after the meters already listed while they are saved.
    if (!m_model->cell(1, kNo).empty())
        m_model->appendRow();
    bool tooMany = false;
    bool interrupted = false;
    for (const std::string& line : lines) {
        const CsvFields split = splitCsvLine(line, m_context.settings.ExportSeparator, kMetersMaxSeparators);
        if (split.tooMany) {
            m_context.op.showMessage(kProgramCaption, kTooManyDataText, MessageIcon::Warning);
            tooMany = true;
            break;
        }
        const std::string id = split.fields.size() > 0 ? split.fields[0] : std::string();
        const std::string key = split.fields.size() > 1 ? split.fields[1] : std::string();
        // A line without an ID (a blank line) names no meter.
        if (id.empty())
            continue;
        const int last = m_model->dataRowCount();
        m_model->setCell(last, kNo, std::to_string(last));
        m_model->setCell(last, kSerial, id);
        m_model->setCell(last, kKey, key);
        const int result = m_context.meters.SaveMeter(id, key);
        if (result == MetersFile::MeterAdded) {
            m_model->appendRow();
        } else if (result == MetersFile::SaveFailed) {
            m_context.op.showMessage(kProgramCaption, "Meter " + id + " is not saved!", MessageIcon::Warning);
            // Only a missing or unusable file fails a save: the lines after it would fail too.
            interrupted = true;
            break;
        }
    }
    if (m_model->dataRowCount() > 1 && m_model->cell(m_model->dataRowCount(), kNo).empty())
        m_model->removeRow(m_model->dataRowCount());
    LoadMetersGrid();

    if (interrupted) {
        m_context.op.showMessage("Error import", "Errors during import!\nPlease, correct...", MessageIcon::Warning);
        return false;
    }
    return !tooMany;
}

} // namespace palvero
