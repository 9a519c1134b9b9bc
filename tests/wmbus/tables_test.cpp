#include "device_types.h"
#include "temp_dir.h"
#include "vif_tables.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace palvero {
namespace {

using test::fromHex;

TEST(DeviceTypes, MediumAndMainUnitByType)
{
    struct Case {
        uint8_t type;
        const char* medium;
        const char* unit;
    } cases[] = {
        {0x00, "Other", "N/A"}, {0x02, "Electricity", "kWh"}, {0x03, "Gas", "m3"}, {0x04, "Heat", "kWh"},
        {0x07, "Water", "m3"}, {0x08, "H.C.A", "N/A"}, {0x0C, "Heat", "kWh"}, {0x0D, "Heat/Cool", "kWh"},
        {0x0F, "Unknown", "N/A"}, {0x10, "Cold water", "m3"}, {0x15, "Hot water", "m3"},
        {0x16, "Cold water", "m3"}, {0x17, "Other", "N/A"}, {0x62, "Hot water", "m3"},
        {0x72, "Cold water", "m3"}, {0x80, "H.C.A", "N/A"}, {0xFF, "Other", "N/A"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(mediumText(c.type), c.medium) << int(c.type);
        EXPECT_STREQ(mainUnitText(c.type), c.unit) << int(c.type);
    }
}

TEST(DeviceTypes, TableHasNoDuplicateCodesAndOnlyKnownUnits)
{
    int n = 0;
    const DeviceTypeRow* rows = deviceTypeRows(&n);
    std::set<int> codes;
    for (int i = 0; i < n; ++i) {
        EXPECT_TRUE(codes.insert(rows[i].code).second) << int(rows[i].code);
        std::string unit = rows[i].mainUnit;
        EXPECT_TRUE(unit == "m3" || unit == "kWh" || unit == "N/A");
        EXPECT_STRNE(rows[i].medium, "");
    }
}

void expectNoOverlaps(const VifRow* rows, int count, const char* name)
{
    for (int i = 0; i < count; ++i) {
        EXPECT_LE(rows[i].first, rows[i].last) << name << " row " << i;
        EXPECT_FALSE(rows[i].unit.empty()) << name << " row " << i;
        if (i > 0) {
            EXPECT_GT(rows[i].first, rows[i - 1].last) << name << " rows overlap at " << i;
        }
        for (int code = rows[i].first; code <= rows[i].last; ++code) {
            int e = rows[i].exponent + rows[i].step * (code - rows[i].first);
            if (std::string(name) != "FD") {
                EXPECT_TRUE(e >= -6 && e <= 6) << name << " code " << code;
            }
        }
    }
}

TEST(VifTables, RowsAreOrderedDisjointAndNamed)
{
    const auto& t = vifTables();
    expectNoOverlaps(t.primary, t.primaryCount, "primary");
    expectNoOverlaps(t.fb, t.fbCount, "FB");
    expectNoOverlaps(t.fd, t.fdCount, "FD");
    // The extension tables answer every code 0x00..0x7F.
    EXPECT_EQ(t.fb[0].first, 0);
    EXPECT_EQ(t.fb[t.fbCount - 1].last, 0x7F);
    EXPECT_EQ(t.fd[0].first, 0);
    EXPECT_EQ(t.fd[t.fdCount - 1].last, 0x7F);
}

TEST(VifTables, FactorsAreTheNearestDoublesOfDecimalPowers)
{
    EXPECT_EQ(powerOfTen(-3), 0.001);
    EXPECT_EQ(powerOfTen(-6), 1e-6);
    EXPECT_EQ(powerOfTen(6), 1e6);
    EXPECT_EQ(powerOfTen(0), 1.0);
}

struct VifCase {
    const char* bytes; // VIF and what follows it
    const char* unit;
    const char* description;
    int exponent;
};

TEST(VifTables, DecodeByVifAndExtension)
{
    const VifCase cases[] = {
        {"13", "m3", "", -3},
        {"93 3B", "m3", "", -3}, // the VIFE is stepped over
        {"03", "kWh", "", -3},
        {"06", "kWh", "", 0},
        {"07", "kWh", "", 1},
        {"0E", "MJ", "", 0},
        {"22", "On Time", "hours", 0},
        {"27", "Operating Time", "days", 0},
        {"2B", "W", "", 0},
        {"36", "J/h", "", 6},
        {"3B", "l/h", "Debit", 0},
        {"5A", "deg. C", "Flow Temp.", -1},
        {"5F", "deg. C", "Return Temp.", 0},
        {"61", "deg. K", "TDiff", -2},
        {"67", "deg. C", "External Temperature", 0},
        {"6A", "mbar", "", 2},
        {"6C", "Time point", "Date (dd.mm.yyyy)", 0},
        {"ED 00", "Time point", "Date and time (hh:mm, dd.mm.yyyy)", 0},
        {"6E", "N/A", "", 0},
        {"70", "Average duration", "", 0},
        {"74", "Actuality Duration", "", 0},
        {"78", "Fabr. No.", "", 0},
        {"18", "Not supported", "", 0},
        {"6B", "Not supported", "", 0},
        {"F8", "Not supported", "", 0},
        {"7F", "Manufacturer specific", "", 0},
        {"FF 00", "Manufacturer specific", "", 0},
        {"7E", "Readout - not supported for now", "", 0},
        {"FE 00", "Readout - not supported for now", "", 0},
        {"FB 01", "kWh", "", 3},
        {"FB 81 00", "kWh", "", 3},
        {"FB 00", "kWh", "", 2},
        {"FB 08", "GJ", "", -1},
        {"FB 11", "m3", "", 3},
        {"FB 29", "kW", "", 3},
        {"FB 05", "Reserved", "", 0},
        {"FB 30", "VIF not supported", "", 0},
        {"FB 5A", "Flow Temperature, deg. F", "", -1},
        {"FB 5B", "Flow Temperature, F", "", 0},
        {"FB 63", "Temp. difference, F", "", 0},
        {"FD 17", "Error flags", "", 0},
        {"FD 97 00", "Error flags", "", 0},
        {"FD 47", "Volts, 10^-2", "", 0},
        {"FD 40", "Volts, 10^-9", "", 0},
        {"FD 4F", "Volts, 10^6", "", 0},
        {"FD 50", "Ampers, 10^-12", "", 0},
        {"FD 55", "Ampers, 10^-7", "", 0},
        {"FD 3A", "Dimensionless", "", 0},
        {"FD 0E", "Firmware version No.", "", 0},
        {"FD 1A", "Digitial Output (binary)", "", 0},
        {"FD 60", "VIF not supported", "", 0},
        {"7C 03 61 62 63", "abc", "text", 0},
        {"7C 00", "Not supported", "", 0},
        {"FC 10 02 6B 57", "VIF is user ASCII string: kW", "text", 0},
    };
    for (const auto& c : cases) {
        // A frame with the VIF at offset 12; the VIFE chain ends where bit 7 is clear.
        ReceiverFrame f = fromHex("68 00 44 2D 2C 78 56 34 12 01 07 78");
        auto tail = fromHex(c.bytes);
        f.insert(f.end(), tail.begin(), tail.end());
        f.insert(f.end(), {0x00, 0x9A, 0x16});
        int d = 13;
        while ((f[static_cast<size_t>(d - 1)] & 0x80) && d < static_cast<int>(f.size()))
            ++d;
        VifInfo info = decodeVif(f, 12, d);
        EXPECT_EQ(info.unit, c.unit) << c.bytes;
        EXPECT_EQ(info.description, c.description) << c.bytes;
        EXPECT_EQ(info.exponent, c.exponent) << c.bytes;
        EXPECT_EQ(info.factor, powerOfTen(c.exponent)) << c.bytes;
    }
}

TEST(VifTables, PlainTextUnitIsCutAtTheFrameEnd)
{
    ReceiverFrame f = fromHex("68 00 44 2D 2C 78 56 34 12 01 07 78 7C 09 61 62");
    VifInfo info = decodeVif(f, 12, 13);
    EXPECT_EQ(info.unit, "ab");
}

} // namespace
} // namespace palvero
