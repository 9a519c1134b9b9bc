#include "full_decode.h"
#include "telegram_data.h"
#include "telegram_text.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace palvero {
namespace {

using test::fromHex;

// The link layer of water meter 12345678 of KAM up to its CI field, from the C field on.
const std::string kHead = "44 2D 2C 78 56 34 12 01 07 7A";

ReadingSettings v2(bool rssi)
{
    ReadingSettings s;
    s.V1 = false;
    s.V2 = true;
    s.RSSI_v2 = rssi;
    return s;
}

ReadingSettings v1WithCrc()
{
    ReadingSettings s;
    s.V1 = true;
    s.V2 = false;
    s.RSSI = true;
    s.Protocol = "MORVANE with CRC";
    return s;
}

TEST(TelegramText, ReadsFramesAndWrapsTelegrams)
{
    struct Case {
        const char* name;
        std::string text;
        ReadingSettings settings;
        std::string frame;
    };
    const std::string frame = "68 0B " + kHead + " 9A 16";
    // A telegram of 104 bytes after its L field starts with 68 but is no receiver frame.
    std::string fill;
    for (int i = 0; i < 94; ++i)
        fill += " 2F";
    const Case cases[] = {
        {"receiver frame, spaced", frame, v2(true), frame},
        {"receiver frame, run together, lower case", "680b442d2c7856341201077a9a16", v2(true), frame},
        {"receiver frame kept whatever the settings", frame, v1WithCrc(), frame},
        {"white space of any kind", "\t68 0B 44 2D\r\n2C 78 56 34 12 01 07 7A 9A 16 \n", v2(true), frame},
        {"telegram, RSSI byte added", "0A " + kHead, v2(true), "68 0B " + kHead + " 00 16"},
        {"telegram, no RSSI byte", "0A " + kHead, v2(false), "68 0A " + kHead + " 16"},
        {"telegram, RSSI and CRC bytes", "0A " + kHead, v1WithCrc(), "68 0D " + kHead + " 00 00 00 16"},
        {"digits of a byte split by a space", "0 A" + kHead, v2(false), "68 0A " + kHead + " 16"},
        {"telegram whose L field is 68", "68 " + kHead + fill, v2(true), "68 69 " + kHead + fill + " 00 16"},
    };
    for (const Case& c : cases) {
        const TelegramText t = readTelegramText(c.text, c.settings);
        ASSERT_TRUE(t.ok()) << c.name << ": " << t.message;
        EXPECT_EQ(t.frame, fromHex(c.frame)) << c.name;
        EXPECT_EQ(t.message, "") << c.name;
    }
}

TEST(TelegramText, BadTextIsExplainedAndGivesNoFrame)
{
    struct Case {
        std::string text;
        TelegramTextError error;
        std::string message;
    };
    std::string tooLong = "FF";
    for (int i = 0; i < 255; ++i)
        tooLong += " 2F";
    const Case cases[] = {
        {"", TelegramTextError::Empty, "Enter the telegram as hexadecimal bytes, for example 2E 44 2D 2C ..."},
        {" \r\n\t", TelegramTextError::Empty, "Enter the telegram as hexadecimal bytes, for example 2E 44 2D 2C ..."},
        {"68 0G", TelegramTextError::NotHex, "\"G\" at position 5 is not a hexadecimal digit."},
        {"0x0A 44", TelegramTextError::NotHex, "\"x\" at position 2 is not a hexadecimal digit."},
        {"0A,44", TelegramTextError::NotHex, "\",\" at position 3 is not a hexadecimal digit."},
        {"0A\x01" "44", TelegramTextError::NotHex, "The character 0x01 at position 3 is not a hexadecimal digit."},
        {"0A \xE9", TelegramTextError::NotHex, "The character 0xE9 at position 4 is not a hexadecimal digit."},
        {"N/A", TelegramTextError::NotHex, "\"N\" at position 1 is not a hexadecimal digit."},
        {"0A " + kHead + " 1", TelegramTextError::OddDigits,
         "The text holds 23 hexadecimal digits, an odd count: every byte takes two digits."},
        {"0A 44 2D", TelegramTextError::TooShort,
         "3 bytes are too few: a telegram has at least 11, from its L field to its CI field."},
        {"68 09 44 2D 2C 78 56 34 12 01 07 16", TelegramTextError::TooShort,
         "The receiver frame of 12 bytes is too short: it needs at least 13, from 68 through the CI field to 16."},
        {"0B " + kHead, TelegramTextError::TelegramLength,
         "The L field (0x0B = 11) does not match the 10 bytes that follow it."},
        {"09 " + kHead, TelegramTextError::TelegramLength,
         "The L field (0x09 = 9) does not match the 10 bytes that follow it."},
        {"68 0C " + kHead + " 9A 16", TelegramTextError::FrameLength,
         "The frame's length byte (0x0C = 12) does not match the 11 bytes between it and the stop byte."},
        {"68 0B " + kHead + " 9A 17", TelegramTextError::NoStopByte,
         "The receiver frame ends in 17 instead of the stop byte 16."},
        {tooLong, TelegramTextError::TooLong,
         "The telegram is too long for a receiver frame: 256 bytes with its L field, at most 255 fit."},
    };
    for (const Case& c : cases) {
        const TelegramText t = readTelegramText(c.text, v2(true));
        EXPECT_EQ(t.error, c.error) << c.text;
        EXPECT_EQ(t.message, c.message) << c.text;
        EXPECT_TRUE(t.frame.empty()) << c.text;
        EXPECT_FALSE(t.ok()) << c.text;
    }
    // Without the RSSI byte the longest telegram still fits.
    EXPECT_TRUE(readTelegramText(tooLong, v2(false)).ok());
}

struct KeysOf : MeterKeySource {
    std::string id, key;
    int lookups = 0;
    MeterKeyLookup findMeterKey(const std::string& meterId) override
    {
        ++lookups;
        if (meterId != id)
            return {};
        return {0, true, key};
    }
};

bool listsValue(const std::vector<std::string>& lines, const std::string& valueAndUnit)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        const size_t dot = l.find(". ");
        return dot != std::string::npos && l.compare(dot + 2, valueAndUnit.size() + 2, valueAndUnit + ", ") == 0;
    });
}

