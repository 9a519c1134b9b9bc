#pragma once

#include "settings.h"

#include <array>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// Character: a text of one character (the export separator). It is written in double
// quotes when it is a blank, which the file's form would otherwise trim away.
enum class SettingType { Text, Flag, Integer, Colour, Character };

// Which Apply button writes the key: the communication page or the additional page.
enum class SettingsPage { Communication, Additional };

// One key of the settings file: where it lives, which field of the record holds it and
// the value it takes when the file or the key is missing. Exactly one member pointer is
// set, the one matching `type`. A flag with a `rule` is loaded through it, so that the
// boxes it ties together move with it.
struct SettingKey {
    std::string_view section;
    std::string_view key;
    SettingType type = SettingType::Text;
    SettingsPage page = SettingsPage::Communication;
    std::string Settings::*text = nullptr;
    bool Settings::*flag = nullptr;
    int Settings::*integer = nullptr;
    uint32_t Settings::*colour = nullptr;
    std::string_view textDefault;
    int64_t numberDefault = 0;
    // The range of an integer: what its control can show. A value from the file outside
    // it is brought to the nearer end, so that no part of the program meets it.
    int minimum = std::numeric_limits<int>::min();
    int maximum = std::numeric_limits<int>::max();
    // Written from a hidden control and never read back: loading always gives the default.
    bool writeOnly = false;
    void (*rule)(Settings&, bool) = nullptr;
};

namespace setting_keys {

constexpr std::string_view kComPort = "Com port";
constexpr std::string_view kMisc = "Misc";
constexpr std::string_view kWireless = "Wireless";
constexpr std::string_view kTitles = "Titles";
// The program's own section, beside those the settings file has always had.
constexpr std::string_view kOwn = "Palvero";

constexpr SettingKey entry(std::string_view section, std::string_view key, SettingType type, SettingsPage page)
{
    SettingKey k;
    k.section = section;
    k.key = key;
    k.type = type;
    k.page = page;
    return k;
}

constexpr SettingKey text(std::string_view section, std::string_view key, std::string Settings::*field,
    std::string_view def, SettingsPage page = SettingsPage::Communication)
{
    SettingKey k = entry(section, key, SettingType::Text, page);
    k.text = field;
    k.textDefault = def;
    return k;
}

constexpr SettingKey character(std::string_view section, std::string_view key, std::string Settings::*field,
    std::string_view def)
{
    SettingKey k = text(section, key, field, def);
    k.type = SettingType::Character;
    return k;
}

constexpr SettingKey flag(std::string_view section, std::string_view key, bool Settings::*field, bool def,
    SettingsPage page = SettingsPage::Communication, void (*rule)(Settings&, bool) = nullptr)
{
    SettingKey k = entry(section, key, SettingType::Flag, page);
    k.flag = field;
    k.numberDefault = def ? 1 : 0;
    k.rule = rule;
    return k;
}

constexpr SettingKey integer(std::string_view section, std::string_view key, int Settings::*field, int def,
    int minimum, int maximum, SettingsPage page = SettingsPage::Communication)
{
    SettingKey k = entry(section, key, SettingType::Integer, page);
    k.integer = field;
    k.numberDefault = def;
    k.minimum = minimum;
    k.maximum = maximum;
    return k;
}

constexpr SettingKey writeOnly(SettingKey k)
{
    k.writeOnly = true;
    return k;
}

constexpr SettingKey colour(std::string_view section, std::string_view key, uint32_t Settings::*field,
    uint32_t def, SettingsPage page = SettingsPage::Communication)
{
    SettingKey k = entry(section, key, SettingType::Colour, page);
    k.colour = field;
    k.numberDefault = def;
    return k;
}

constexpr SettingsPage kComm = SettingsPage::Communication;
constexpr SettingsPage kAdditional = SettingsPage::Additional;

} // namespace setting_keys

