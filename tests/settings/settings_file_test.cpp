#include "setting_keys.h"
#include "settings_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <tuple>

#include <unistd.h>

namespace palvero {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

void expectSameRecord(const Settings& actual, const Settings& expected)
{
    for (const SettingKey& k : kSettingKeys)
        EXPECT_EQ(settingText(actual, k), settingText(expected, k)) << k.key;
}

Settings loadText(const std::string& ini)
{
    Settings s;
    loadSettings(s, IniDocument(ini));
    return s;
}

TEST(SettingsLoad, MissingFileGivesTheStartupDefaults)
{
    TempDir dir;
    Settings s;
    IniDocument everything;
    for (const SettingKey& k : kSettingKeys)
        everything.setValue(k.section, k.key, k.type == SettingType::Text ? "x" : "7");
    loadSettings(s, everything);
    EXPECT_EQ(s.Speed, "x");

    loadSettingsFile(s, dir / "palvero.ini");
    expectSameRecord(s, Settings{});
    EXPECT_EQ(s.Speed, "19200");
    EXPECT_EQ(s.Parity, "None");
}

TEST(SettingsLoad, ReloadOnActivationKeepsThePortUnlessItsValueIsUnusable)
{
    TempDir dir;
    const auto path = dir / "palvero.ini";
    struct Case {
        std::string file;
        std::string speed, parity;
    };
    const std::vector<Case> cases = {
        // A missing file or key leaves the port as start-up set it.
        {"", "19200", "None"},
        {"[Com port]\r\nName=COM4\r\n", "19200", "None"},
        {"[Com port]\r\nSpeed=9600\r\n", "9600", "None"},
        {"[com PORT]\r\nparity=Odd\r\n", "19200", "Odd"},
        // A speed that is no whole number and a parity that is none of the five names take
        // the activation defaults; a number outside the list is a speed the port takes.
        {"[Com port]\r\nSpeed=\r\nParity=\r\n", "300", "Even"},
        {"[Com port]\r\nSpeed=fast\r\nParity=none\r\n", "300", "Even"},
        {"[Com port]\r\nSpeed=14400\r\nParity=Space\r\n", "14400", "Space"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        writeFile(path, c.file);
        Settings s;
        s.RFPower = "1";
        s.Speed = "4800";
        reloadSettingsFile(s, path);
        EXPECT_EQ(s.Speed, c.speed);
        EXPECT_EQ(s.Parity, c.parity);
        EXPECT_EQ(s.RFPower, "5") << "every other key takes its usual default";
    }
}

TEST(SettingsLoad, ExportSeparatorIsOneCharacterAndABlankSurvivesTheFile)
{
    TempDir dir;
    const auto path = dir / "palvero.ini";
    const struct {
        std::string separator; // as the field sets it
        std::string written;   // the line in the file
    } saved[] = {
        {";", "ExportSeparator=;\r\n"},
        {" ", "ExportSeparator=\" \"\r\n"},
        {"\t", "ExportSeparator=\"\t\"\r\n"},
        {"\"", "ExportSeparator=\"\r\n"},
        {",", "ExportSeparator=,\r\n"},
    };
    for (const auto& c : saved) {
        Settings s;
        s.ExportSeparator = c.separator;
        ASSERT_TRUE(saveCommunicationPage(s, path));
        EXPECT_NE(readFile(path).find(c.written), std::string::npos) << c.written;
        Settings back;
        loadSettingsFile(back, path);
        EXPECT_EQ(back.ExportSeparator, c.separator) << c.written;
    }

    const struct {
        std::string value;
        std::string separator;
    } read[] = {
        {"|", "|"},
        {"\" \"", " "},
        {"::::", ":"},                          // cut to its first character
        {std::string(1 << 20, ','), ","},      // a 1 MB value from a damaged file
        {"", ";"},                              // nothing to cut: the default
        {"\xC2\xA7", ";"},                      // a two-byte character
        {"\x01", ";"},                           // not visible
        {"\"\"", ";"},
    };
    for (const auto& c : read)
        EXPECT_EQ(loadText("[Misc]\nExportSeparator=" + c.value + "\n").ExportSeparator, c.separator)
            << c.value.substr(0, 8);

    for (const std::string refused : {"", "\xC2\xA7", "\x7F", "\n", ";;"})
        EXPECT_FALSE(exportSeparatorProblem(refused).empty()) << refused;
    EXPECT_EQ(exportSeparatorProblem(""), "The export separator cannot be empty: type one character, for example ;");
}

TEST(SettingsLoad, TiedBoxesFollowTheLaterKey)
{
    const struct {
        const char* ini;
        bool v1, v2, useMaster, useDb, aes5, aes1;
    } cases[] = {
        {"[Wireless]\nV1=1\nV2=1\n", false, true, false, false, false, false},
        {"[Wireless]\nV1=0\nV2=0\n", true, false, false, false, false, false},
        {"[Wireless]\nV1=1\nV2=0\n", true, false, false, false, false, false},
        {"[Misc]\nUseDBMeters=1\n[Wireless]\nUseMaster=1\n", false, true, true, false, false, false},
        {"[Misc]\nUseDBMeters=1\n[Wireless]\nUseMaster=0\n", false, true, false, true, false, false},
        // The hidden AES128_1 ends with the file's value whatever "Decrypt AES-128" did to it.
        {"[Wireless]\nAES128_5=1\n", false, true, false, false, true, false},
        {"[Wireless]\nAES128_5=1\nAES128_1=1\n", false, true, false, false, true, true},
        {"[Wireless]\nAES128_5=0\nAES128_1=1\n", false, true, false, false, false, true},
    };
    for (const auto& c : cases) {
        Settings s = loadText(c.ini);
        EXPECT_EQ(s.V1, c.v1) << c.ini;
        EXPECT_EQ(s.V2, c.v2) << c.ini;
        EXPECT_EQ(s.UseMaster, c.useMaster) << c.ini;
        EXPECT_EQ(s.UseDBMeters, c.useDb) << c.ini;
        EXPECT_EQ(s.AES128_5, c.aes5) << c.ini;
        EXPECT_EQ(s.AES128_1, c.aes1) << c.ini;
    }

    Settings s;
    setAES128_5(s, false);
    EXPECT_TRUE(s.AES128_1);
    setAES128_5(s, true);
    EXPECT_FALSE(s.AES128_1);
}

TEST(SettingsLoad, NumbersReadIntoTheirRangesOrFallBackToDefault)
{
    Settings s = loadText("[Misc]\nFontSize=0x30\nAutoSave=0\nBoldFont=2\nColorRow=-1\nLowBattery=0xFF00\n"
                          "FromRepeater=blue\nRetry=12abc\nExportSeparator= , \n"
                          "[Titles]\nCount=-3\nTitle1= Flow \n");
    EXPECT_EQ(s.FontSize, 36); // 0x30 = 48 is more than the font size control allows
    EXPECT_FALSE(s.AutoSave);
    EXPECT_TRUE(s.BoldFont);
    EXPECT_EQ(s.ColorRow, 0xFFFFFFFFu);
    EXPECT_EQ(s.LowBattery, 0xFF00u);
    EXPECT_EQ(s.FromRepeater, 16711680u);
    EXPECT_EQ(s.Retry, 0);
    EXPECT_EQ(s.ExportSeparator, ",");
    EXPECT_EQ(s.Count, 0);
    EXPECT_EQ(s.Title1, "Flow");

    // Ranges of the integer keys; Retry is written, never read.
    struct Case {
        const char* text;
        int Settings::*field;
        int expected;
    } cases[] = {
        {"[Misc]\nFontSize=2147483647\n", &Settings::FontSize, 36},
        {"[Misc]\nFontSize=5\n", &Settings::FontSize, 6},
        {"[Misc]\nFontSize=6\n", &Settings::FontSize, 6},
        {"[Misc]\nFontSize=36\n", &Settings::FontSize, 36},
        {"[Titles]\nCount=17\n", &Settings::Count, 16},
        {"[Titles]\nCount=16\n", &Settings::Count, 16},
        {"[Titles]\nCount=-2147483648\n", &Settings::Count, 0},
        {"[Misc]\nRetry=5\n", &Settings::Retry, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(loadText(c.text).*c.field, c.expected) << c.text;

    EXPECT_EQ(loadText("[Misc]\nAutoSave=yes\n").AutoSave, true);
}

const char* const kCommunicationPage =
    "[Com port]\r\nName=COM1\r\nSpeed=19200\r\nParity=None\r\nRTS=0\r\nDTR=0\r\n"
    "[Misc]\r\nExportSeparator=;\r\nRetry=0\r\nColorRow=12639424\r\nLowBattery=65535\r\n"
    "FromRepeater=16711680\r\nReadOnce=0\r\nUseNotes=0\r\nAutoSave=1\r\nSaveMeters=0\r\nAutoFillKey=1\r\n"
    "BoldFont=0\r\nFontSize=8\r\nApator=0\r\nUseDBMeters=0\r\nShowRepeaters=0\r\nDiscardCI=0\r\n"
    "DiscardRepeated=0\r\nSimpleExport=0\r\nDecodeQundis=0\r\nRemoveUnit=0\r\n"
    "[Wireless]\r\nAES128_5=0\r\nAES128_1=0\r\nCType=MASTER\r\nCMode=T1\r\nProtocol=MORVANE\r\nRFPower=5\r\n"
    "UseMaster=0\r\nMasterKey=\r\nRSSI=1\r\nSetModeRAM=1\r\nRSSI_v2=1\r\nDecryption=0\r\nV1=0\r\nV2=1\r\n";

const char* const kAdditionalPage =
    "[Titles]\r\nCount=0\r\nTitle1=\r\nTitle2=\r\nTitle3=\r\nTitle4=\r\nTitle5=\r\nTitle6=\r\nTitle7=\r\n"
    "Title8=\r\nTitle9=\r\n"
    "[Misc]\r\nColorMrv=0\r\nColorTest=0\r\nColorProcess=16711680\r\nColorDone=32768\r\n"
    "[Palvero]\r\nCodePage=Windows-1252\r\n";

TEST(SettingsLoad, CodePageFollowsTheSystemLanguageUntilChosen)
{
    const char* before = std::getenv("LC_ALL");
    const std::string saved = before ? before : "";
    const struct {
        const char* language;
        const char* ini;
        const char* page;
    } cases[] = {
        {"bg_BG.UTF-8", "", "Windows-1251"},
        {"uk_UA.UTF-8", "[Palvero]\r\nCodePage=cp1251\r\n", "Windows-1251"}, // unknown: the system's
        {"en_GB.UTF-8", "", "Windows-1252"},
        {"bg_BG.UTF-8", "[palvero]\r\ncodepage=windows-1252\r\n", "windows-1252"},
    };
    for (const auto& c : cases) {
        setenv("LC_ALL", c.language, 1);
        EXPECT_EQ(loadText(c.ini).CodePage, c.page) << c.language << " " << c.ini;
        EXPECT_EQ(Settings{}.CodePage, codePageName(codePageForLanguage(c.language)));
    }
    if (before)
        setenv("LC_ALL", saved.c_str(), 1);
    else
        unsetenv("LC_ALL");
}

TEST(SettingsSave, ApplyWritesItsKeysInOrder)
{
    TempDir dir;
    Settings western;
    western.CodePage = "Windows-1252";
    ASSERT_TRUE(saveCommunicationPage(western, dir / "comm.ini"));
    EXPECT_EQ(readFile(dir / "comm.ini"), kCommunicationPage);
    ASSERT_TRUE(saveAdditionalPage(western, dir / "additional.ini"));
    EXPECT_EQ(readFile(dir / "additional.ini"), kAdditionalPage);

    // The additional page's colours join the existing "Misc" section after its last key.
    ASSERT_TRUE(saveAdditionalPage(western, dir / "comm.ini"));
    const std::string additional = kAdditionalPage;
    std::string both = kCommunicationPage;
    both.insert(both.find("[Wireless]"), "ColorMrv=0\r\nColorTest=0\r\nColorProcess=16711680\r\nColorDone=32768\r\n");
    both += additional.substr(0, additional.find("[Misc]")) + additional.substr(additional.find("[Palvero]"));
    EXPECT_EQ(readFile(dir / "comm.ini"), both);
}

TEST(SettingsSave, EitherApplyWritesBothPagesInTheirOrder)
{
    TempDir dir;
    Settings s;
    s.Name = "ttyUSB1";
    s.Count = 4;
    s.CodePage = "Windows-1252";
    ASSERT_TRUE(saveBothPages(s, dir / "palvero.ini"));
    std::string both = kCommunicationPage;
    both.replace(both.find("Name=COM1"), 9, "Name=ttyUSB1");
    both.insert(both.find("[Wireless]"), "ColorMrv=0\r\nColorTest=0\r\nColorProcess=16711680\r\nColorDone=32768\r\n");
    const std::string additional = kAdditionalPage;
    std::string titles = additional.substr(0, additional.find("[Misc]")) + additional.substr(additional.find("[Palvero]"));
    titles.replace(titles.find("Count=0"), 7, "Count=4");
    EXPECT_EQ(readFile(dir / "palvero.ini"), both + titles);
    EXPECT_EQ(settingTexts(s).size(), kSettingKeys.size());
    Settings back;
    loadSettingsFile(back, dir / "palvero.ini");
    EXPECT_EQ(settingTexts(back), settingTexts(s));
}

TEST(SettingsSave, EveryValueReadsBackAsWritten)
{
    TempDir dir;
    Settings s;
    s.Name = "ttyUSB0";
    s.ColorRow = 0xFF0000C0; // top byte set: written as a negative number
    s.Count = 12;
    s.Title9 = "Energy";
    setUseMaster(s, true);
    s.MasterKey = "000102030405060708090A0B0C0D0E0F";
    setV1(s, true);
    ASSERT_TRUE(saveCommunicationPage(s, dir / "palvero.ini"));
    ASSERT_TRUE(saveAdditionalPage(s, dir / "palvero.ini"));
    EXPECT_NE(readFile(dir / "palvero.ini").find("ColorRow=-16777024\r\n"), std::string::npos);

    Settings back;
    loadSettingsFile(back, dir / "palvero.ini");
    expectSameRecord(back, s);
}

TEST(SettingsSave, UnwritableFileIsReportedNotThrown)
{
    TempDir dir;
    writeFile(dir / "plain", "x");
    const auto path = dir / "plain" / "palvero.ini";
    EXPECT_FALSE(saveCommunicationPage(Settings{}, path));
    EXPECT_FALSE(saveAdditionalPage(Settings{}, path));
    EXPECT_FALSE(writeIniKey(path, "Misc", "FontSize", "9"));
    EXPECT_FALSE(writeIniKey(dir / "no such folder" / "palvero.ini", "Misc", "FontSize", "9"));
    EXPECT_FALSE(writeIniKey(dir.path(), "Misc", "FontSize", "9"));

    ASSERT_TRUE(writeIniKey(dir / "new.ini", "Misc", "FontSize", "9"));
    EXPECT_EQ(readFile(dir / "new.ini"), "[Misc]\r\nFontSize=9\r\n");

    EXPECT_STREQ(kSavingSettingsCaption, "Saving settings");
    EXPECT_STREQ(kNoWritePermissionText, "Settings will not be saved, no write permission");
}

TEST(SettingsSave, AFailedSaveKeepsTheFileAndNamesAFullDisk)
{
    const std::pair<int, std::string> cases[] = {
        {ENOSPC, "Settings will not be saved, the disk is full!\nAny earlier file of that name is unchanged."},
        {EACCES, "Settings will not be saved, no write permission"},
    };
    for (const auto& [error, text] : cases) {
        TempDir dir;
        writeFile(dir / "palvero.ini", "; the operator's own comment\r\n[Misc]\r\nFontSize=11\r\n");
        const ScopedWriteFault fault(error, 10);
        const WriteOutcome saved = saveCommunicationPage(Settings{}, dir / "palvero.ini");
        EXPECT_EQ(savingSettingsFailedText(saved), text);
        EXPECT_EQ(readFile(dir / "palvero.ini"), "; the operator's own comment\r\n[Misc]\r\nFontSize=11\r\n");
    }
}

TEST(SettingsSave, ReadOnlyFolderIsReported)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permission bits do not stop root";
    TempDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    EXPECT_FALSE(saveCommunicationPage(Settings{}, dir / "palvero.ini"));
}

TEST(SettingsStartup, AppearanceIsReadIntoItsRanges)
{
    TempDir dir;
    const auto path = dir / "palvero.ini";
    StartupAppearance none = readStartupAppearance(path);
    EXPECT_EQ(std::tuple(none.Count, none.BoldFont, none.FontSize), std::tuple(0, false, 8));

    writeFile(path, "[titles]\r\ncount=20\r\n[MISC]\r\nBoldFont=5\r\nFontSize=50\r\n");
    StartupAppearance a = readStartupAppearance(path);
    EXPECT_EQ(std::tuple(a.Count, a.BoldFont, a.FontSize), std::tuple(16, true, 36));
}

} // namespace
} // namespace palvero
