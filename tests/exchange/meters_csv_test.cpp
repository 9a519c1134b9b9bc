#include "meters_csv.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

const std::string kKey = "00112233445566778899AABBCCDDEEFF";
const std::string kLower = "00112233445566778899aabbccddeeff";

TEST(MetersCsv, ReadsEveryFormAMetersFileComesIn)
{
    using Outcome = MetersCsvRead::Outcome;
    const struct {
        const char* name;
        std::string text;
        std::vector<std::string> meters; // "line:ID|key"
        std::vector<std::string> skipped;
        Outcome outcome;
    } cases[] = {
        {"closing separator or none", "11111111;" + kKey + ";\r\n22222222;" + kLower + "\r\n33333333\r\n",
         {"1:11111111|" + kKey, "2:22222222|" + kLower, "3:33333333|"}, {}, Outcome::Read},
        {"the window's own Export", "1;11111111;" + kKey + ";\r\n2;2222222A;;\r\n",
         {"1:11111111|" + kKey, "2:2222222A|"}, {}, Outcome::Read},
        {"short and lower-case IDs as New / Update gives them", "123;;\r\nabc;" + kKey + ";\r\n",
         {"1:00000123|", "2:00000ABC|" + kKey}, {}, Outcome::Read},
        {"spreadsheet quotes and spaces", "\"44444444\";\" " + kKey + " \";\r\n", {"1:44444444|" + kKey}, {},
         Outcome::Read},
        {"headings, long IDs and bad keys are named",
         "Meter ID;Key;\r\n123456789;;\r\n55555555;ABC;\r\n;" + kKey + ";\r\n;;\r\n66666666;\r\n",
         {"6:66666666|"},
         {"line 1: \"Meter ID\" is not a meter ID", "line 2: the meter ID \"123456789\" is longer than 8 characters",
          "line 3: the key \"ABC\" is not 32 hexadecimal digits", "line 4: no meter ID"},
         Outcome::Read},
        {"wrong separator", "11111111," + kKey + ",\r\n", {},
         {"line 1: \"11111111,00112233445566778899AABBCCDDEEF...\" is not a meter ID"}, Outcome::Read},
        {"UTF-8 with a mark", "\xEF\xBB\xBF" "77777777;;\r\n\xD0\x96;\r\n", {"1:77777777|"},
         {"line 2: \"\xD0\x96\" (U+0416) is not in Windows-1252"}, Outcome::Read},
        {"control bytes never reach the file", "8888\t8888;;\r\n", {},
         {"line 1: \"8888.8888\" is not a meter ID"}, Outcome::Read},
        {"20 separators end the reading", "99999999;;\r\n12345678;" + std::string(19, ';') + "\r\n11111111;;",
         {"1:99999999|"}, {}, Outcome::TooManyData},
        {"nothing at all", "\r\n\r\n", {}, {}, Outcome::Empty},
    };
    for (const auto& c : cases) {
        MemorySource source(c.text);
        const MetersCsvRead read = readMetersCsv(source, ";", CodePage::Windows1252);
        std::vector<std::string> meters;
        for (const auto& m : read.meters)
            meters.push_back(std::to_string(m.line) + ":" + m.id + "|" + m.key);
        EXPECT_EQ(meters, c.meters) << c.name;
        std::vector<std::string> skipped;
        for (const auto& s : read.skipped.named)
            skipped.push_back("line " + std::to_string(s.line) + ": " + s.why);
        EXPECT_EQ(skipped, c.skipped) << c.name;
        EXPECT_EQ(read.outcome, c.outcome) << c.name;
    }
}

} // namespace
} // namespace palvero
