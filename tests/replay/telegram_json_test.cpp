#include "replay.h"
#include "telegram_data.h"
#include "telegram_json.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <sstream>

namespace palvero {
namespace {

using test::fromHex;
using test::TempDir;

// A strict reader of JSON syntax: true when `text` is exactly one JSON value.
class JsonSyntax {
public:
    explicit JsonSyntax(const std::string& text)
        : m_text(text)
    {
    }
    bool valid()
    {
        return value() && (skip(), m_at == m_text.size());
    }

private:
    void skip()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t'))
            ++m_at;
    }
    bool literal(const char* word)
    {
        const std::string w(word);
        if (m_text.compare(m_at, w.size(), w) != 0)
            return false;
        m_at += w.size();
        return true;
    }
    bool string()
    {
        if (m_text[m_at] != '"')
            return false;
        for (++m_at; m_at < m_text.size(); ++m_at) {
            const auto c = static_cast<unsigned char>(m_text[m_at]);
            if (c == '"')
                return ++m_at, true;
            if (c < 0x20)
                return false;
            if (c == '\\')
                ++m_at;
        }
        return false;
    }
    bool number()
    {
        const size_t from = m_at;
        if (m_text[m_at] == '-')
            ++m_at;
        while (m_at < m_text.size() && (std::isdigit(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '.'))
            ++m_at;
        return m_at > from && std::isdigit(static_cast<unsigned char>(m_text[m_at - 1]));
    }
    bool value()
    {
        skip();
        if (m_at >= m_text.size())
            return false;
        const char c = m_text[m_at];
        if (c == '{' || c == '[') {
            const char close = c == '{' ? '}' : ']';
            ++m_at;
            skip();
            if (m_at < m_text.size() && m_text[m_at] == close)
                return ++m_at, true;
            for (;;) {
                if (c == '{') {
                    skip();
                    if (m_at >= m_text.size() || !string())
                        return false;
                    skip();
                    if (m_at >= m_text.size() || m_text[m_at++] != ':')
                        return false;
                }
                if (!value())
                    return false;
                skip();
                if (m_at >= m_text.size())
                    return false;
                if (m_text[m_at] == close)
                    return ++m_at, true;
                if (m_text[m_at++] != ',')
                    return false;
            }
        }
        if (c == '"')
            return string();
        return literal("true") || literal("false") || literal("null") || number();
    }
    const std::string& m_text;
    size_t m_at = 0;
};

TEST(TelegramJson, ValuesAndTexts)
{
    const struct {
        const char* text;
        char separator;
        const char* json;
    } values[] = {
        {"12.345", '.', "12.345"},  {"12,345", ',', "12.345"},   {"-0.5", '.', "-0.5"},
        {"7", '.', "7"},            {"", '.', "null"},           {"007", '.', "\"007\""},
        {"1.", '.', "\"1.\""},      {"12,345", '.', "\"12,345\""}, {"1.2E+15", '.', "\"1.2E+15\""},
        {"12:30, 1.2.2024", '.', "\"12:30, 1.2.2024\""},
    };
    for (const auto& v : values)
        EXPECT_EQ(jsonValue(v.text, v.separator), v.json) << v.text;
    EXPECT_EQ(jsonString("a\"b\\c\n\x01"), "\"a\\\"b\\\\c\\u000a\\u0001\"");
    EXPECT_EQ(jsonString("\xE9"), "\"\xC3\xA9\"") << "Latin-1 cell text becomes UTF-8";
}

// Every telegram of both tables through the replay tool: a valid JSON object per telegram
// with what the table shows, the layers it came through and its records.
TEST(TelegramJson, ReplayWritesALinePerTelegram)
{
    TempDir dir;
    std::string capture;
    size_t telegrams = 0;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS)) {
        if (!t.key.empty())
            continue; // keys come from a meters file, tested elsewhere
        for (const auto& hex : t.telegramsHex) {
            for (uint8_t b : test::receiverFrame(fromHex(hex)))
                capture += hexByte(b);
            capture += "\n";
            ++telegrams;
        }
    }
    test::writeFile(dir / "walk.txt", capture);
    std::ostringstream out, err;
    ASSERT_EQ(runReplay({"--json", "--hex", (dir / "walk.txt").string()}, out, err), 0) << err.str();

