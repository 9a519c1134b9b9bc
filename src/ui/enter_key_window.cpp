#include "enter_key_window.h"

#include "cell_text.h"
#include "key_field.h"
#include "key_text.h"
#include "meter_tree.h"
#include "window_placement.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <vector>

namespace palvero {

namespace {

constexpr int kKeyDigits = 32;
constexpr char kLabelText[] = "Enter AES-128 key for meter ";

} // namespace

TEnterAES::TEnterAES(KeyWindowContext context, QWidget* centreOver)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint)
    , m_context(context)
    , m_centreOver(centreOver)
{
    setObjectName("TEnterAES");
    setWindowTitle("Enter AES-128 key ");
    setModal(false);

    Label_aesKey = new QLabel(kLabelText, this);
    Label_aesKey->setObjectName("Label_aesKey");

    Edit_enterKey = new QLineEdit(this);
    Edit_enterKey->setObjectName("Edit_enterKey");
    // Typed, only hexadecimal digits get in; a key pasted with spaces or dashes is kept as
    // its 32 digits, and what is refused is said beside the field.
    Label_keyProblem = makeKeyField(Edit_enterKey, keyReasonLabel("Label_keyProblem", this));
    QFont keyFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    keyFont.setPointSize(16);
    keyFont.setBold(true);
    Edit_enterKey->setFont(keyFont);
    Edit_enterKey->setMinimumWidth(QFontMetrics(keyFont).horizontalAdvance(QString(kKeyDigits + 2, '0')));
    Edit_enterKey->setToolTip("32 hexadecimal digits: 0 to 9 and A to F; a pasted key may hold spaces or dashes");

    Label1 = new QLabel("Note: Key should be 32 symbols, entered in HEX, without spaces (FAC812...)", this);
    Label1->setObjectName("Label1");

    Check_allAES = new QCheckBox("Use this Key for all ", this);
    Check_allAES->setObjectName("Check_allAES");
    // Enter on the box does nothing, so that a key meant for one meter is not taken for
    // all of them by a slip on the box.
    Check_allAES->installEventFilter(this);
    Label2 = new QLabel("meters in the table", this);
    Label2->setObjectName("Label2");

    BitBtn1 = new QPushButton("Done", this);
    BitBtn1->setObjectName("BitBtn1");
    BitBtn2 = new QPushButton("Cancel", this);
    BitBtn2->setObjectName("BitBtn2");
    // Enter means "Done" wherever the focus is; no button takes it for itself.
    for (QPushButton* b : {BitBtn1, BitBtn2}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(BitBtn1, &QPushButton::clicked, this, &TEnterAES::applyKey);
    connect(BitBtn2, &QPushButton::clicked, this, &TEnterAES::cancel);

    auto* all = new QHBoxLayout;
    all->setSpacing(0);
    all->addWidget(Check_allAES);
    all->addWidget(Label2);
    all->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    buttons->addWidget(BitBtn2);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_aesKey);
    layout->addWidget(Edit_enterKey);
    layout->addWidget(Label_keyProblem);
    layout->addWidget(Label1);
    layout->addLayout(all);
    layout->addLayout(buttons);
    // Moved and resized as any window; never narrower than the key.
    setMinimumSize(minimumSizeHint());
    resize(sizeHint());
}

bool TEnterAES::openFor(int row, bool clearAllMeters)
{
    if (m_context.settings.UseMaster) {
        m_context.op.showMessage("AES-128 overwrite",
                                 "You have selected MASTER KEY from Settings, so this key will not have effect!\n"
                                 "Please disable MASTER KEY first (from Settings menu)!",
                                 MessageIcon::Warning);
        return false;
    }
    const MeterTable& t = m_context.table;
    m_row = row >= 1 && row < t.rowCount() ? row : 0;
    m_meterId = m_row > 0 ? t.cell(m_row, col::MeterId) : std::string();
    Label_aesKey->setText(kLabelText + cellText(m_meterId));
    if (clearAllMeters)
        Check_allAES->setChecked(false);
    Label_keyProblem->clear();
    showCentredOver(this, m_centreOver);
    Edit_enterKey->setFocus();
    Edit_enterKey->selectAll();
    return true;
}

std::string TEnterAES::keyToStore() const
{
    std::string key = cellBytes(Edit_enterKey->text());
    if (key.size() != kKeyDigits && m_context.settings.AutoFillKey)
        key.resize(kKeyDigits, '0');
    return key;
}

void TEnterAES::storeKey(int row, const std::string& key)
{
    m_context.table.setCell(row, col::EncryptionKey, key);
    m_context.tree.updateKeyNode(row, m_context.errorLog);
}

bool TEnterAES::applyKey()
{
    if (readKeyText(cellBytes(Edit_enterKey->text())).status == KeyText::Status::Empty) {
        showKeyProblem(Label_keyProblem, "No key typed: nothing is stored");
        Edit_enterKey->setFocus();
        return false;
    }
    const std::string key = keyToStore();
    MeterTable& t = m_context.table;
    std::vector<int> rows;
    if (Check_allAES->isChecked()) {
        for (int r = 1; r < t.rowCount(); ++r)
            if (!t.cell(r, col::MeterId).empty())
                rows.push_back(r);
        const std::string count = std::to_string(rows.size());
        const std::string meters = rows.size() == 1 ? "the 1 meter" : "all " + count + " meters";
        if (!rows.empty()
            && !m_context.op.askYesNo("Enter AES-128 key ",
                                      "This key replaces the keys of " + meters
                                          + " in the table.\nUse it for them? (Edit \xE2\x80\xBA Undo takes it back.)",
                                      MessageIcon::Question))
            return false;
    } else {
        int row = m_row;
        if (row >= t.rowCount() || (row > 0 && t.cell(row, col::MeterId) != m_meterId))
            row = m_meterId.empty() ? 0 : t.findMeterRow(m_meterId);
        if (row > 0)
            rows.push_back(row);
    }
    if (!rows.empty()) {
        if (beforeChange)
            beforeChange(Check_allAES->isChecked() ? "Use this key for all meters" : "Enter AES-128 key");
        for (int r : rows)
            storeKey(r, key);
        t.notifyRowsChanged(rows.front(), rows.back());
        if (afterChange)
            afterChange();
    }
    hide();
    return !rows.empty();
}

void TEnterAES::cancel()
{
    hide();
}

void TEnterAES::reject()
{
    cancel();
}

bool TEnterAES::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Check_allAES && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TEnterAES::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
        cancel();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        applyKey();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

} // namespace palvero
