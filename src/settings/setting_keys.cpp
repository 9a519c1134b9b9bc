#include "setting_keys.h"

#include "ini_document.h"

#include <algorithm>

namespace palvero {

std::string settingText(const Settings& s, const SettingKey& k)
{
    switch (k.type) {
    case SettingType::Text:
        return s.*k.text;
    case SettingType::Character: {
        const std::string& c = s.*k.text;
        const bool blank = c == " " || c == "\t";
        return blank ? '"' + c + '"' : c;
    }
    case SettingType::Flag:
        return s.*k.flag ? "1" : "0";
    case SettingType::Integer:
        return std::to_string(s.*k.integer);
    case SettingType::Colour:
        // Written as the platform's signed 32-bit colour value.
        return std::to_string(static_cast<int32_t>(s.*k.colour));
    }
    return {};
}

void applySetting(Settings& s, const SettingKey& k, const std::optional<std::string>& fileValue)
{
    if (k.type == SettingType::Text) {
        s.*k.text = fileValue ? *fileValue : std::string(k.textDefault);
        return;
    }
    if (k.type == SettingType::Character) {
        std::string value = fileValue ? *fileValue : std::string();
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        // A longer value is cut to its first character: every CSV cell is followed by the
        // whole separator, so a long one would multiply every line written.
        value = value.substr(0, 1);
        s.*k.text = exportSeparatorProblem(value).empty() ? value : std::string(k.textDefault);
        return;
    }

    std::optional<int32_t> number;
    if (fileValue && !k.writeOnly)
        number = parseIniInteger(*fileValue);
    const int64_t v = number ? *number : k.numberDefault;

    switch (k.type) {
    case SettingType::Flag:
        if (k.rule)
            k.rule(s, v != 0);
        else
            s.*k.flag = v != 0;
        break;
    case SettingType::Integer:
        s.*k.integer = static_cast<int>(std::clamp<int64_t>(v, k.minimum, k.maximum));
        break;
    case SettingType::Colour:
        s.*k.colour = static_cast<uint32_t>(v);
        break;
    case SettingType::Text:
    case SettingType::Character:
        break;
    }
}

std::vector<std::string> settingTexts(const Settings& s)
{
    std::vector<std::string> texts;
    texts.reserve(kSettingKeys.size());
    for (const SettingKey& k : kSettingKeys)
        texts.push_back(settingText(s, k));
    return texts;
}

} // namespace palvero
