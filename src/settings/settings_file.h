#pragma once

#include "ini_document.h"
#include "settings.h"

#include <filesystem>
#include <string>
#include <string_view>

namespace palvero {

// The warning box shown when Apply cannot write the settings file.
inline constexpr char kSavingSettingsCaption[] = "Saving settings";
inline constexpr char kNoWritePermissionText[] = "Settings will not be saved, no write permission";
// The box's text for a failed save: the one above, unless the disk is full or does not answer.
std::string savingSettingsFailedText(const WriteOutcome& outcome);

// Reads every key into the record, section by section ("Com port", "Misc", "Wireless",
// "Titles", "Palvero"), a missing key taking its default, and applies the rules of the tied
// boxes as each key arrives; a missing or unknown CodePage is the system's. Integers are brought into the ranges their controls show;
// the write-only Retry always loads as 0.
void loadSettings(Settings& s, const IniDocument& doc);

// The same from the settings file. A missing or unreadable file loads every default;
// reading never fails.
void loadSettingsFile(Settings& s, const std::filesystem::path& iniFile);

// The same when the Settings window reloads the file on activation. A missing key takes
// its start-up default, as at start-up, so that showing the window changes nothing by
// itself; a `Speed` that is not a whole number reads as "300" and a `Parity` that is none
// of the five names as "Even" there.
inline constexpr char kActivationSpeed[] = "300";
inline constexpr char kActivationParity[] = "Even";
void reloadSettingsFile(Settings& s, const std::filesystem::path& iniFile);

// Writes one key into the settings file, leaving every other line as it is; creates the
// file when it does not exist. Not ok when the file cannot be read back or written; the
// file is then as it was. Every save below replaces the file as a whole in the same way.
[[nodiscard]] WriteOutcome writeIniKey(const std::filesystem::path& iniFile, std::string_view section,
    std::string_view key, std::string_view value);

// "Apply" on the communication page: the "Com port" keys, the "Misc" keys of that page
// and the "Wireless" keys, in that order. Not ok when the file cannot be written; the
// caller then shows savingSettingsFailedText. The record is never changed.
[[nodiscard]] WriteOutcome saveCommunicationPage(const Settings& s, const std::filesystem::path& iniFile);

// "Apply" on the additional page: "Titles" Count and Title1 to Title9, then the state
// colour keys of "Misc", then "Palvero" CodePage. Not ok when the file cannot be written.
[[nodiscard]] WriteOutcome saveAdditionalPage(const Settings& s, const std::filesystem::path& iniFile);

// Either "Apply": the keys of both pages, the communication page's first, each page in
// the order of its own Apply, so that an edit made on one page and applied from the other
// is kept. Not ok when the file cannot be written.
[[nodiscard]] WriteOutcome saveBothPages(const Settings& s, const std::filesystem::path& iniFile);

// What the main window reads from the file to size the meter table before the Settings
// window exists, in the same ranges as a full load; missing keys give Count 0, BoldFont
// false and FontSize 8.
struct StartupAppearance {
    int Count = 0;
    bool BoldFont = false;
    int FontSize = 8;
};
StartupAppearance readStartupAppearance(const std::filesystem::path& iniFile);

} // namespace palvero
