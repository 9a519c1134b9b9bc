#include "settings.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace palvero {

void setUseMaster(Settings& s, bool on)
{
    s.UseMaster = on;
    if (on)
        s.UseDBMeters = false;
}

void setUseDBMeters(Settings& s, bool on)
{
    s.UseDBMeters = on;
    if (on)
        s.UseMaster = false;
}

void setV1(Settings& s, bool on)
{
    s.V1 = on;
    s.V2 = !on;
}

void setV2(Settings& s, bool on)
{
    s.V2 = on;
    s.V1 = !on;
}

void setAES128_5(Settings& s, bool on)
{
    s.AES128_5 = on;
    s.AES128_1 = !on;
}

palvero::CodePage systemCodePage()
{
#ifdef _WIN32
    wchar_t name[LOCALE_NAME_MAX_LENGTH] = {};
    std::string language;
    if (GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0)
        for (const wchar_t* c = name; *c && *c < 0x80; ++c)
            language += static_cast<char>(*c);
    return codePageForLanguage(language);
#else
    // The order in which the C library picks the language of messages.
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value)
            return codePageForLanguage(value);
    return palvero::CodePage::Windows1252;
#endif
}

palvero::CodePage settingsCodePage(const Settings& s)
{
    return codePageNamed(s.CodePage).value_or(systemCodePage());
}

std::string exportSeparatorProblem(const std::string& text)
{
    if (text.empty())
        return "The export separator cannot be empty: type one character, for example ;";
    const unsigned char c = static_cast<unsigned char>(text[0]);
    if (c >= 0x80)
        return "The export separator must be a plain ASCII character: letters with accents and signs such as "
               "\xC2\xA7 cannot be one";
    if (text.size() > 1)
        return "The export separator is one character";
    if (c != '\t' && (c < 0x20 || c == 0x7F))
        return "The export separator must be a visible character, a space or a tab";
    return {};
}

int clampedCount(int count)
{
    return std::clamp(count, 0, kMaxAdditionalValues);
}

int clampedFontSize(int size)
{
    return std::clamp(size, kMinFontSize, kMaxFontSize);
}

} // namespace palvero