// Every key, in loading order: the sections "Com port", "Misc", "Wireless", "Titles",
// then the program's own "Palvero", and inside each the order in which Apply writes them. The order carries meaning for
// the tied boxes: UseDBMeters loads before UseMaster, V1 before V2, AES128_5 before
// AES128_1, so that the later key of each pair decides.
inline constexpr auto kSettingKeys = [] {
    using namespace setting_keys;
    return std::array{
        text(kComPort, "Name", &Settings::Name, "COM1"),
        text(kComPort, "Speed", &Settings::Speed, "19200"),
        text(kComPort, "Parity", &Settings::Parity, "None"),
        flag(kComPort, "RTS", &Settings::RTS, false),
        flag(kComPort, "DTR", &Settings::DTR, false),

        character(kMisc, "ExportSeparator", &Settings::ExportSeparator, ";"),
        writeOnly(integer(kMisc, "Retry", &Settings::Retry, 0, 0, 9)),
        colour(kMisc, "ColorRow", &Settings::ColorRow, 12639424),
        colour(kMisc, "LowBattery", &Settings::LowBattery, 65535),
        colour(kMisc, "FromRepeater", &Settings::FromRepeater, 16711680),
        flag(kMisc, "ReadOnce", &Settings::ReadOnce, false),
        flag(kMisc, "UseNotes", &Settings::UseNotes, false),
        flag(kMisc, "AutoSave", &Settings::AutoSave, true),
        flag(kMisc, "SaveMeters", &Settings::SaveMeters, false),
        flag(kMisc, "AutoFillKey", &Settings::AutoFillKey, true),
        flag(kMisc, "BoldFont", &Settings::BoldFont, false),
        integer(kMisc, "FontSize", &Settings::FontSize, 8, kMinFontSize, kMaxFontSize),
        flag(kMisc, "Apator", &Settings::Apator, false),
        flag(kMisc, "UseDBMeters", &Settings::UseDBMeters, false, kComm, setUseDBMeters),
        flag(kMisc, "ShowRepeaters", &Settings::ShowRepeaters, false),
        flag(kMisc, "DiscardCI", &Settings::DiscardCI, false),
        flag(kMisc, "DiscardRepeated", &Settings::DiscardRepeated, false),
        flag(kMisc, "SimpleExport", &Settings::SimpleExport, false),
        flag(kMisc, "DecodeQundis", &Settings::DecodeQundis, false),
        flag(kMisc, "RemoveUnit", &Settings::RemoveUnit, false),
        flag(kMisc, "ColorMrv", &Settings::ColorMrv, false, kAdditional),
        colour(kMisc, "ColorTest", &Settings::ColorTest, 0, kAdditional),
        colour(kMisc, "ColorProcess", &Settings::ColorProcess, 16711680, kAdditional),
        colour(kMisc, "ColorDone", &Settings::ColorDone, 32768, kAdditional),

        flag(kWireless, "AES128_5", &Settings::AES128_5, false, kComm, setAES128_5),
        flag(kWireless, "AES128_1", &Settings::AES128_1, false),
        text(kWireless, "CType", &Settings::CType, "MASTER"),
        text(kWireless, "CMode", &Settings::CMode, "T1"),
        text(kWireless, "Protocol", &Settings::Protocol, "MORVANE"),
        text(kWireless, "RFPower", &Settings::RFPower, "5"),
        flag(kWireless, "UseMaster", &Settings::UseMaster, false, kComm, setUseMaster),
        text(kWireless, "MasterKey", &Settings::MasterKey, ""),
        flag(kWireless, "RSSI", &Settings::RSSI, true),
        flag(kWireless, "SetModeRAM", &Settings::SetModeRAM, true),
        flag(kWireless, "RSSI_v2", &Settings::RSSI_v2, true),
        flag(kWireless, "Decryption", &Settings::Decryption, false),
        flag(kWireless, "V1", &Settings::V1, false, kComm, setV1),
        flag(kWireless, "V2", &Settings::V2, true, kComm, setV2),

        integer(kTitles, "Count", &Settings::Count, 0, 0, kMaxAdditionalValues, kAdditional),
        text(kTitles, "Title1", &Settings::Title1, "", kAdditional),
        text(kTitles, "Title2", &Settings::Title2, "", kAdditional),
        text(kTitles, "Title3", &Settings::Title3, "", kAdditional),
        text(kTitles, "Title4", &Settings::Title4, "", kAdditional),
        text(kTitles, "Title5", &Settings::Title5, "", kAdditional),
        text(kTitles, "Title6", &Settings::Title6, "", kAdditional),
        text(kTitles, "Title7", &Settings::Title7, "", kAdditional),
        text(kTitles, "Title8", &Settings::Title8, "", kAdditional),
        text(kTitles, "Title9", &Settings::Title9, "", kAdditional),

        // Without a value (or with one it does not know) loading gives the system's code page.
        text(kOwn, "CodePage", &Settings::CodePage, "", kAdditional),
    };
}();

// The key's value in the record as the file holds it: a flag "1" or "0", an integer or a
// colour in signed decimal, a text unchanged, a blank character in double quotes.
std::string settingText(const Settings& s, const SettingKey& k);

// Stores a value read from the file into the record: text as it stands; a character
// without its quotes and cut to its first character, or the default when that is not one
// the field takes (see exportSeparatorProblem); a number that
// does not read as an integer takes the key's default, an integer is brought into its
// range; a flag goes through its rule. No value (the key is missing), or a write-only
// key, gives the default.
void applySetting(Settings& s, const SettingKey& k, const std::optional<std::string>& fileValue);

// Every key's value as the file would hold it, in loading order: two records with the
// same texts write the same file.
std::vector<std::string> settingTexts(const Settings& s);

} // namespace palvero
