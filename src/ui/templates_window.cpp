#include "templates_window.h"

#include "window_placement.h"

#include "named_widgets.h"

#include "cell_text.h"
#include "csv.h"
#include "csv_reader.h"
#include "table_csv.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolTip>
#include <QVBoxLayout>

#include <exception>

namespace palvero {

namespace {

constexpr char kCaption[] = "Create/Change Import and Export templates";
constexpr char kMessageCaption[] = "Palvero";
constexpr char kFileMissingText[] =
    "File \\template\\tmplates.dat does not exist. Create it in order to save Your template!";
constexpr char kEnterNameText[] = "Enter Template Name";
constexpr char kWriteFailedPrefix[] = "Unable to write template, exception - ";
constexpr char kDeleteFailedPrefix[] = "Unable to delete template, exception - ";
constexpr char kLoadFailedPrefix[] = "Unsuccesfull import - ";
constexpr char kImportText[] = "Import";
constexpr char kExportText[] = "Export";
constexpr int kSampleFieldChars = 50;
// A sample is for the eye: more lines than this are not shown.
constexpr int kSampleRows = 1000;

// Data cells of the selected template column on the highlight colour with white text,
// the others on white with black text.
class TemplateGridDelegate : public QStyledItemDelegate {
public:
    TemplateGridDelegate(const int& selected, QObject* parent)
        : QStyledItemDelegate(parent)
        , m_selected(selected)
    {
    }
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = index.column() == m_selected;
        painter->save();
        painter->fillRect(option.rect, selected ? QApplication::palette().brush(QPalette::Highlight) : QBrush(Qt::white));
        painter->setPen(selected ? Qt::white : Qt::black);
        painter->setClipRect(option.rect);
        painter->drawText(option.rect.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data(Qt::DisplayRole).toString());
        painter->restore();
    }

private:
    const int& m_selected;
};

} // namespace

TTemplates::TTemplates(TemplatesWindowContext context)
    : QDialog(nullptr, Qt::Window | Qt::WindowStaysOnTopHint)
    , m_context(context)
{
    m_types.fill(columntype::None);
    setObjectName("TTemplates");
    // Closing the main window ends the program even while this window is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(kCaption);
    buildWindow();
}

