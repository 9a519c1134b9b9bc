#include "teach_meter_window.h"

#include "cell_text.h"
#include "full_decode.h"
#include "meter_format_file.h"
#include "named_widgets.h"
#include "telegram_processor.h"
#include "telegram_text.h"
#include "window_placement.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QTableWidget>
#include <QTextEdit>
#include <QVBoxLayout>

namespace palvero {

namespace {

constexpr char kCaption[] = "Teach meter";

std::string defaultName(const FormatTelegram& t)
{
    const unsigned m = t.manufacturer;
    std::string name = {static_cast<char>(64 + ((m >> 10) & 0x1F)), static_cast<char>(64 + ((m >> 5) & 0x1F)),
                        static_cast<char>(64 + (m & 0x1F))};
    return name + "-" + hexByte(t.version) + "-" + hexByte(t.deviceType);
}

} // namespace

TTeachMeter::TTeachMeter(TeachMeterContext context, QWidget* centreOver)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_context(context)
    , m_centreOver(centreOver)
{
    setObjectName("TTeachMeter");
    setWindowTitle(kCaption);
    setModal(false);

    Label_meter = namedLabel("Telegrams of the meter, with the reading on its display:", "Label_meter", this);
    Grid_telegrams = new QTableWidget(0, 2, this);
    Grid_telegrams->setObjectName("Grid_telegrams");
    Grid_telegrams->setHorizontalHeaderLabels({"Application data", "Reading"});
    Grid_telegrams->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    Grid_telegrams->setToolTip("Type the reading the meter showed when it sent the telegram");
    Edit_telegram = new QLineEdit(this);
    Edit_telegram->setObjectName("Edit_telegram");
    Edit_telegram->setPlaceholderText("Paste a telegram in hex: a receiver frame from 68, or from its L field on");
    Button_add = namedButton("Add telegram", "Button_add", "Add the pasted telegram to the list", this);
    Combo_unit = new QComboBox(this);
    Combo_unit->setObjectName("Combo_unit");
    Combo_unit->setEditable(true);
    Combo_unit->addItems({"m3", "kWh", "MWh", "MJ", "GJ"});
    Edit_formatName = new QLineEdit(this);
    Edit_formatName->setObjectName("Edit_formatName");
    Edit_formatName->setToolTip("The format's name, one word");
    Button_search = namedButton("Search", "Button_search", "Find the fields that give every reading", this);
    List_candidates = new QListWidget(this);
    List_candidates->setObjectName("List_candidates");
    Memo_bytes = new QTextEdit(this);
    Memo_bytes->setObjectName("Memo_bytes");
    Memo_bytes->setReadOnly(true);
    Memo_bytes->setLineWrapMode(QTextEdit::NoWrap);
    Label_result = namedLabel("", "Label_result", this);
    Label_result->setWordWrap(true);
    Button_save = namedButton("Save format", "Button_save", "Keep the field as this model's meter format", this);
    Button_save->setEnabled(false);
    Button_close = namedButton("Close", "Button_close", "Hide the window (Esc)", this);

    connect(Button_add, &QPushButton::clicked, this, [this] {
        if (addTelegramText(Edit_telegram->text().toStdString()))
            Edit_telegram->clear();
    });
    connect(Edit_telegram, &QLineEdit::returnPressed, Button_add, &QPushButton::click);
    connect(Button_search, &QPushButton::clicked, this, &TTeachMeter::search);
    connect(Button_save, &QPushButton::clicked, this, &TTeachMeter::saveFormat);
    connect(Button_close, &QPushButton::clicked, this, &QWidget::hide);
    connect(List_candidates, &QListWidget::currentRowChanged, this, &TTeachMeter::showBytes);
    connect(Grid_telegrams, &QTableWidget::cellChanged, this, [this](int, int column) {
        if (column == 1)
            clearSearch();
    });
    connect(Combo_unit, &QComboBox::currentTextChanged, this, &TTeachMeter::clearSearch);

    auto* paste = new QHBoxLayout;
    paste->addWidget(Edit_telegram, 1);
    paste->addWidget(Button_add);
    auto* options = new QHBoxLayout;
    options->addWidget(new QLabel("Unit:", this));
    options->addWidget(Combo_unit);
    options->addWidget(new QLabel("Format name:", this));
    options->addWidget(Edit_formatName, 1);
    options->addWidget(Button_search);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Button_save);
    buttons->addStretch(1);
    buttons->addWidget(Button_close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_meter);
    layout->addWidget(Grid_telegrams, 2);
    layout->addLayout(paste);
    layout->addLayout(options);
    layout->addWidget(new QLabel("Fields that give every reading:", this));
    layout->addWidget(List_candidates, 1);
    layout->addWidget(Memo_bytes, 2);
    layout->addWidget(Label_result);
    layout->addLayout(buttons);
    resize(760, 620);
}

