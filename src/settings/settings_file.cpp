#include "settings_file.h"

#include "setting_keys.h"

#include <initializer_list>

namespace palvero {

namespace {

// A file that exists but cannot be read is never replaced by one made without it.
WriteOutcome unreadable(const std::filesystem::path& iniFile)
{
    return {WriteFailure::Other, "Cannot read " + iniFile.string()};
}

WriteOutcome savePage(const Settings& s, const std::filesystem::path& iniFile, SettingsPage page,
    std::initializer_list<std::string_view> sectionOrder)
{
    auto doc = IniDocument::load(iniFile);
    if (!doc)
        return unreadable(iniFile);
    for (std::string_view section : sectionOrder)
        for (const SettingKey& k : kSettingKeys)
            if (k.page == page && k.section == section)
                doc->setValue(k.section, k.key, settingText(s, k));
    return doc->save(iniFile);
}

} // namespace

void loadSettings(Settings& s, const IniDocument& doc)
{
    for (const SettingKey& k : kSettingKeys)
        applySetting(s, k, doc.value(k.section, k.key));
}

void loadSettingsFile(Settings& s, const std::filesystem::path& iniFile)
{
    loadSettings(s, IniDocument::load(iniFile).value_or(IniDocument()));
}

void reloadSettingsFile(Settings& s, const std::filesystem::path& iniFile)
{
    const IniDocument doc = IniDocument::load(iniFile).value_or(IniDocument());
    loadSettings(s, doc);
    if (!doc.value(setting_keys::kComPort, "Speed"))
        s.Speed = "300";
    if (!doc.value(setting_keys::kComPort, "Parity"))
        s.Parity = "Even";
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
    using namespace setting_keys;
    return savePage(s, iniFile, SettingsPage::Communication, {kComPort, kMisc, kWireless});
}

WriteOutcome saveAdditionalPage(const Settings& s, const std::filesystem::path& iniFile)
{
    using namespace setting_keys;
    return savePage(s, iniFile, SettingsPage::Additional, {kTitles, kMisc});
}

StartupAppearance readStartupAppearance(const std::filesystem::path& iniFile)
{
    // None of the three keys is tied to another, so a full load gives them as they stand.
    Settings s;
    loadSettingsFile(s, iniFile);
    return StartupAppearance{s.Count, s.BoldFont, s.FontSize};
}

} // namespace palvero