TEST(FullDecodeOfFrame, ListsTheRecordsOfAPlainTelegram)
{
    FixedFormats formats;
    const ReceiverFrame f =
        readTelegramText("18 " + kHead + " 01 00 00 00 04 13 E8 03 00 00 02 5A E8 03", v2(true)).frame;
    EXPECT_EQ(fullDecodeOfFrame(f, v2(true), formats, nullptr, ""),
              (std::vector<std::string>{"Decode of telegram for device 12345678", "1. 1.000 m3, ",
                                        "2. 100.000 deg. C, Flow Temp.", ""}));
}

TEST(FullDecodeOfFrame, FiltersThatDropTelegramsDoNotApply)
{
    FixedFormats formats;
    ReadingSettings s = v2(true);
    s.DiscardCI = true;
    s.DiscardRepeated = true;
    s.ReadOnce = true;
    // CI 0x7A with the repeated bit in its configuration word, and an unknown CI 0x55.
    const std::string repeated = "18 " + kHead + " 01 00 01 00 04 13 E8 03 00 00 02 5A E8 03";
    const std::string unknownCi = "10 44 2D 2C 78 56 34 12 01 07 55 04 13 E8 03 00 00";
    for (const std::string& text : {repeated, unknownCi}) {
        const auto lines = fullDecodeOfFrame(readTelegramText(text, s).frame, s, formats, nullptr, "");
        ASSERT_FALSE(lines.empty()) << text;
        EXPECT_EQ(lines.front(), "Decode of telegram for device 12345678") << text;
    }
}

TEST(FullDecodeOfFrame, EncryptedTelegramsTakeTheirKeyFromEachSource)
{
    FixedFormats formats;
    int encrypted = 0;
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS)) {
        if (t.key.empty() || t.mainValue.empty())
            continue;
        ++encrypted;
        const std::string shown = t.mainValue + " " + t.units;
        ReadingSettings s = v2(true);
        s.AES128_5 = true;
        const ReceiverFrame f = readTelegramText(t.telegramHex, s).frame;
        ASSERT_FALSE(f.empty()) << t.source;

        EXPECT_TRUE(listsValue(fullDecodeOfFrame(f, s, formats, nullptr, t.key), shown)) << t.source << " row key";
        EXPECT_FALSE(listsValue(fullDecodeOfFrame(f, s, formats, nullptr, ""), shown)) << t.source << " no key";

        ReadingSettings master = s;
        master.UseMaster = true;
        master.MasterKey = t.key;
        EXPECT_TRUE(listsValue(fullDecodeOfFrame(f, master, formats, nullptr, "00"), shown)) << t.source;

        ReadingSettings database = s;
        database.UseDBMeters = true;
        KeysOf keys;
        keys.id = t.meterId;
        keys.key = t.key;
        EXPECT_TRUE(listsValue(fullDecodeOfFrame(f, database, formats, &keys, ""), shown)) << t.source;
        EXPECT_EQ(keys.lookups, 1) << t.source;
        // A key in the meter's row comes before the meters file.
        EXPECT_TRUE(listsValue(fullDecodeOfFrame(f, database, formats, &keys, t.key), shown)) << t.source;
        EXPECT_EQ(keys.lookups, 1) << t.source;

        ReadingSettings off = s;
        off.AES128_5 = false;
        EXPECT_FALSE(listsValue(fullDecodeOfFrame(f, off, formats, nullptr, t.key), shown)) << t.source;
    }
    EXPECT_GE(encrypted, 5);
}

} // namespace
} // namespace palvero
