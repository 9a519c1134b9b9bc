#pragma once

#include "operator.h"

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace palvero::test {

// An operator that answers from a script and records every box and dialog it was shown.
class ScriptedOperator : public Operator {
public:
    struct Message {
        std::string caption;
        std::string text;
        MessageIcon icon;
    };

    void showMessage(const std::string& caption, const std::string& text, MessageIcon icon) override;
    bool askYesNo(const std::string& caption, const std::string& text, MessageIcon icon) override;
    std::optional<std::string> askSaveFile(const FileDialogSpec& spec) override;
    std::optional<std::string> askOpenFile(const FileDialogSpec& spec) override;
    // Recorded as a message, its buttons in `choices`.
    size_t askChoice(const std::string& caption, const std::string& text, MessageIcon icon,
                     const std::vector<std::string>& buttons) override;
    std::optional<std::string> askPassword(const std::string& caption, const std::string& text) override;

    // Scripted answers, taken in order; a missing answer is No / Cancel.
    std::deque<bool> yesNoAnswers;
    std::deque<std::optional<std::string>> fileAnswers;
    // Button captions to choose, in order; a missing answer is the first button.
    std::deque<std::string> choiceAnswers;
    std::deque<std::optional<std::string>> passwordAnswers;

    std::vector<Message> messages;   // boxes shown, Yes/No and password questions included
    std::vector<FileDialogSpec> dialogs;
    std::vector<std::vector<std::string>> choices; // the buttons of each askChoice
};

} // namespace palvero::test
