#include "decode_telegram_dialog.h"

#include "cell_text.h"
#include "window_placement.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace palvero {

DecodeTelegramDialog::DecodeTelegramDialog(Decoder decoder, QWidget* centreOver)
    : QDialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint)
    , m_decoder(std::move(decoder))
    , m_centreOver(centreOver)
{
    setObjectName("DecodeTelegramDialog");
    setWindowTitle("Decode telegram");
    setModal(false);

    Label_telegram = new QLabel("&Telegram in hexadecimal, spaces optional: a whole receiver frame from 68,\n"
                                "or a telegram from its L field on",
                                this);
    Label_telegram->setObjectName("Label_telegram");
    Memo_telegram = new QPlainTextEdit(this);
    Memo_telegram->setObjectName("Memo_telegram");
    Memo_telegram->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    Memo_telegram->setTabChangesFocus(true);
    Memo_telegram->setPlaceholderText("2E 44 2D 2C 78 56 34 12 01 07 7A ...");
    Memo_telegram->installEventFilter(this);
    Label_telegram->setBuddy(Memo_telegram);

    Butt_decode = new QPushButton("&Decode", this);
    Butt_decode->setObjectName("Butt_decode");
    Butt_decode->setDefault(true);
    Butt_decode->setToolTip("Show the full decode of this telegram (Enter)");
    Butt_cancel = new QPushButton("Cancel", this);
    Butt_cancel->setObjectName("Butt_cancel");
    connect(Butt_decode, &QPushButton::clicked, this, &DecodeTelegramDialog::decode);
    connect(Butt_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Butt_decode);
    buttons->addWidget(Butt_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_telegram);
    layout->addWidget(Memo_telegram, 1);
    layout->addLayout(buttons);
    resize(560, 220);
}

void DecodeTelegramDialog::showWindow()
{
    showCentredOver(this, m_centreOver);
    Memo_telegram->setFocus();
    Memo_telegram->selectAll();
}

void DecodeTelegramDialog::decode()
{
    if (m_decoder(cellBytes(Memo_telegram->toPlainText())))
        hide();
}

bool DecodeTelegramDialog::eventFilter(QObject* watched, QEvent* event)
{
    // A telegram is one line: Enter decodes instead of starting another.
    if (watched == Memo_telegram && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            decode();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace palvero
