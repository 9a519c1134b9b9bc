#include "meters_window.h"

#include "named_widgets.h"

#include "cell_text.h"
#include "csv.h"
#include "error_log.h"
#include "import_progress.h"
#include "meters_csv.h"
#include "table_csv.h"
#include "key_field.h"
#include "key_text.h"
#include "table_ops.h"
#include "text_grid_model.h"
#include "window_placement.h"

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

#include <exception>

namespace palvero {

namespace {

constexpr char kProgramCaption[] = "Palvero";
constexpr int kNo = 0;
constexpr int kSerial = 1;
constexpr int kKey = 2;

constexpr char kDeleteCaption[] = "Delete Confirmation";

std::string counted(int n, const char* one, const char* many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The one box that ends an import: what it did to meters.mrv, and every line it passed over.
std::string importSummary(const std::filesystem::path& file, const MetersCsvRead& read,
                          const MetersFile::SaveCount& saved)
{
    std::string text = "Import of meters from " + file.filename().string() + ":\n";
    text += counted(saved.added, "meter added", "meters added") + "\n";
    text += counted(saved.keysChanged, "key changed", "keys changed") + "\n";
    if (saved.keysKept > 0)
        text += counted(saved.keysKept, "meter without a key in the file keeps its stored key",
                        "meters without a key in the file keep their stored keys")
            + "\n";
    if (saved.unchanged > 0)
        text += counted(saved.unchanged, "meter had that key already", "meters had that key already") + "\n";
    if (read.outcome == MetersCsvRead::Outcome::TooManyData)
        text += "The import stopped at line " + std::to_string(read.line) + ": too many fields.\n";
    if (!read.skipped.empty())
        text += counted(read.skipped.total, "line skipped:", "lines skipped:") + "\n" + read.skipped.text() + "\n";
    text.pop_back();
    return text;
}

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
    Edit_aes->setFont(bold);
    Edit_aes->setToolTip("The meter's key: 32 hexadecimal digits (a pasted key may hold spaces or dashes), or "
                         "empty for a meter without one");
    Label_keyProblem = makeKeyField(Edit_aes, keyReasonLabel("Label_keyProblem", this));
    Label2->setBuddy(Edit_aes);

    auto* idColumn = new QVBoxLayout;
    idColumn->addWidget(Label1);
    idColumn->addWidget(Edit_id);
    auto* keyColumn = new QVBoxLayout;
    keyColumn->addWidget(Label2);
    keyColumn->addWidget(Edit_aes);
    keyColumn->addWidget(Label_keyProblem);
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
    // Centred on the screen, and wholly on it.
    showCentredOver(this, nullptr);
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
        // A held key repeats its release: one press is one question.
        if (!static_cast<QKeyEvent*>(event)->isAutoRepeat())
            deleteSelected();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TMetersView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TMetersView::rowSelected(int gridRow)
{
    m_selectedRow = gridRow;
    m_selectedId = m_model->cell(gridRow, kSerial);
    showRow(gridRow);
}

void TMetersView::selectMeter(const std::string& meterId)
{
    int row = -1;
    for (int r = 1; !meterId.empty() && r <= m_model->dataRowCount(); ++r)
        if (m_model->cell(r, kSerial) == meterId) {
            row = r;
            break;
        }
    m_selectedRow = row;
    m_selectedId = row > 0 ? meterId : std::string();
    if (row > 0) {
        selectInView(row);
    } else {
        m_moving = true;
        Grid_meters->selectionModel()->clear();
        m_moving = false;
    }
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
    Grid_meters->scrollTo(m_model->index(gridRow - 1, 0));
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
    m_moving = true;
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
    m_moving = false;
    // The selection stays on its meter wherever the file now lists it, and goes with it.
    selectMeter(m_selectedId);
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
    selectMeter({});
    clearEdits();
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
    // Only a whole key is stored, or no key on purpose (an empty field).
    const KeyText typedKey = readKeyText(cellBytes(Edit_aes->text()));
    if (!typedKey.ok() && typedKey.status != KeyText::Status::Empty) {
        showKeyProblem(Label_keyProblem, keyProblemText(typedKey));
        return;
    }
    const std::string key = typedKey.digits;
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
        break;
    default:
        return;
    }
    // The fields show the meter just saved, and so does the selection.
    selectMeter(meterId);
}

void TMetersView::deleteSelected()
{
    const int row = m_selectedRow;
    // A selection left over from a longer list points at nothing.
    if (row < 1 || row > m_model->dataRowCount())
        return;
    const std::string id = m_model->cell(row, kSerial);
    // Only the meter the fields show is deleted.
    if (id.empty() || cellBytes(Edit_id->text()) != id)
        return;
    if (!m_context.op.askYesNo(kDeleteCaption, "Are you sure you want to delete meter " + codePageToUtf8(id, cellCodePage()) + "?",
                               MessageIcon::Warning))
        return;
    if (!m_context.meters.DeleteMeter(id))
        return;
    if (m_model->dataRowCount() == 1) {
        for (int c : {kNo, kSerial, kKey})
            m_model->setCell(1, c, "");
        selectMeter({});
    } else {
        m_moving = true;
        m_model->removeRow(row);
        m_moving = false;
        for (int r = row; r <= m_model->dataRowCount(); ++r)
            m_model->setCell(r, kNo, std::to_string(r));
        showRow(row);
        // The meter that moved up into the place is the selected one now.
        selectMeter(m_model->cell(row, kSerial));
    }
    if (gridIsEmpty())
        clearEdits();
}

void TMetersView::deleteAllListed()
{
    // Emptying the list is as destructive as "Delete All": it is confirmed the same way.
    if (!m_context.op.askYesNo(kDeleteCaption, "Are you sure you want to delete ALL meters?", MessageIcon::Warning))
        return;
    std::vector<std::string> ids;
    ids.reserve(static_cast<std::size_t>(m_model->dataRowCount()));
    for (int row = 1; row <= m_model->dataRowCount(); ++row)
        if (!m_model->cell(row, kSerial).empty())
            ids.push_back(m_model->cell(row, kSerial));
    // Every listed meter in one pass over the file: row by row would move the later records
    // down once for each of them.
    if (!ids.empty() && !m_context.meters.DeleteMeters(ids)) {
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
                  m_context.op, m_context.errorLog, nullptr, kMetersExportTitle);
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
    using Outcome = MetersCsvRead::Outcome;
    const std::filesystem::path file(fileName);
    const CodePage page = settingsCodePage(m_context.settings);
    FileSource source(file);
    std::string error;
    MetersCsvRead read;
    if (!source.open(error)) {
        read.outcome = Outcome::ReadError;
        read.error = error;
    } else {
        ImportProgressWindow progress(this, "Reading " + QString::fromStdString(file.filename().string()) + "...");
        try {
            read = readMetersCsv(source, m_context.settings.ExportSeparator, page, progress.callback());
        } catch (const std::exception& e) {
            read = MetersCsvRead();
            read.outcome = Outcome::ReadError;
            read.error = "Cannot import " + fileName + ": " + e.what();
        }
    }
    switch (read.outcome) {
    case Outcome::ReadError:
        m_context.op.showMessage(kFileErrorCaption, kWrongImportFileText, MessageIcon::Warning);
        m_context.errorLog.LogErrorCode(logcode::CsvImport);
        m_context.errorLog.LogErrorText(read.error);
        return false;
    case Outcome::Empty:
        return false;
    case Outcome::Cancelled:
        return true; // nothing was saved, as the operator asked
    case Outcome::Utf16:
        m_context.op.showMessage(kImportRefusedCaption, utf16RefusedText(file), MessageIcon::Warning);
        return false;
    case Outcome::TooManyMeters:
        m_context.op.showMessage(kImportRefusedCaption,
                                 file.filename().string() + " holds more than " + std::to_string(kMaxImportMeters)
                                     + " meters.\nNothing was imported.",
                                 MessageIcon::Warning);
        return false;
    case Outcome::TooManyData:
        m_context.op.showMessage(kProgramCaption, kTooManyDataText, MessageIcon::Warning);
        break; // the meters of the lines before it are saved
    case Outcome::Read:
        break;
    }

    std::vector<MeterKeyRecord> meters;
    meters.reserve(read.meters.size());
    for (MetersCsvLine& m : read.meters)
        meters.push_back({std::move(m.id), std::move(m.key)});
    MetersFile::SaveCount saved;
    if (!meters.empty() && !m_context.meters.SaveMeters(meters, &saved)) {
        LoadMetersGrid();
        m_context.op.showMessage(kProgramCaption, "Meter " + meters.front().id + " is not saved!", MessageIcon::Warning);
        m_context.op.showMessage("Error import", "Errors during import!\nPlease, correct...", MessageIcon::Warning);
        return false;
    }
    LoadMetersGrid();
    std::string summary = importSummary(file, read, saved);
    if (meters.empty() && !read.anySeparator)
        summary += "\n\n" + noFieldsText(file, m_context.settings.ExportSeparator, page);
    m_context.op.showMessage(kProgramCaption, summary,
                             read.skipped.empty() ? MessageIcon::Information : MessageIcon::Warning);
    return read.outcome == Outcome::Read && !meters.empty();
}

} // namespace palvero
