#pragma once

#include "code_page.h"
#include "reading_settings.h"

#include <cstdint>
#include <string>

namespace palvero {

// The code page of the system's language (the locale's language on POSIX systems, the
// user's locale on Windows): Windows-1251 for the Cyrillic languages, Windows-1252 else.
CodePage systemCodePage();

// The one settings record of the program: one field per key of the settings file, named
// as the key, holding the start-up defaults until something is loaded. The Settings
// window owns it; every other part reads a field at the moment it needs it.
// Colours are 32-bit platform colour values, red in the lowest byte, then green, then blue.
struct Settings : ReadingSettings {
    // Com port
    std::string Name = "COM1";
    std::string Speed = "19200";
    std::string Parity = "None";
    bool RTS = false;
    bool DTR = false;

    // Misc
    std::string ExportSeparator = ";";
    int Retry = 0;                      // written from a hidden control, never read
    uint32_t ColorRow = 12639424;       // pale green: row read last
    uint32_t LowBattery = 65535;        // yellow
    uint32_t FromRepeater = 16711680;   // blue
    bool AutoSave = true;
    bool SaveMeters = false;
    bool AutoFillKey = true;
    bool BoldFont = false;
    int FontSize = 8;
    bool ShowRepeaters = false;
    bool SimpleExport = false;
    bool ColorMrv = false;
    uint32_t ColorTest = 0;             // black
    uint32_t ColorProcess = 16711680;   // blue
    uint32_t ColorDone = 32768;         // dark green

    // Wireless
    bool AES128_1 = false;              // stored only
    std::string CType = "MASTER";
    std::string CMode = "T1";
    std::string RFPower = "5";
    bool SetModeRAM = true;
    bool Decryption = false;

    // Titles
    std::string Title1;
    std::string Title2;
    std::string Title3;
    std::string Title4;
    std::string Title5;
    std::string Title6;
    std::string Title7;
    std::string Title8;
    std::string Title9;

    // Palvero: the code page of every single-byte text (cells, data files, CSV files).
    std::string CodePage = codePageName(systemCodePage());
};

// The record's code page; one it does not name is the system's.
palvero::CodePage settingsCodePage(const Settings& s);

// The rules that tie check boxes together. Loading applies them as each key is read, and
// the Settings window applies them on every click, so both see the same record.

// "Use Master key for all meters" and "Use database key for known meters" exclude each
// other: setting one clears the other; clearing one leaves the other alone.
void setUseMaster(Settings& s, bool on);
void setUseDBMeters(Settings& s, bool on);

// Exactly one receiver generation is set: setting or clearing one moves the other opposite.
void setV1(Settings& s, bool on);
void setV2(Settings& s, bool on);

// "Decrypt AES-128" drives the hidden "AES-128 mode 1" to the opposite state.
void setAES128_5(Settings& s, bool on);

// The ranges that the additional-values counter and the font size up-down show; loading
// brings the file's values into them.
constexpr int kMinFontSize = 6;
constexpr int kMaxFontSize = 36;
int clampedCount(int count);
int clampedFontSize(int size);

// The export separator is one character that a CSV line can hold as one byte: a visible
// ASCII character, a space or a tab. Gives why `text` cannot be the separator, in the
// operator's words; empty when it can.
std::string exportSeparatorProblem(const std::string& text);

} // namespace palvero
