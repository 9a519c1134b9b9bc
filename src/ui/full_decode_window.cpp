#include "full_decode_window.h"

#include "reader_log.h"

#include "cell_text.h"
#include "decode_telegram_dialog.h"
#include "full_decode.h"
#include "telegram_processor.h"
#include "telegram_text.h"
#include "window_placement.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

#include <filesystem>

namespace palvero {

namespace {

constexpr char kCaption[] = "Full decode of radio telegram";

} // namespace

TFullDecode::TFullDecode(FullDecodeContext context, QWidget* centreOver)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
    , m_context(context)
    , m_centreOver(centreOver)
{
    setObjectName("TFullDecode");
    setWindowTitle(kCaption);
    setModal(false);

    Memo_decode = new QPlainTextEdit(this);
    Memo_decode->setObjectName("Memo_decode");
    Memo_decode->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo_decode->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo_decode->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    BitBtn1 = new QPushButton("Save", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn1->setToolTip("Save the text in a file (Ctrl+S)");
    BitBtn2 = new QPushButton("Clear", this);
    BitBtn2->setObjectName("BitBtn2");
    BitBtn2->setToolTip("Empty the window");
    BitBtn3 = new QPushButton("Close", this);
    BitBtn3->setObjectName("BitBtn3");
    BitBtn3->setToolTip("Hide the window; the text stays (Esc)");
    connect(BitBtn1, &QPushButton::clicked, this, &TFullDecode::save);
    connect(BitBtn2, &QPushButton::clicked, this, &TFullDecode::clear);
    connect(BitBtn3, &QPushButton::clicked, this, &QWidget::hide);

    // Esc, Enter and Ctrl+S mean the same wherever the focus is.
    for (QWidget* w : std::initializer_list<QWidget*>{Memo_decode, BitBtn1, BitBtn2, BitBtn3}) {
        w->installEventFilter(this);
        if (auto* b = qobject_cast<QPushButton*>(w))
            b->setAutoDefault(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    buttons->addStretch(1);
    buttons->addWidget(BitBtn3);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Memo_decode, 1);
    layout->addLayout(buttons);
    resize(620, 460);

    m_telegramDialog = std::make_unique<DecodeTelegramDialog>(
        [this](const std::string& text) { return decodeText(text); }, centreOver);
}

TFullDecode::~TFullDecode() = default;

void TFullDecode::showWindow()
{
    showCentredOver(this, m_centreOver);
}

std::vector<std::string> TFullDecode::decodeFrame(const ReceiverFrame& frame, const std::string& rowKey) const
{
    return fullDecodeOfFrame(frame, m_context.settings, m_context.formats, m_context.keys, rowKey,
                             m_context.meterFormats);
}

void TFullDecode::decodeRow(int row)
{
    const MeterTable& t = m_context.table;
    if (row >= 1 && row < t.rowCount() && !t.cell(row, col::FullTelegram).empty()) {
        const std::string& cell = t.cell(row, col::FullTelegram);
        const TelegramText text = readTelegramText(cell, m_context.settings);
        const std::string& id = t.cell(row, col::MeterId);
        const ReceiverFrame* heard = m_context.heard ? m_context.heard->find(id) : nullptr;
        if (text.ok())
            append(decodeFrame(text.frame, t.cell(row, col::EncryptionKey)));
        else if (cell == "N/A" && heard)
            append(decodeFrame(*heard, t.cell(row, col::EncryptionKey)));
        else if (cell == "N/A")
            m_context.op.showMessage(kCaption,
                                     "Meter " + id + " has no telegram to decode: its \"Full telegram\" is N/A.\n"
                                     "Tools > Decode telegram... (Ctrl+D) decodes a telegram you paste.",
                                     MessageIcon::Information);
        else
            m_context.op.showMessage(kCaption, "The \"Full telegram\" of meter " + id + " cannot be decoded.\n"
                                         + text.message, MessageIcon::Warning);
    }
    showWindow();
}

bool TFullDecode::decodeText(const std::string& text)
{
    const TelegramText telegram = readTelegramText(text, m_context.settings);
    if (!telegram.ok()) {
        m_context.op.showMessage("Decode telegram", telegram.message, MessageIcon::Warning);
        return false;
    }
    const int row = m_context.table.findMeterRow(meterIdText(telegram.frame));
    append(decodeFrame(telegram.frame, row > 0 ? m_context.table.cell(row, col::EncryptionKey) : std::string()));
    showWindow();
    return true;
}

void TFullDecode::askTelegram()
{
    m_telegramDialog->showWindow();
}

void TFullDecode::append(const std::vector<std::string>& lines)
{
    QStringList text;
    for (const std::string& line : lines)
        text << cellText(line);
    QTextCursor cursor(Memo_decode->document());
    cursor.movePosition(QTextCursor::End);
    if (!Memo_decode->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text.join('\n'));
    Memo_decode->verticalScrollBar()->setValue(Memo_decode->verticalScrollBar()->maximum());
}

std::vector<std::string> TFullDecode::lines() const
{
    std::vector<std::string> out;
    if (Memo_decode->document()->isEmpty())
        return out;
    for (const QString& line : Memo_decode->toPlainText().split('\n'))
        out.push_back(cellBytes(line));
    return out;
}

bool TFullDecode::save()
{
    FileDialogSpec dialog;
    dialog.title = "Save full decode";
    dialog.filter = "TXT|*.txt";
    dialog.defaultExtension = "txt";
    dialog.folder = m_context.paths.dataFolder().string();
    const std::optional<std::string> chosen = m_context.op.askSaveFile(dialog);
    if (!chosen || chosen->empty())
        return false;
    std::filesystem::path file(*chosen);
    if (file.is_relative())
        file = m_context.paths.dataFolder() / file;
    const WriteOutcome written = writeTextLines(file, lines());
    if (written)
        return true;
    m_context.op.showMessage(
        "Palvero", writeFailureText(written, "The full decode cannot be saved", "Unsuccesfull save of full decode window!"),
        MessageIcon::Error);
    m_context.errorLog.LogErrorText("Cannot write the full decode: " + written.error);
    return false;
}

void TFullDecode::clear()
{
    Memo_decode->clear();
}

bool TFullDecode::handleKey(QKeyEvent* key, const QObject* target)
{
    if (key->key() == Qt::Key_S && (key->modifiers() & Qt::ControlModifier)) {
        save();
        return true;
    }
    if (key->key() == Qt::Key_Escape) {
        hide();
        return true;
    }
    if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
        if (target == BitBtn1)
            save();
        else
            hide();
        return true;
    }
    return false;
}

bool TFullDecode::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && handleKey(static_cast<QKeyEvent*>(event), watched))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TFullDecode::keyPressEvent(QKeyEvent* event)
{
    if (!handleKey(event, this))
        QDialog::keyPressEvent(event);
}

void TFullDecode::reject()
{
    hide();
}

} // namespace palvero