void TTemplates::buildWindow()
{
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    BitBtn1 = namedButton("New Template", "BitBtn1", "Start a new template", this);
    BitBtn2 = namedButton("Change template", "BitBtn2", "Change or delete a saved template", this);
    BitBtn3 = namedButton("Close templates editing", "BitBtn3", "Leave editing and close the window", this);
    connect(BitBtn1, &QPushButton::clicked, this, &TTemplates::newTemplate);
    connect(BitBtn2, &QPushButton::clicked, this, &TTemplates::changeTemplate);
    connect(BitBtn3, &QPushButton::clicked, this, &TTemplates::closeEditing);
    top->addWidget(BitBtn1);
    top->addWidget(BitBtn2);
    top->addStretch(1);
    top->addWidget(BitBtn3);
    layout->addLayout(top);

    GroupBox1 = new QGroupBox("   Template properties   ", this);
    GroupBox1->setObjectName("GroupBox1");
    auto* form = new QGridLayout(GroupBox1);
    Label1 = namedLabel("Template Type", "Label1", GroupBox1);
    Combo_templateType = new QComboBox(GroupBox1);
    Combo_templateType->setObjectName("Combo_templateType");
    Combo_templateType->addItems({kImportText, kExportText});
    Combo_templateType->setToolTip("Import templates read up to four kinds of column, export templates write any");
    Label1->setBuddy(Combo_templateType);
    Label2 = namedLabel("Template Name (max 32 symbols)", "Label2", GroupBox1);
    Edit_templateName = new QLineEdit(GroupBox1);
    Edit_templateName->setObjectName("Edit_templateName");
    Edit_templateName->setMaxLength(static_cast<int>(TemplateRecord::kNameCapacity));
    refuseUnheldCharacters(Edit_templateName);
    Label2->setBuddy(Edit_templateName);
    Label_oldTemplates = namedLabel("Saved templates:", "Label_oldTemplates", GroupBox1);
    Combo_oldTemplates = new QComboBox(GroupBox1);
    Combo_oldTemplates->setObjectName("Combo_oldTemplates");
    Combo_oldTemplates->setMinimumContentsLength(24);
    Label_oldTemplates->setBuddy(Combo_oldTemplates);
    connect(Combo_oldTemplates, &QComboBox::textActivated, this, [this](const QString& name) {
        loadTemplate(name);
        Edit_templateName->setText(name);
    });
    Butt_saveTemplate = namedButton("Save", "Butt_saveTemplate", "Save the template into tmplates.dat", GroupBox1);
    Butt_saveTemplate->setDefault(true); // Enter saves while editing
    Butt_templateDelete = namedButton("Delete", "Butt_templateDelete", "Delete the chosen template", GroupBox1);
    Butt_cancel = namedButton("Cancel", "Butt_cancel", "Leave editing without saving", GroupBox1);
    connect(Butt_saveTemplate, &QPushButton::clicked, this, &TTemplates::saveTemplate);
    connect(Butt_templateDelete, &QPushButton::clicked, this, &TTemplates::deleteTemplate);
    connect(Butt_cancel, &QPushButton::clicked, this, &TTemplates::cancel);

    form->addWidget(Label1, 0, 0);
    form->addWidget(Combo_templateType, 0, 1);
    form->addWidget(Label2, 1, 0);
    form->addWidget(Edit_templateName, 1, 1);
    form->addWidget(Label_oldTemplates, 2, 0);
    form->addWidget(Combo_oldTemplates, 2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Butt_saveTemplate);
    buttons->addWidget(Butt_templateDelete);
    buttons->addStretch(1);
    buttons->addWidget(Butt_cancel);
    form->addLayout(buttons, 3, 0, 1, 2);
    layout->addWidget(GroupBox1);

    StringGrid1 = new QTableWidget(1, 5, this);
    StringGrid1->setObjectName("StringGrid1");
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->setSelectionMode(QAbstractItemView::NoSelection);
    StringGrid1->setWordWrap(false);
    StringGrid1->verticalHeader()->setVisible(false);
    StringGrid1->horizontalHeader()->setHighlightSections(false);
    StringGrid1->horizontalHeader()->setSectionsClickable(true);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(110);
    StringGrid1->setItemDelegate(new TemplateGridDelegate(m_selected, StringGrid1));
    StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
    StringGrid1->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    StringGrid1->viewport()->installEventFilter(this);
    StringGrid1->horizontalHeader()->viewport()->installEventFilter(this);
    connect(StringGrid1, &QTableWidget::currentCellChanged, this, [this](int row, int column) {
        if (row >= 0 && column >= 0)
            selectColumn(column);
    });
    connect(StringGrid1->horizontalHeader(), &QHeaderView::sectionClicked, this, &TTemplates::selectColumn);
    connect(StringGrid1, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        openGridMenu(StringGrid1->columnAt(at.x()), StringGrid1->viewport()->mapToGlobal(at));
    });
    connect(StringGrid1->horizontalHeader(), &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        QHeaderView* header = StringGrid1->horizontalHeader();
        openGridMenu(header->logicalIndexAt(at), header->mapToGlobal(at));
    });
    clearHeaderCells();
    layout->addWidget(StringGrid1, 1);

    Menu_grid = new QMenu(this);
    Menu_grid->setObjectName("Menu_grid");

    // The starting state: nothing to edit until New or Change.
    GroupBox1->setEnabled(false);
    StringGrid1->setEnabled(false);
    Label_oldTemplates->setVisible(false);
    Combo_oldTemplates->setVisible(false);
    Butt_templateDelete->setVisible(false);
    resize(720, 480);
}

