#include "template_choice_window.h"

#include "cell_text.h"
#include "import_progress.h"
#include "key_field.h"
#include "window_placement.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace palvero {

TForm3::TForm3(TemplateChoiceContext context)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
    , m_context(context)
{
    setObjectName("TForm3");
    // Closing the main window ends the program even while this window is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle("Select template for import");

    auto* layout = new QVBoxLayout(this);
    Label1 = new QLabel("Choose Template for import/export of data", this);
    Label1->setObjectName("Label1");
    Combo_templates = new QComboBox(this);
    Combo_templates->setObjectName("Combo_templates");
    Combo_templates->setEditable(true);
    Combo_templates->setInsertPolicy(QComboBox::NoInsert);
    Combo_templates->setMinimumContentsLength(28);
    Combo_templates->setToolTip("A saved template, or <None> for the table as it is");
    refuseUnheldCharacters(Combo_templates->lineEdit());
    Label1->setBuddy(Combo_templates);
    // A typed name that names no template is refused here, with the reason.
    Label_problem = keyReasonLabel("Label_problem", this);
    Label_problem->setWordWrap(true);
    connect(Combo_templates, &QComboBox::currentTextChanged, Label_problem, &QLabel::clear);
    Label2 = new QLabel("If you select <None> then file will be open/save ", this);
    Label2->setObjectName("Label2");
    Label3 = new QLabel("as it is. For more information about templates", this);
    Label3->setObjectName("Label3");
    Label4 = new QLabel("look the User manual and go to Tools->Templates", this);
    Label4->setObjectName("Label4");
    for (QLabel* l : {Label2, Label3, Label4})
        l->setTextFormat(Qt::PlainText);

    // Esc rejects the dialog (hides it); Enter presses the default button, "Apply".
    BitBtn1 = new QPushButton("Cancel", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setAutoDefault(false);
    BitBtn2 = new QPushButton("Apply", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setDefault(true);
    QFont bold = BitBtn2->font();
    bold.setBold(true);
    BitBtn2->setFont(bold);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::reject);
    connect(BitBtn2, &QPushButton::clicked, this, &TForm3::apply);

    layout->addWidget(Label1);
    layout->addWidget(Combo_templates);
    layout->addWidget(Label_problem);
    layout->addSpacing(6);
    layout->addWidget(Label2);
    layout->addWidget(Label3);
    layout->addWidget(Label4);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    layout->addLayout(buttons);
}

void TForm3::showEvent(QShowEvent* event)
{
    if (QWidget* anchor = m_context.anchor)
        move(anchor->geometry().center() - QPoint(width() / 2, height() / 2));
    fitOnScreen(this, QSize(), m_context.anchor);
    QDialog::showEvent(event);
}

void TForm3::openFor(int mode)
{
    m_mode = mode == ImportMode ? ImportMode : ExportMode;
    Label_problem->clear();
    activate();
    show();
    raise();
    activateWindow();
    Combo_templates->setFocus();
}

void TForm3::activate()
{
    if (!m_context.templates.exists())
        return;
    Label1->setText(m_mode == ExportMode ? "Choose template to export data:" : "Choose template to import data:");
    Combo_templates->clear();
    Combo_templates->addItem(kNoTemplateName);
    Combo_templates->setCurrentText(kNoTemplateName);
    std::vector<TemplateRecord> records;
    m_context.templates.ReadAll(records); // a read error leaves "<None>" alone
    for (const TemplateRecord& r : records)
        if (r.type == m_mode)
            Combo_templates->addItem(cellText(r.name));
}

bool TForm3::namesNoTemplate(const std::string& name)
{
    if (name == kNoTemplateName || !m_context.templates.exists())
        return false;
    return m_context.templates.findTemplate(name).status == TemplateLookup::Status::NotFound;
}

void TForm3::apply()
{
    const std::string name = cellBytes(Combo_templates->currentText());
    // Exported through a name that is no template, the file would hold only empty lines.
    if (namesNoTemplate(name)) {
        Label_problem->setText("No template is named \"" + Combo_templates->currentText()
                               + "\": choose one from the list, or <None>");
        Combo_templates->setFocus();
        Combo_templates->lineEdit()->selectAll();
        return;
    }
    hide();
    const TableCsvOptions options{m_context.settings.ExportSeparator, m_context.settings.SimpleExport,
                                  settingsCodePage(m_context.settings)};
    const std::filesystem::path folder = m_context.paths.dataFolder();
    if (m_mode == ExportMode) {
        m_last = ExportTableCsv(m_context.table, name, options, m_context.templates, folder, m_context.op,
                                m_context.errorLog);
        return;
    }
    emit importStarting();
    {
        ImportProgressWindow progress(m_context.anchor, QStringLiteral("Reading the file..."));
        m_last = ImportTableCsv(m_context.table, name, options, m_context.templates, folder, m_context.op,
                                m_context.errorLog, progress.callback());
    }
    emit importFinished();
    if (m_last.status == TableCsvResult::Status::Done && m_last.rows > 0)
        emit tableImported();
}

} // namespace palvero
