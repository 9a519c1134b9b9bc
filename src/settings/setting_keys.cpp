#include "setting_keys.h"

#include "ini_document.h"

#include <algorithm>

namespace palvero {

std::string settingText(const Settings& s, const SettingKey& k)
{
    switch (k.type) {
    case SettingType::Text:
        return s.*k.text;
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
        break;
    }
}

} // namespace palvero
