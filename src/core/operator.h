#pragma once

#include <optional>
#include <string>
#include <vector>

namespace palvero {

enum class MessageIcon { None, Information, Warning, Error, Question };

// What a file dialog is preset with. `filter` is written as the program writes it,
// pairs of description and pattern separated by "|" (for example "CSV|*.csv|TXT|*.txt").
struct FileDialogSpec {
    std::string title;
    std::string filter;
    std::string defaultExtension;
    std::string folder;
    std::string fileName;
};

// Every message box, Yes/No question and file dialog goes through this interface:
// the windows show real dialogs, tests answer from a script and record what was shown.
class Operator {
public:
    virtual ~Operator() = default;
    virtual void showMessage(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
    // True only when the operator answers Yes.
    virtual bool askYesNo(const std::string& caption, const std::string& text, MessageIcon icon) = 0;
    // The chosen path, or nothing when the operator cancels.
    virtual std::optional<std::string> askSaveFile(const FileDialogSpec& spec) = 0;
    virtual std::optional<std::string> askOpenFile(const FileDialogSpec& spec) = 0;
    // A question answered with one of its own buttons; gives the index of the one chosen.
    // The first button is the answer that loses nothing: Escape and the close box give it,
    // and so does an operator that cannot ask (a tool without windows).
    virtual size_t askChoice(const std::string& caption, const std::string& text, MessageIcon icon,
                             const std::vector<std::string>& buttons)
    {
        (void)caption;
        (void)text;
        (void)icon;
        (void)buttons;
        return 0;
    }
    // A password typed without echo; nothing when the operator cancels or nobody can be asked.
    virtual std::optional<std::string> askPassword(const std::string& /*caption*/, const std::string& /*text*/)
    {
        return std::nullopt;
    }
};

} // namespace palvero
