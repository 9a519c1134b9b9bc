#pragma once

#include "operator.h"

#include <QString>

class QWidget;

namespace palvero {

// Message boxes and file dialogs of the windows.
class QtOperator : public Operator {
public:
    explicit QtOperator(QWidget* parent = nullptr)
        : m_parent(parent)
    {
    }
    void setParent(QWidget* parent) { m_parent = parent; }

    void showMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
    bool askYesNo(const std::string& caption, const std::string& text, MessageIcon icon) override;
    std::optional<std::string> askSaveFile(const FileDialogSpec& spec) override;
    std::optional<std::string> askOpenFile(const FileDialogSpec& spec) override;
    size_t askChoice(const std::string& caption, const std::string& text, MessageIcon icon,
                     const std::vector<std::string>& buttons) override;
    std::optional<std::string> askPassword(const std::string& caption, const std::string& text) override;

    // "CSV|*.csv|TXT|*.txt" as Qt writes it: "CSV (*.csv);;TXT (*.txt)".
    static QString qtFilter(const std::string& filter);

private:
    std::optional<std::string> askFile(const FileDialogSpec& spec, bool save);
    QWidget* dialogParent() const;
    QWidget* m_parent;
};

} // namespace palvero