TTeachMeter::~TTeachMeter() = default;

void TTeachMeter::openEmpty()
{
    m_meterId.clear();
    m_samples.clear();
    m_frames.clear();
    Grid_telegrams->setRowCount(0);
    Edit_formatName->clear();
    Label_meter->setText("Paste telegrams of one meter and type the reading on its display beside each:");
    clearSearch();
    setResult("");
    showCentredOver(this, m_centreOver);
}

void TTeachMeter::openFor(int row)
{
    openEmpty();
    const MeterTable& t = m_context.table;
    if (row < 1 || row >= t.rowCount() || t.cell(row, col::MeterId).empty())
        return;
    m_meterId = t.cell(row, col::MeterId);
    Label_meter->setText(cellText("Telegrams of meter " + m_meterId + " heard in this session, with the reading "
                                  "on its display:"));
    telegramHeard(row);
    if (m_samples.empty())
        setResult("No telegram of this meter has been heard in this session: paste one.");
}

void TTeachMeter::telegramHeard(int row)
{
    if (m_meterId.empty() || m_context.table.cell(row, col::MeterId) != m_meterId)
        return;
    const ReceiverFrame* heard = m_context.reception.lastTelegrams().find(m_meterId);
    if (heard && std::find(m_frames.begin(), m_frames.end(), *heard) == m_frames.end())
        addFrame(*heard, m_context.table.cell(row, col::EncryptionKey));
}

bool TTeachMeter::addTelegramText(const std::string& text)
{
    const TelegramText telegram = readTelegramText(text, m_context.settings);
    if (!telegram.ok()) {
        setResult(telegram.message);
        return false;
    }
    const std::string id = meterIdText(telegram.frame);
    if (!m_meterId.empty() && id != m_meterId) {
        setResult("That telegram is from meter " + id + ", not from meter " + m_meterId + ".");
        return false;
    }
    if (std::find(m_frames.begin(), m_frames.end(), telegram.frame) != m_frames.end()) {
        setResult("That telegram is in the list already.");
        return false;
    }
    const int row = m_context.table.findMeterRow(id);
    const bool added = addFrame(telegram.frame, row > 0 ? m_context.table.cell(row, col::EncryptionKey) : "");
    if (added && m_meterId.empty()) {
        m_meterId = id;
        Label_meter->setText(cellText("Telegrams of meter " + id + ", with the reading on its display:"));
    }
    return added;
}

bool TTeachMeter::addFrame(const ReceiverFrame& frame, const std::string& rowKey)
{
    std::string why;
    auto sample = teachSampleOfFrame(frame, m_context.settings, m_context.formats, m_context.keys, rowKey, why);
    if (!sample) {
        setResult("The telegram cannot be taught from: " + why + ".");
        return false;
    }
    m_frames.push_back(frame);
    if (Edit_formatName->text().isEmpty())
        Edit_formatName->setText(cellText(defaultName(sample->header)));
    const int r = Grid_telegrams->rowCount();
    const QSignalBlocker quiet(Grid_telegrams);
    Grid_telegrams->insertRow(r);
    auto* bytes = new QTableWidgetItem(cellText(hexBytesSpaced(sample->data.data(), sample->data.size())));
    bytes->setFlags(bytes->flags() & ~Qt::ItemIsEditable);
    Grid_telegrams->setItem(r, 0, bytes);
    Grid_telegrams->setItem(r, 1, new QTableWidgetItem);
    m_samples.push_back(std::move(*sample));
    clearSearch();
    showBytes();
    return true;
}

void TTeachMeter::setReading(int telegram, const std::string& reading)
{
    if (telegram >= 0 && telegram < Grid_telegrams->rowCount())
        Grid_telegrams->item(telegram, 1)->setText(QString::fromStdString(reading));
}

