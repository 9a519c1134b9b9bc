#include "settings_file.h"

#include "setting_keys.h"

#include <initializer_list>
#include <utility>

namespace palvero {

namespace {

using PageSections = std::pair<SettingsPage, std::initializer_list<std::string_view>>;

// A file that exists but cannot be read is never replaced by one made without it.
WriteOutcome unreadable(const std::filesystem::path& iniFile)
{
    return {WriteFailure::Other, "Cannot read " + iniFile.string()};
}

// Writes the keys of the pages, each page's sections in their order, in one save.
WriteOutcome savePages(const Settings& s, const std::filesystem::path& iniFile,
    std::initializer_list<PageSections> pages)
{
    auto doc = IniDocument::load(iniFile);
    if (!doc)
        return unreadable(iniFile);
    for (const auto& [page, sections] : pages)
        for (std::string_view section : sections)
            for (const SettingKey& k : kSettingKeys)
                if (k.page == page && k.section == section)
                    doc->setValue(k.section, k.key, settingText(s, k));
    return doc->save(iniFile);
}

constexpr std::string_view kComPort = setting_keys::kComPort;
constexpr std::string_view kMisc = setting_keys::kMisc;
constexpr std::string_view kWireless = setting_keys::kWireless;
constexpr std::string_view kTitles = setting_keys::kTitles;
constexpr std::string_view kOwn = setting_keys::kOwn;

// A speed the port can be opened with: a whole decimal number, as the reading takes it.
bool wholeSpeed(const std::string& text)
{
    const size_t from = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (text.size() == from || text.size() - from > 9)
        return false;
    for (size_t i = from; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool knownParity(const std::string& text)
{
    for (const char* p : {"None", "Even", "Odd", "Mark", "Space"})
        if (text == p)
            return true;
    return false;
}

} // namespace

void loadSettings(Settings& s, const IniDocument& doc)
{
    for (const SettingKey& k : kSettingKeys)
        applySetting(s, k, doc.value(k.section, k.key));
    if (!codePageNamed(s.CodePage))
        s.CodePage = codePageName(systemCodePage());
}

void loadSettingsFile(Settings& s, const std::filesystem::path& iniFile)
{
    loadSettings(s, IniDocument::load(iniFile).value_or(IniDocument()));
}

void reloadSettingsFile(Settings& s, const std::filesystem::path& iniFile)
{
    const IniDocument doc = IniDocument::load(iniFile).value_or(IniDocument());
    loadSettings(s, doc);
    // A missing key keeps the start-up default, so that showing the window leaves the
    // port as it is; only a value that no port can take gives way to the window's own.
    if (doc.value(setting_keys::kComPort, "Speed") && !wholeSpeed(s.Speed))
        s.Speed = kActivationSpeed;
    if (doc.value(setting_keys::kComPort, "Parity") && !knownParity(s.Parity))
        s.Parity = kActivationParity;
}

std::string savingSettingsFailedText(const WriteOutcome& outcome)
{
    return writeFailureText(outcome, "Settings will not be saved", kNoWritePermissionText);
}

WriteOutcome writeIniKey(const std::filesystem::path& iniFile, std::string_view section, std::string_view key,
    std::string_view value)
{
    auto doc = IniDocument::load(iniFile);
    if (!doc)
        return unreadable(iniFile);
    doc->setValue(section, key, value);
    return doc->save(iniFile);
}

WriteOutcome saveCommunicationPage(const Settings& s, const std::filesystem::path& iniFile)
{
    return savePages(s, iniFile, {{SettingsPage::Communication, {kComPort, kMisc, kWireless}}});
}

WriteOutcome saveAdditionalPage(const Settings& s, const std::filesystem::path& iniFile)
{
    return savePages(s, iniFile, {{SettingsPage::Additional, {kTitles, kMisc, kOwn}}});
}

WriteOutcome saveBothPages(const Settings& s, const std::filesystem::path& iniFile)
{
    return savePages(s, iniFile,
        {{SettingsPage::Communication, {kComPort, kMisc, kWireless}}, {SettingsPage::Additional, {kTitles, kMisc, kOwn}}});
}

StartupAppearance readStartupAppearance(const std::filesystem::path& iniFile)
{
    // None of the three keys is tied to another, so a full load gives them as they stand.
    Settings s;
    loadSettingsFile(s, iniFile);
    return StartupAppearance{s.Count, s.BoldFont, s.FontSize};
}

} // namespace palvero