    std::istringstream lines(out.str());
    std::string line;
    size_t count = 0;
    std::string multical21Compact, emerlin, manufacturer;
    while (std::getline(lines, line)) {
        ++count;
        EXPECT_TRUE(JsonSyntax(line).valid()) << line;
        if (line.find("\"meter_id\":\"44556677\"") != std::string::npos && line.find("\"ci\":\"79\"") != std::string::npos)
            multical21Compact = line;
        if (line.find("\"meter_id\":\"00502420\"") != std::string::npos)
            emerlin = line;
        if (line.find("\"meter_id\":\"66290778\"") != std::string::npos)
            manufacturer = line;
    }
    EXPECT_EQ(count, telegrams);
    EXPECT_NE(multical21Compact.find("\"main_value\":20.015,\"unit\":\"m3\",\"decrypted\":false"), std::string::npos)
        << multical21Compact;
    EXPECT_NE(multical21Compact.find("\"encryption\":\"AES-128-CTR\",\"payload_crc_ok\":true"), std::string::npos);
    EXPECT_NE(multical21Compact.find("\"compact_format\":\"C412\""), std::string::npos);
    EXPECT_NE(multical21Compact.find("{\"storage\":0,\"tariff\":0,\"subunit\":0,\"function\":0,\"unit\":\"m3\","
                                     "\"value\":20.015,"),
              std::string::npos);
    EXPECT_NE(emerlin.find("\"afl\":{\"fcl\":\"2C00\",\"message_counter\":368040,\"mac_length\":8"), std::string::npos)
        << emerlin;
    EXPECT_NE(emerlin.find("\"tpl\":{\"ci\":\"7A\",\"access_number\":168,\"status\":0,\"security_mode\":7}"),
              std::string::npos)
        << emerlin;
    EXPECT_NE(manufacturer.find("\"main_value\":null,\"unit\":null"), std::string::npos) << manufacturer;
    EXPECT_NE(manufacturer.find("\"content\":\"manufacturer defined\""), std::string::npos) << manufacturer;
}

// A meter taught into the data folder's formats file is read by palvero-replay --data; the
// JSON names the format and lists its readings apart from the records.
TEST(TelegramJson, MeterFormatsOfTheDataFolder)
{
    TempDir dir;
    const char telegram[] = "1B 44 34 12 78 56 34 12 01 07 A2 10 20 30 87 D6 12 00 44 55 66 77 88 99 AA BB CC DD";
    std::string capture;
    for (uint8_t b : test::receiverFrame(fromHex(telegram)))
        capture += hexByte(b);
    test::writeFile(dir / "walk.txt", capture + "\n");
    std::filesystem::create_directories(dir / "files");
    test::writeFile(dir / "files" / "meters.mrv", "");
    struct Case {
        const char* formats;
        const char* json; // part of the line
        const char* log;  // of standard error
    } cases[] = {
        {"", "\"main_value\":null,\"unit\":null", ""},
        {"format private\n  manufacturer DQT\n  ci A2\n  main at 3 uint 4 scale -3 m3\n  value at 0 uint 1 scale 0 %\n",
         "\"main_value\":1234.567,\"unit\":\"m3\",\"decrypted\":false,\"content\":\"manufacturer defined\"", ""},
        {"format private\n  manufacturer DQT\n  main at 3 uint 4 scale -3 m3\n",
         "\"meter_format\":\"private\",\"format_readings\":[{\"unit\":\"m3\",\"value\":1234.567,\"main\":true}],"
         "\"records\":[]",
         ""},
        {"format broken\n  main at 3 uint 9 scale -3 m3\n", "\"meter_format\":null,\"format_readings\":[]",
         "meter-formats.txt:2: uint needs a size of 1 to 8 bytes; that format is not used"},
    };
    for (const auto& c : cases) {
        test::writeFile(dir / "files" / "meter-formats.txt", c.formats);
        std::ostringstream out, err;
        ASSERT_EQ(runReplay({"--json", "--hex", "--data", (dir / "files").string(), (dir / "walk.txt").string()}, out,
                            err),
                  0);
        EXPECT_NE(out.str().find(c.json), std::string::npos) << c.formats << out.str();
        EXPECT_TRUE(JsonSyntax(out.str().substr(0, out.str().size() - 1)).valid()) << out.str();
        EXPECT_NE(err.str().find(c.log), std::string::npos) << err.str();
    }
}

} // namespace
} // namespace palvero