void TTeachMeter::clearSearch()
{
    m_search = FormatSearch();
    List_candidates->clear();
    Button_save->setEnabled(false);
}

void TTeachMeter::search()
{
    for (int r = 0; r < Grid_telegrams->rowCount(); ++r)
        m_samples[static_cast<size_t>(r)].reading = Grid_telegrams->item(r, 1)->text().trimmed().toStdString();
    std::string name = Edit_formatName->text().simplified().replace(' ', '-').toStdString();
    if (name.empty() && !m_samples.empty())
        name = defaultName(m_samples.front().header);
    const FormatSearch found = searchMeterFormat(m_samples, Combo_unit->currentText().trimmed().toStdString(),
                                                 name, m_context.formats.decimalSeparator());
    clearSearch();
    m_search = found;
    const QSignalBlocker quiet(List_candidates);
    for (const auto& c : m_search.candidates) {
        std::string values;
        for (const auto& v : c.values)
            values += (values.empty() ? "" : ", ") + v;
        List_candidates->addItem(cellText(formatFieldText(c.field) + ": " + values));
    }
    if (!m_search.candidates.empty())
        List_candidates->setCurrentRow(0);
    showBytes();
    std::string text = m_search.why;
    if (m_search.outcome == FormatSearch::Outcome::Unique) {
        text += " \"Save format\" keeps it as format " + name + ".";
        Button_save->setEnabled(true);
    }
    setResult(text);
}

bool TTeachMeter::saveFormat()
{
    if (m_search.outcome != FormatSearch::Outcome::Unique)
        return false;
    const auto file = m_context.paths.dataFolder() / kMeterFormatsFileName;
    if (!appendMeterFormat(file, m_search.format)) {
        m_context.op.showMessage("Error saving file", "The meter format cannot be saved to " + file.string(),
                                 MessageIcon::Error);
        m_context.errorLog.LogErrorText("Cannot write the meter format to " + file.string());
        return false;
    }
    m_context.reception.useMeterFormatsIn(m_context.paths.dataFolder());
    std::string text = "Format " + m_search.format.name + " saved in " + kMeterFormatsFileName + ".";
    // The meter's row reads at once from the telegram heard last.
    const ReceiverFrame* heard = m_meterId.empty() ? nullptr : m_context.reception.lastTelegrams().find(m_meterId);
    if (heard && m_context.table.findMeterRow(m_meterId) > 0) {
        ReceiverFrame again = *heard;
        m_context.reception.processor().process(again);
        const int row = m_context.table.findMeterRow(m_meterId);
        if (!m_context.table.cell(row, col::MainValue).empty())
            text += " Meter " + m_meterId + " reads " + m_context.table.cell(row, col::MainValue) + " "
                + m_context.table.cell(row, col::Units) + ".";
    }
    Button_save->setEnabled(false);
    setResult(text);
    return true;
}

void TTeachMeter::showBytes()
{
    const int chosen = List_candidates->currentRow();
    const FormatCandidate* c = chosen >= 0 && chosen < static_cast<int>(m_search.candidates.size())
        ? &m_search.candidates[static_cast<size_t>(chosen)]
        : nullptr;
    QString html = "<pre>";
    for (size_t s = 0; s < m_samples.size(); ++s) {
        // The candidate's bytes in this telegram, when it took part in the search.
        int from = -1, to = -1;
        if (c) {
            auto it = std::find(m_search.used.begin(), m_search.used.end(), static_cast<int>(s));
            if (it != m_search.used.end()) {
                from = c->starts[static_cast<size_t>(it - m_search.used.begin())];
                to = from + c->field.size;
            }
        }
        html += QString::number(s + 1) + ".";
        const auto& data = m_samples[s].data;
        for (int i = 0; i < static_cast<int>(data.size()); ++i) {
            const QString byte = QString::fromStdString(hexByte(data[static_cast<size_t>(i)]));
            html += " " + (i >= from && i < to ? "<b style=\"background-color:#ffd54f\">" + byte + "</b>" : byte);
        }
        html += "\n";
    }
    Memo_bytes->setHtml(html + "</pre>");
}

void TTeachMeter::setResult(const std::string& text)
{
    Label_result->setText(cellText(text));
}

QString TTeachMeter::resultText() const
{
    return Label_result->text();
}

void TTeachMeter::reject()
{
    hide();
}

} // namespace palvero
