#include "scripted_operator.h"

namespace palvero::test {

void ScriptedOperator::showMessage(const std::string& caption, const std::string& text, MessageIcon icon)
{
    messages.push_back({caption, text, icon});
}

bool ScriptedOperator::askYesNo(const std::string& caption, const std::string& text, MessageIcon icon)
{
    messages.push_back({caption, text, icon});
    if (yesNoAnswers.empty())
        return false;
    bool answer = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedOperator::askSaveFile(const FileDialogSpec& spec)
{
    dialogs.push_back(spec);
    if (fileAnswers.empty())
        return std::nullopt;
    auto answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

std::optional<std::string> ScriptedOperator::askOpenFile(const FileDialogSpec& spec)
{
    return askSaveFile(spec);
}

size_t ScriptedOperator::askChoice(const std::string& caption, const std::string& text, MessageIcon icon,
                                   const std::vector<std::string>& buttons)
{
    messages.push_back({caption, text, icon});
    choices.push_back(buttons);
    if (choiceAnswers.empty())
        return 0;
    const std::string answer = choiceAnswers.front();
    choiceAnswers.pop_front();
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] == answer)
            return i;
    return 0;
}

std::optional<std::string> ScriptedOperator::askPassword(const std::string& caption, const std::string& text)
{
    messages.push_back({caption, text, MessageIcon::Question});
    if (passwordAnswers.empty())
        return std::nullopt;
    auto answer = passwordAnswers.front();
    passwordAnswers.pop_front();
    return answer;
}

} // namespace palvero::test
