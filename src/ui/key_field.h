#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QValidator>

#include <string>

namespace palvero {

// A line edit for an AES-128 key. Typed characters are hexadecimal digits only, up to 32;
// a key pasted with spaces, dashes or a "0x" before it is kept as its 32 digits. What the
// field refuses (a typed letter, a pasted text that is not a key) is said in a label
// beside the field, which empties again with the next accepted edit.
class KeyFieldValidator : public QValidator {
    Q_OBJECT
public:
    explicit KeyFieldValidator(QLineEdit* field);

    State validate(QString& input, int& pos) const override;
    // Why the last text was refused.
    QString problem() const { return m_problem; }

private:
    QLineEdit* m_field;
    mutable QString m_problem;
};

// Room for a key pasted with a blank or a dash after every digit and a "0x" before it.
inline constexpr int kKeyFieldLength = 2 + 32 * 2;

// Makes `field` a key field and `reason` the red label beside it; gives the label.
QLabel* makeKeyField(QLineEdit* field, QLabel* reason);
// A red label for the reason, named `name`, that keeps its height when it is empty.
QLabel* keyReasonLabel(const char* name, QWidget* parent);
// Shows why the field's key cannot be used; an empty text clears the label.
void showKeyProblem(QLabel* reason, const std::string& text);

} // namespace palvero
