#include "code_page.h"

#include <gtest/gtest.h>

#include <iconv.h>

#include <string>

namespace palvero {
namespace {

// The C library's own tables, to hold ours against.
std::string iconvUtf8(const char* from, unsigned char byte)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return "?";
    char in[1] = {static_cast<char>(byte)};
    char out[8] = {};
    char* inp = in;
    char* outp = out;
    size_t inLeft = 1, outLeft = sizeof out;
    const size_t done = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    iconv_close(cd);
    return done == static_cast<size_t>(-1) ? std::string() : std::string(out, sizeof out - outLeft);
}

TEST(CodePage, EveryByteStandsForOneCharacterAndComesBack)
{
    for (CodePage page : {CodePage::Windows1251, CodePage::Windows1252}) {
        const char* name = page == CodePage::Windows1251 ? "CP1251" : "CP1252";
        for (int b = 0; b < 256; ++b) {
            const char32_t c = codePageCharacter(page, static_cast<uint8_t>(b));
            EXPECT_EQ(codePageByte(page, c), std::optional<uint8_t>(static_cast<uint8_t>(b))) << name << " " << b;
            // A byte the code page leaves undefined stands for the control character of its number.
            const std::string theirs = iconvUtf8(name, static_cast<unsigned char>(b));
            EXPECT_EQ(utf8Of(c), theirs.empty() ? utf8Of(static_cast<char32_t>(b)) : theirs) << name << " " << b;
        }
    }
}

TEST(CodePage, Utf8TextIntoTheCodePage)
{
    const struct {
        const char* name;
        std::string utf8;
        CodePage page;
        bool held;
        std::string bytes;
        char32_t unheld;
    } cases[] = {
        {"Cyrillic", "\xD0\x96\xD0\xB8\xD0\xB2\xD0\xBE \xE2\x84\x96" "5", CodePage::Windows1251, true,
         "\xC6\xE8\xE2\xEE \xB9" "5", 0},
        {"Cyrillic in Western", "\xD0\x96x", CodePage::Windows1252, false, "", 0x0416},
        {"Western", "Caf\xC3\xA9 \xE2\x82\xAC", CodePage::Windows1252, true, "Caf\xE9 \x80", 0},
        {"euro in Cyrillic too", "\xE2\x82\xAC", CodePage::Windows1251, true, "\x88", 0},
        {"e acute not in Cyrillic", "Caf\xC3\xA9", CodePage::Windows1251, false, "Caf", 0xE9},
        {"cut sequence", "ab\xD0", CodePage::Windows1251, false, "ab", 0xFFFD},
        {"over-long slash", "\xC0\xAF", CodePage::Windows1252, false, "", 0xFFFD},
        {"emoji", "\xF0\x9F\x98\x80", CodePage::Windows1252, false, "", 0x1F600},
    };
    for (const auto& c : cases) {
        std::string out;
        char32_t unheld = 0;
        EXPECT_EQ(utf8ToCodePage(c.utf8, c.page, out, &unheld), c.held) << c.name;
        EXPECT_EQ(out, c.bytes) << c.name;
        EXPECT_EQ(unheld, c.unheld) << c.name;
        if (c.held) {
            EXPECT_EQ(codePageToUtf8(out, c.page), c.utf8) << c.name;
        }
    }
}

TEST(CodePage, NamesAndTheLanguagesWrittenInCyrillic)
{
    EXPECT_EQ(codePageNamed("windows-1251"), CodePage::Windows1251);
    EXPECT_EQ(codePageNamed("Windows-1252"), CodePage::Windows1252);
    EXPECT_EQ(codePageNamed("1251"), std::nullopt);
    EXPECT_STREQ(codePageName(CodePage::Windows1251), "Windows-1251");
    const std::pair<const char*, CodePage> languages[] = {
        {"bg_BG.UTF-8", CodePage::Windows1251}, {"ru", CodePage::Windows1251}, {"sr_RS@latin", CodePage::Windows1251},
        {"mk-MK", CodePage::Windows1251},       {"uk_UA", CodePage::Windows1251}, {"en_US.UTF-8", CodePage::Windows1252},
        {"de", CodePage::Windows1252},          {"C", CodePage::Windows1252},     {"", CodePage::Windows1252},
        {"bgx", CodePage::Windows1252},
    };
    for (const auto& [language, page] : languages)
        EXPECT_EQ(codePageForLanguage(language), page) << language;
}

} // namespace
} // namespace palvero