void TTemplates::showEvent(QShowEvent* event)
{
    if (QWidget* anchor = m_context.anchor)
        move(anchor->geometry().center() - QPoint(width() / 2, height() / 2));
    fitOnScreen(this, QSize(), m_context.anchor);
    QDialog::showEvent(event);
}

bool TTemplates::eventFilter(QObject* watched, QEvent* event)
{
    // The hint names the selected column wherever the mouse is over the grid.
    if (event->type() == QEvent::ToolTip
        && (watched == StringGrid1->viewport() || watched == StringGrid1->horizontalHeader()->viewport())) {
        auto* help = static_cast<QHelpEvent*>(event);
        if (StringGrid1->toolTip().isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), StringGrid1->toolTip(), StringGrid1);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TTemplates::message(const std::string& text)
{
    m_context.op.showMessage(kMessageCaption, text, MessageIcon::None);
}

QString TTemplates::headerText(int column) const
{
    const QTableWidgetItem* item = StringGrid1->horizontalHeaderItem(column);
    return item ? item->text() : QString();
}

void TTemplates::setHeaderText(int column, const QString& text)
{
    if (column < 0 || column >= StringGrid1->columnCount())
        return;
    if (QTableWidgetItem* item = StringGrid1->horizontalHeaderItem(column))
        item->setText(text);
    else
        StringGrid1->setHorizontalHeaderItem(column, new QTableWidgetItem(text));
}

void TTemplates::clearHeaderCells()
{
    for (int c = 0; c < StringGrid1->columnCount(); ++c)
        setHeaderText(c, QString());
}

void TTemplates::clearDataRows()
{
    StringGrid1->clearContents();
    StringGrid1->setRowCount(1);
}

void TTemplates::setColumnCount(int columns)
{
    const int before = StringGrid1->columnCount();
    StringGrid1->setColumnCount(columns);
    // A column that comes back shows the type it still has in the editor.
    for (int c = before; c < columns; ++c)
        setHeaderText(c, QString::fromLatin1(columntype::name(m_types[static_cast<std::size_t>(c)])));
    if (m_selected != columntype::None && m_selected >= columns)
        selectColumn(-1);
}

void TTemplates::selectColumn(int column)
{
    m_selected = column >= 0 && column < StringGrid1->columnCount() ? column : columntype::None;
    StringGrid1->setToolTip(m_selected == columntype::None ? QString()
                                                           : QStringLiteral("Column No. %1").arg(m_selected + 1));
    StringGrid1->viewport()->update();
}

void TTemplates::newTemplate()
{
    if (!m_context.templates.exists())
        message(kFileMissingText);
    Combo_oldTemplates->setVisible(false);
    Label_oldTemplates->setVisible(false);
    Butt_templateDelete->setVisible(false);
    Butt_saveTemplate->setVisible(true);
    Butt_cancel->setVisible(true);
    GroupBox1->setEnabled(true);
    StringGrid1->setEnabled(true);
    Combo_templateType->setCurrentText(kImportText);
    Edit_templateName->setText("My Template");
    Edit_templateName->setVisible(true);
    Label2->setVisible(true);
    clearHeaderCells();
    m_types.fill(columntype::None);
    Edit_templateName->setFocus();
    Edit_templateName->selectAll();
}

void TTemplates::fillOldTemplates()
{
    Combo_oldTemplates->clear();
    std::vector<TemplateRecord> records;
    const FileOutcome outcome = m_context.templates.ReadAll(records);
    if (!outcome.ok()) {
        message(outcome.error);
        return;
    }
    for (const TemplateRecord& r : records)
        Combo_oldTemplates->addItem(cellText(r.name));
    // Nothing is chosen until the operator picks a name.
    Combo_oldTemplates->setCurrentIndex(-1);
}

void TTemplates::changeTemplate()
{
    if (!m_context.templates.exists())
        return;
    fillOldTemplates();
    Combo_oldTemplates->setVisible(true);
    Label_oldTemplates->setVisible(true);
    Butt_templateDelete->setVisible(true);
    Butt_saveTemplate->setVisible(true);
    Edit_templateName->clear();
    Edit_templateName->setVisible(false);
    Label2->setVisible(false);
    GroupBox1->setEnabled(true);
    StringGrid1->setEnabled(true);
    Combo_oldTemplates->setFocus();
}

void TTemplates::loadTemplate(const QString& name)
{
    std::vector<TemplateRecord> records;
    if (!m_context.templates.ReadAll(records).ok())
        return;
    const std::string wanted = cellBytes(name);
    for (const TemplateRecord& r : records) {
        if (r.name != wanted)
            continue;
        Combo_templateType->setCurrentText(r.type == TemplateRecord::kExport ? kExportText : kImportText);
        clearDataRows();
        // A damaged count still gives a usable grid of 1..16 columns.
        const int count = std::clamp(r.usableColumnCount(), 1, columntype::MaxColumns);
        StringGrid1->setColumnCount(count);
        if (m_selected != columntype::None && m_selected >= count)
            selectColumn(-1);
        clearHeaderCells();
        // Each column shows its own type, so that what is shown is what Save stores.
        for (int i = 0; i < count; ++i)
            setHeaderText(i, QString::fromLatin1(columntype::name(r.columnTypes[static_cast<std::size_t>(i)])));
        m_types = r.columnTypes;
    }
}

void TTemplates::saveTemplate()
{
    const QString name = Edit_templateName->text();
    if (name.isEmpty()) {
        message(kEnterNameText);
        return;
    }
    // Without the file the template would be lost without a word; say so again.
    if (!m_context.templates.exists()) {
        message(kFileMissingText);
        return;
    }
    std::vector<TemplateRecord> records;
    const FileOutcome read = m_context.templates.ReadAll(records);
    if (!read.ok()) {
        message(read.error);
        return;
    }
    TemplateRecord record;
    record.name = cellBytes(name);
    record.type = Combo_templateType->currentText() == kExportText ? TemplateRecord::kExport : TemplateRecord::kImport;
    record.columnCount = static_cast<std::uint8_t>(StringGrid1->columnCount());
    record.columnTypes = m_types;
    const FileOutcome written = m_context.templates.Save(record);
    if (!written.ok()) {
        message(kWriteFailedPrefix + written.error);
        return;
    }
    cancel();
}

void TTemplates::deleteTemplate()
{
    const FileOutcome outcome = m_context.templates.Delete(cellBytes(Edit_templateName->text()));
    if (!outcome.ok()) {
        message(kDeleteFailedPrefix + outcome.error);
        return;
    }
    Edit_templateName->clear();
    Combo_templateType->setCurrentIndex(-1);
    fillOldTemplates();
}

void TTemplates::cancel()
{
    Combo_oldTemplates->clear();
    Combo_templateType->setCurrentIndex(-1);
    Edit_templateName->clear();
    Label_oldTemplates->setVisible(false);
    Combo_oldTemplates->setVisible(false);
    Butt_templateDelete->setVisible(false);
    Butt_saveTemplate->setVisible(true);
    Butt_cancel->setVisible(true);
    GroupBox1->setEnabled(false);
    clearHeaderCells();
    StringGrid1->setEnabled(false);
}

void TTemplates::closeEditing()
{
    cancel();
    hide();
}

void TTemplates::setColumnType(int code)
{
    if (m_selected == columntype::None)
        return;
    setHeaderText(m_selected, QString::fromLatin1(columntype::name(code)));
    m_types[static_cast<std::size_t>(m_selected)] = static_cast<std::uint8_t>(code);
}

void TTemplates::clearType()
{
    if (m_selected == columntype::None)
        return;
    setHeaderText(m_selected, QString());
    m_types[static_cast<std::size_t>(m_selected)] = columntype::None;
}

void TTemplates::addColumn()
{
    if (StringGrid1->columnCount() < columntype::MaxColumns)
        setColumnCount(StringGrid1->columnCount() + 1);
}

void TTemplates::removeColumn()
{
    if (StringGrid1->columnCount() > 1)
        setColumnCount(StringGrid1->columnCount() - 1);
}

void TTemplates::clearGrid()
{
    clearDataRows();
    clearHeaderCells();
    // The headers show the working types: both go together.
    m_types.fill(columntype::None);
}

void TTemplates::loadFile()
{
    const FileDialogSpec spec{"Load data file", "CSV files|*.csv|TXT files|*.txt", "csv",
                              m_context.paths.dataFolder().string(), {}};
    const std::optional<std::string> chosen = m_context.op.askOpenFile(spec);
    if (!chosen || chosen->empty())
        return;
    try {
        FileSource source(*chosen);
        std::string error;
        CsvReadRules rules;
        rules.separator = m_context.settings.ExportSeparator;
        rules.codePage = settingsCodePage(m_context.settings);
        rules.maxSeparators = kTemplateSampleMaxSeparators;
        CsvReader reader(source, rules);
        CsvRecord record;
        CsvReader::Next next = source.open(error) ? reader.next(record) : CsvReader::Next::ReadError;
        if (next == CsvReader::Next::Utf16) {
            m_context.op.showMessage(kImportRefusedCaption, utf16RefusedText(*chosen), MessageIcon::Warning);
            return;
        }
        if (next == CsvReader::Next::ReadError) {
            m_context.op.showMessage(kImportFileErrorCaption, kWrongImportFileText, MessageIcon::Warning);
            return;
        }
        if (next != CsvReader::Next::Record)
            return;
        clearDataRows();
        for (int row = 0; next == CsvReader::Next::Record && row < kSampleRows; next = reader.next(record)) {
            const int shown = std::min<int>(static_cast<int>(record.fields.size()), StringGrid1->columnCount());
            for (int c = 0; c < shown; ++c) {
                const std::string& field = record.fields[static_cast<std::size_t>(c)];
                StringGrid1->setItem(row, c, new QTableWidgetItem(cellText(std::string_view(field).substr(0, kSampleFieldChars))));
            }
            if (record.tooMany) {
                message(kTooManyDataText);
                return;
            }
            StringGrid1->setRowCount(++row + 1);
        }
        if (next == CsvReader::Next::ReadError)
            m_context.op.showMessage(kImportFileErrorCaption, kWrongImportFileText, MessageIcon::Warning);
    } catch (const std::exception& e) {
        message(std::string(kLoadFailedPrefix) + e.what());
    }
}

void TTemplates::buildGridMenu()
{
    Menu_grid->clear();
    delete m_typeMenu;
    m_typeMenu = Menu_grid->addMenu("Column type");
    m_typeMenu->setObjectName("Columntype1");
    const int types = Combo_templateType->currentText() == kExportText ? columntype::Count : columntype::ImportCount;
    for (int code = 1; code <= types; ++code)
        connect(m_typeMenu->addAction(QString::fromLatin1(columntype::name(code))), &QAction::triggered, this,
                [this, code] { setColumnType(code); });
    const struct {
        const char* caption;
        const char* name;
        void (TTemplates::*command)();
    } items[] = {
        {"Clear type", "Cleartype1", &TTemplates::clearType},
        {"Add column", "Addcolumn1", &TTemplates::addColumn},
        {"Remove column", "Removecolumn1", &TTemplates::removeColumn},
        {"Load file", "Loadfile1", &TTemplates::loadFile},
        {"Clear grid", "Cleargrid1", &TTemplates::clearGrid},
    };
    for (const auto& item : items) {
        QAction* a = Menu_grid->addAction(item.caption);
        a->setObjectName(item.name);
        connect(a, &QAction::triggered, this, item.command);
    }
}

void TTemplates::openGridMenu(int column, const QPoint& globalPos)
{
    // The column under the mouse is the one the menu acts on.
    if (column >= 0) {
        selectColumn(column);
        StringGrid1->setCurrentCell(0, column);
    }
    buildGridMenu();
    Menu_grid->popup(globalPos);
}

} // namespace palvero
