#include "cell_text.h"

#include "settings.h"

#include <QLineEdit>
#include <QToolTip>
#include <QValidator>

namespace palvero {

namespace {

const Settings* g_settings = nullptr;

// Refuses any text with a character that the code page in force cannot hold.
class CodePageValidator : public QValidator {
public:
    explicit CodePageValidator(QLineEdit* edit)
        : QValidator(edit)
        , m_edit(edit)
    {
    }

    State validate(QString& input, int&) const override
    {
        const CodePage page = cellCodePage();
        for (const QChar c : input) {
            if (!c.isSurrogate() && codePageByte(page, c.unicode()))
                continue;
            if (m_edit->hasFocus())
                QToolTip::showText(m_edit->mapToGlobal(QPoint(0, m_edit->height())),
                                   QStringLiteral("\"%1\" cannot be written in %2 (Tools->Settings, Code page of texts)")
                                       .arg(c.isSurrogate() ? QStringLiteral("?") : QString(c))
                                       .arg(QString::fromLatin1(codePageName(page))),
                                   m_edit);
            return Invalid;
        }
        return Acceptable;
    }

private:
    QLineEdit* m_edit;
};

} // namespace

void bindCellCodePage(const Settings* settings)
{
    g_settings = settings;
}

CodePage cellCodePage()
{
    static const CodePage system = systemCodePage();
    if (!g_settings)
        return system;
    return codePageNamed(g_settings->CodePage).value_or(system);
}

QString cellText(std::string_view cell)
{
    const CodePage page = cellCodePage();
    QString text;
    text.reserve(static_cast<qsizetype>(cell.size()));
    for (char b : cell)
        text.append(QChar(static_cast<char16_t>(codePageCharacter(page, static_cast<std::uint8_t>(b)))));
    return text;
}

std::string cellBytes(const QString& text)
{
    const CodePage page = cellCodePage();
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text)
        bytes += static_cast<char>(codePageByte(page, c.unicode()).value_or('?'));
    return bytes;
}

bool cellCodePageHolds(const QString& text)
{
    const CodePage page = cellCodePage();
    for (const QChar c : text)
        if (c.isSurrogate() || !codePageByte(page, c.unicode()))
            return false;
    return true;
}

void refuseUnheldCharacters(QLineEdit* edit)
{
    edit->setValidator(new CodePageValidator(edit));
}

} // namespace palvero
