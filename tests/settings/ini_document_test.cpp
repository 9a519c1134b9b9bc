#include "ini_document.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(IniInteger, ReadsDecimalAndHexOnly)
{
    const struct {
        const char* text;
        std::optional<int32_t> expected;
    } cases[] = {
        {"12", 12}, {"007", 7}, {"-5", -5}, {"+7", 7},
        {"2147483647", INT32_MAX}, {"-2147483648", INT32_MIN}, {"2147483648", std::nullopt},
        {"0x1F", 31}, {"0XfF", 255}, {"0xFFFFFFFF", -1}, {"0x100000000", std::nullopt},
        {"", std::nullopt}, {"-", std::nullopt}, {"0x", std::nullopt}, {"12abc", std::nullopt},
        {"1 2", std::nullopt}, {"-0x10", std::nullopt}, {"$10", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseIniInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(IniDocument, FindsKeysWithoutRegardToCaseOrSpaces)
{
    IniDocument doc("Name=COM8\r\n[ com PORT ]\r\n  speed = 9600 \r\n;Parity=Odd\r\nRTS=\r\n[Misc]\r\nName=COM7\r\n");
    EXPECT_EQ(doc.value("Com port", "Speed"), "9600");
    EXPECT_EQ(doc.value("COM PORT", "rts"), "");
    EXPECT_EQ(doc.value("Com port", "Parity"), std::nullopt); // commented out
    EXPECT_EQ(doc.value("Com port", "Name"), std::nullopt);   // before any section, or in another
}

// Everything the program does not own survives a write byte for byte.
TEST(IniDocument, WriteReplacesOnlyThatKeysLine)
{
    const std::string before = "; written by hand\r\n\r\n[com PORT]\r\nspeed = 9600\r\nUnknown=keep me\r\n\r\n"
                               "[Other]\r\nSpeed=1\r\n";
    IniDocument doc(before);
    EXPECT_EQ(doc.text(), before);
    doc.setValue("Com port", "Speed", "19200");
    EXPECT_EQ(doc.text(), "; written by hand\r\n\r\n[com PORT]\r\nSpeed=19200\r\nUnknown=keep me\r\n\r\n"
                          "[Other]\r\nSpeed=1\r\n");
}

TEST(IniDocument, AddsMissingKeysAndSectionsInPlace)
{
    const struct {
        const char* name;
        const char* before;
        const char* section;
        const char* after;
    } cases[] = {
        {"after the section's last entry", "[Misc]\r\nA=1\r\n\r\n; next\r\n[Titles]\r\nB=2\r\n", "Misc",
            "[Misc]\r\nA=1\r\nKey=v\r\n\r\n; next\r\n[Titles]\r\nB=2\r\n"},
        {"right after an empty section's header", "[Misc]\r\n\r\n[Titles]\r\n", "misc",
            "[Misc]\r\nKey=v\r\n\r\n[Titles]\r\n"},
        {"a new section at the end", "[Misc]\r\nA=1\r\n", "Titles", "[Misc]\r\nA=1\r\n[Titles]\r\nKey=v\r\n"},
        {"LF-only file stays LF", "[Misc]\nA=1\n", "Titles", "[Misc]\nA=1\n[Titles]\nKey=v\n"},
        {"last line without a line end", "[Misc]\r\nA=1", "Misc", "[Misc]\r\nA=1\r\nKey=v\r\n"},
        {"empty document", "", "Misc", "[Misc]\r\nKey=v\r\n"},
    };
    for (const auto& c : cases) {
        IniDocument doc(c.before);
        doc.setValue(c.section, "Key", "v");
        EXPECT_EQ(doc.text(), c.after) << c.name;
        EXPECT_EQ(doc.value(c.section, "KEY"), "v") << c.name;
    }

    IniDocument doc;
    doc.setValue("Titles", "Title1", "v\r\n[Com port]\r\nSpeed=1");
    EXPECT_EQ(doc.text(), "[Titles]\r\nTitle1=v\r\n");
}

TEST(IniDocument, LoadAndSaveKeepTheBytes)
{
    TempDir dir;
    auto missing = IniDocument::load(dir / "palvero.ini");
    ASSERT_TRUE(missing.has_value());
    EXPECT_EQ(missing->text(), "");
    EXPECT_FALSE(IniDocument::load(dir.path()).has_value()); // a folder is not a readable file

    const std::string content = "\xEF\xBB\xBF[Misc]\r\nFontSize=9\n";
    writeFile(dir / "palvero.ini", content);
    auto doc = IniDocument::load(dir / "palvero.ini");
    ASSERT_TRUE(doc.has_value());
    EXPECT_EQ(doc->value("Misc", "FontSize"), "9");
    ASSERT_TRUE(doc->save(dir / "copy.ini"));
    EXPECT_EQ(readFile(dir / "copy.ini"), content);
}

} // namespace
} // namespace palvero
