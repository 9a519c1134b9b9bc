#include "temp_dir.h"
#include "value_format.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

using test::fromHex;

struct FieldCase {
    uint8_t dif;
    const char* vif; // VIF with its VIFE, as in the frame
    const char* data;
    const char* text;
    int length;
};

// Builds a frame whose record starts at offset 12, decodes its VIF and data field.
DataField decode(uint8_t dif, const std::string& vifHex, const std::string& dataHex, char sep = '.',
                 bool withTrailer = true)
{
    ReceiverFrame f = fromHex("68 00 44 2D 2C 78 56 34 12 01 07 78");
    f.push_back(dif);
    int v = static_cast<int>(f.size());
    auto vif = fromHex(vifHex);
    f.insert(f.end(), vif.begin(), vif.end());
    int d = static_cast<int>(f.size());
    auto data = fromHex(dataHex);
    f.insert(f.end(), data.begin(), data.end());
    if (withTrailer)
        f.insert(f.end(), {0x9A, 0x16});
    VifInfo info = decodeVif(f, v, d);
    return decodeDataField(f, d, dif, f[static_cast<size_t>(v)], info, sep);
}

TEST(DataField, EveryCoding)
{
    const FieldCase cases[] = {
        {0x00, "13", "", "No data ", 0},
        {0x01, "13", "FF", "0.255", 1},
        {0x01, "16", "FF", "255.000", 1},
        {0x02, "5A", "E8 03", "100.000", 2},
        {0x02, "13", "FF FF", "65.535", 2},
        {0x03, "13", "FF FF FF", "16777.215", 3},
        {0x03, "78", "56 34 12", "00123456", 3},
        {0x04, "13", "FF FF FF FF", "-0.001", 4},
        {0x04, "13", "E8 03 00 00", "1.000", 4},
        {0x04, "78", "78 56 34 12", "12345678", 4},
        {0x04, "F8", "78 56 34 12", "305419896.000", 4}, // only 0x78 shows digits
        {0x04, "06", "00 00 00 80", "-2147483648.000", 4},
        {0x05, "2B", "00 00 80 3F", "1.00000", 4},
        {0x05, "2B", "00 00 80 BF", "-1.00000", 4},
        {0x05, "2B", "00 00 80 7F", "NaN or Infinite", 4},
        {0x05, "2B", "00 00 00 00", "0.00000", 4},
        {0x05, "2B", "00 00 00 80", "-0.00000", 4},
        {0x05, "13", "00 00 C0 3F", "0.00150", 4},
        {0x05, "2B", "00 00 20 41", "10.00000", 4},
        {0x05, "2B", "CD CC 8C 3F", "1.10000", 4},
        {0x06, "13", "01 00 00 00 00 00", "0.001", 6},
        {0x06, "78", "01 02 03 04 05 06", "060504030201", 6},
        {0x07, "13", "01 02 03 04 05 06 07 08", "64-bit integer not supported, but hex is: 0x0807060504030201", 8},
        {0x08, "13", "", "Unrecognizable DIF, not decoded ", 0},
        {0x09, "13", "99", "0.099", 1},
        {0x0A, "13", "34 12", "1.234", 2},
        {0x0B, "13", "56 34 12", "123.456", 3},
        {0x0B, "78", "56 34 12", "123456", 3},
        {0x0C, "13", "78 56 34 12", "12345.678", 4},
        {0x0C, "78", "78 56 34 12", "12345678", 4},
        {0x0C, "13", "78 56 34 F0", "Exception ", 4},
        {0x0C, "13", "0A 00 00 00", "Exception ", 4},
        {0x0E, "13", "47 36 48 47 21 00", "2147483.647", 6},
        {0x0E, "13", "48 36 48 47 21 00", "Exception ", 6}, // above the signed 32-bit range
        {0x0E, "78", "12 90 78 56 34 12", "123456789012", 6},
        {0x0D, "FD 11", "03 78 79 7A", "xyz", 4},
        {0x0D, "13", "00", "", 1},
        {0x0D, "13", "C2 12 34", "1234", 3},
        {0x0D, "13", "D2 12 34", "-1234", 3},
        {0x0D, "13", "E2 AB CD", "0xABCD", 3},
        {0x0D, "13", "F1 AB", "Floating point, to be defined in the future, but hex is: 0xAB", 2},
        {0x0D, "13", "FC", "Reserved for future use? ", 1},
        {0x02, "6C", "05 33", "5.3.24", 2},
        {0x04, "6D", "05 08 05 33", "8:05, 5.3.24", 4},
        {0x04, "ED 00", "1E 11 1F 3C", "17:30, 31.12.24", 4},
        {0x02, "EC 00", "FF FF", "31.15.127", 2},
        {0x04, "6D", "0A 08 05 33", "8:10, 5.3.24", 4},
    };
    for (const auto& c : cases) {
        DataField r = decode(c.dif, c.vif, c.data);
        EXPECT_EQ(r.text, c.text) << "DIF " << int(c.dif) << " VIF " << c.vif << " data " << c.data;
        EXPECT_EQ(r.length, c.length) << "DIF " << int(c.dif) << " VIF " << c.vif;
        EXPECT_FALSE(r.overrun);
    }
}

