#include "key_field.h"

#include "cell_text.h"
#include "key_text.h"

namespace palvero {

namespace {

bool onlyHexDigits(const QString& text)
{
    for (QChar c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

} // namespace

KeyFieldValidator::KeyFieldValidator(QLineEdit* field)
    : QValidator(field)
    , m_field(field)
{
}

QValidator::State KeyFieldValidator::validate(QString& input, int& pos) const
{
    m_problem.clear();
    if (onlyHexDigits(input)) {
        if (input.size() <= int(KeyText::kDigits))
            return Acceptable;
        m_problem = "A key has 32 hexadecimal digits, no more";
        return Invalid;
    }
    const KeyText key = readKeyText(cellBytes(input));
    if (key.ok()) {
        input = cellText(key.digits);
        pos = int(input.size());
        return Acceptable;
    }
    // One character typed into the field: say what a key field takes.
    const bool typed = input.size() == m_field->text().size() + 1;
    if (typed && key.status != KeyText::Status::NotHex)
        m_problem = "A key is typed as hexadecimal digits only; a pasted key may hold spaces or dashes";
    else
        m_problem = cellText(keyProblemText(key));
    return Invalid;
}

QLabel* keyReasonLabel(const char* name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setStyleSheet("color: #c00000;");
    label->setTextFormat(Qt::PlainText);
    label->setMinimumHeight(label->fontMetrics().height());
    return label;
}

QLabel* makeKeyField(QLineEdit* field, QLabel* reason)
{
    field->setMaxLength(kKeyFieldLength);
    auto* validator = new KeyFieldValidator(field);
    field->setValidator(validator);
    QObject::connect(field, &QLineEdit::inputRejected, reason,
                     [reason, validator] { reason->setText(validator->problem()); });
    // Any text the field accepts, typed or shown by the window, clears the reason.
    QObject::connect(field, &QLineEdit::textChanged, reason, [reason, field] {
        if (field->hasAcceptableInput())
            reason->clear();
    });
    return reason;
}

void showKeyProblem(QLabel* reason, const std::string& text)
{
    reason->setText(QString::fromStdString(text));
}

} // namespace palvero