TEST(DataField, DecimalSeparatorComesFromTheLocale)
{
    EXPECT_EQ(decode(0x04, "13", "E8 03 00 00", ',').text, "1,000");
    EXPECT_EQ(decode(0x05, "2B", "00 00 80 3F", ',').text, "1,00000");
}

TEST(DataField, FieldRunningPastTheFrameIsAnException)
{
    // Four data bytes announced, two in the frame (no trailer at all).
    DataField r = decode(0x04, "13", "01 02", '.', false);
    EXPECT_TRUE(r.overrun);
    EXPECT_EQ(r.text, "Exception ");
    DataField lvar = decode(0x0D, "13", "05 41 42", '.', false);
    EXPECT_TRUE(lvar.overrun);
    EXPECT_EQ(lvar.length, 6);
}

TEST(DataField, DateReadsItsLayoutWhateverTheCoding)
{
    // DIF 0x01 with a date-time VIF still reads the four date bytes; the length stays 1.
    DataField r = decode(0x01, "6D", "05 08 05 33");
    EXPECT_EQ(r.text, "8:05, 5.3.24");
    EXPECT_EQ(r.length, 1);
    // The date bytes would leave the frame.
    ReceiverFrame f = fromHex("68 00 44 2D 2C 78 56 34 12 01 07 78 01 6D 05 08");
    VifInfo info = decodeVif(f, 13, 14);
    EXPECT_EQ(decodeDataField(f, 14, 0x01, 0x6D, info, '.').text, "Exception decoding DateTime");
}

TEST(NumberRendering, RoundsToPrecisionAndThreeDecimals)
{
    struct Case {
        int64_t value;
        int exponent;
        int precision;
        const char* text;
    } cases[] = {
        {1, -6, 8, "0.000"},
        {500, -6, 8, "0.001"},   // halves round away from zero
        {-500, -6, 8, "-0.001"},
        {-400, -6, 8, "0.000"},  // no sign on a zero
        {1500, -6, 13, "0.002"},
        {12345678, -3, 13, "12345.678"},
        {123456789, 0, 8, "1.2345679E+8"},
        {99999999, 0, 8, "99999999.000"},
        {999999999, 0, 8, "1E+9"},
        {123456789, -3, 8, "123456.790"}, // eight significant digits leave two decimals
        {1234567891, 6, 13, "1.234567891E+15"},
        {1, 6, 13, "1000000.000"},
        {0, 3, 8, "0.000"},
        {2147483647, -3, 13, "2147483.647"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(renderScaled(c.value, c.exponent, c.precision, '.'), c.text)
            << c.value << "e" << c.exponent << " P" << c.precision;
    EXPECT_EQ(renderScaled(123456789, 0, 8, ','), "1,2345679E+8");
}

TEST(NumberRendering, DoublesUseTheirShortestDigits)
{
    EXPECT_EQ(renderDouble(0.1f, 9, 5, '.'), "0.10000");
    EXPECT_EQ(renderDouble(3.4028234663852886e38, 9, 5, '.'), "3.40282347E+38");
    EXPECT_EQ(renderDouble(123456.789, 9, 5, '.'), "123456.78900");
    EXPECT_EQ(renderDouble(1234567.891, 9, 5, '.'), "1234567.89000"); // nine significant digits
    EXPECT_EQ(renderDouble(0.000004, 9, 5, '.'), "0.00000");
    EXPECT_EQ(renderDouble(0.000005, 9, 5, '.'), "0.00001");
}

} // namespace
} // namespace palvero

namespace palvero {
namespace {

// Values that need no rounding take a shorter way to their text: it must be the text the
// general rule gives, for every scale, precision and sign.
TEST(ValueFormat, ScaledIntegersReadAsTheirDecimalDigits)
{
    const int64_t values[] = {0, 1, -1, 7, 12, 999, 1000, -4321, 2850427, 99999999, 100000000, 123456789012LL,
                              -9223372036854775807LL - 1, 9223372036854775807LL};
    for (int64_t v : values)
        for (int exponent = -7; exponent <= 7; ++exponent)
            for (int precision : {8, 11, 13, 15, 19})
                for (int decimals : {3, 5}) {
                    const bool negative = v < 0;
                    const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
                    std::string expected;
                    renderDecimalTo(expected, negative, std::to_string(magnitude), exponent, precision, decimals, ',');
                    EXPECT_EQ(renderScaled(v, exponent, precision, ',', decimals), expected)
                        << v << " e" << exponent << " p" << precision << " d" << decimals;
                }
}

} // namespace
} // namespace palvero
