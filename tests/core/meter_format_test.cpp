#include "full_decode.h"
#include "meter_format.h"
#include "meter_format_file.h"
#include "meter_format_search.h"
#include "reception.h"
#include "telegram_data.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <set>

namespace palvero {
namespace {

using test::fromHex;

FormatTelegram viewOf(const std::vector<uint8_t>& data)
{
    FormatTelegram t;
    t.data = data.data();
    t.size = data.size();
    return t;
}

FormatField field(int offset, FormatField::Coding coding, int size, bool be = false, int scale = 0,
                  std::vector<uint8_t> after = {})
{
    FormatField f;
    f.offset = offset;
    f.coding = coding;
    f.size = size;
    f.bigEndian = be;
    f.scale = scale;
    f.after = std::move(after);
    return f;
}

constexpr auto U = FormatField::Coding::Unsigned;
constexpr auto S = FormatField::Coding::Signed;
constexpr auto B = FormatField::Coding::Bcd;

TEST(MeterFormat, FieldValues)
{
    const auto data = fromHex("2F 04 13 78 56 34 12 FF FE 9A 04 13 01 00");
    struct Case {
        const char* name;
        FormatField f;
        std::optional<int64_t> value;
    } cases[] = {
        {"uint 4", field(3, U, 4), 0x12345678},
        {"uint 1", field(0, U, 1), 0x2F},
        {"uint 3 big-endian", field(3, U, 3, true), 0x785634},
        {"int 2 negative", field(7, S, 2), -257},
        {"int 1 positive", field(1, S, 1), 4},
        {"bcd 8", field(3, B, 4), 12345678},
        {"bcd 4 big-endian", field(3, B, 2, true), 7856},
        {"bcd digit above 9", field(6, B, 2), std::nullopt},
        {"after the first 04 13", field(0, U, 4, false, 0, {0x04, 0x13}), 0x12345678},
        {"after 04 13 and two bytes", field(2, U, 2, false, 0, {0x04, 0x13}), 0x1234},
        {"pattern absent", field(0, U, 2, false, 0, {0x05, 0x13}), std::nullopt},
        {"runs past the data", field(12, U, 4), std::nullopt},
        {"after a pattern at the end", field(0, U, 4, false, 0, {0x01, 0x00}), std::nullopt},
        {"size 0", field(0, U, 0), std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(readFieldValue(c.f, data.data(), data.size()), c.value) << c.name;
    const auto ff = fromHex("FF FF FF FF FF FF FF FF");
    EXPECT_EQ(readFieldValue(field(0, S, 8), ff.data(), ff.size()), -1);
    EXPECT_EQ(readFieldValue(field(0, U, 8), ff.data(), ff.size()), std::nullopt) << "above the signed range";
}

const char kFormats[] = "# two models\n"
                        "format water-one\n"
                        "  manufacturer KAM\n"
                        "  version 1B\n"
                        "  device 16\n"
                        "  ci 8D 79\n"
                        "  length 27\n"
                        "  bytes 0 2F 2F\n"
                        "  main at 25 uint 4 scale -3 m3\n"
                        "  value after 04 13 +2 bcd 8 be scale -1 kWh\n"
                        "\n"
                        "format heat-two\n"
                        "  manufacturer QDS\n"
                        "  ci A2\n"
                        "  main at 3 int 2 scale 2 kWh\n";

TEST(MeterFormat, TextReadAndWrittenBack)
{
    std::vector<FormatTextError> errors;
    const auto formats = parseMeterFormats(kFormats, &errors);
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_TRUE(errors.empty());
    const MeterFormat& f = formats[0];
    EXPECT_EQ(f.name, "water-one");
    EXPECT_EQ(f.manufacturer, 0x2C2D);
    EXPECT_EQ(f.version, 0x1B);
    EXPECT_EQ(f.linkCi, 0x8D);
    EXPECT_EQ(f.applicationCi, 0x79);
    EXPECT_EQ(f.length, 27u);
    EXPECT_EQ(f.readings[1].field, field(2, B, 4, true, -1, {0x04, 0x13}));
    EXPECT_TRUE(f.readings[0].main);
    EXPECT_EQ(formats[1].applicationCi, 0xA2);
    EXPECT_EQ("# two models\n" + meterFormatsText(formats), kFormats);
}

TEST(MeterFormat, BadLinesLeaveTheirFormatOut)
{
    struct Case {
        const char* line;
        const char* why;
    } cases[] = {
        {"  main at -1 uint 4 scale 0 m3", "at needs an offset of 0 or more"},
        {"  main at 2 uint 9 scale 0 m3", "uint needs a size of 1 to 8 bytes"},
        {"  main at 2 bcd 7 scale 0 m3", "bcd needs an even number of 2 to 16 digits"},
        {"  main at 2 float 4 scale 0 m3", "unknown coding \"float\": uint, int or bcd"},
        {"  main at 2 uint 4 scale 13 m3", "a reading needs scale N (a power of ten, -12 to 12) and its unit"},
        {"  main at 2 uint 4 scale 0 cubic metres", "a reading ends with its unit, one word"},
        {"  main after uint 4 scale 0 m3", "after needs the bytes before the field in hex"},
        {"  manufacturer kam", "manufacturer needs its three letters"},
        {"  version 1BB", "version needs one byte in hex"},
        {"  colour red", "unknown line \"colour\""},
    };
    for (const auto& c : cases) {
        std::vector<FormatTextError> errors;
        const std::string text = std::string("format bad\n") + c.line + "\n  main at 0 uint 1 scale 0 m3\n"
            + "format good\n  main at 0 uint 1 scale 0 m3\n";
        const auto formats = parseMeterFormats(text, &errors);
        ASSERT_EQ(formats.size(), 1u) << c.line;
        EXPECT_EQ(formats[0].name, "good");
        ASSERT_EQ(errors.size(), 1u) << c.line;
        EXPECT_EQ(errors[0].line, 2) << c.line;
        EXPECT_EQ(errors[0].text, c.why) << c.line;
    }
    std::vector<FormatTextError> errors;
    EXPECT_TRUE(parseMeterFormats("main at 0 uint 1 scale 0 m3\nformat empty\n", &errors).empty());
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[1].text, "format empty has no reading");
}

TEST(MeterFormat, MatchRules)
{
    auto formats = parseMeterFormats(kFormats);
    const auto data = fromHex("2F 2F 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 61 04 00 00");
    FormatTelegram t = viewOf(data);
    t.manufacturer = 0x2C2D;
    t.version = 0x1B;
    t.deviceType = 0x16;
    t.linkCi = 0x8D;
    t.applicationCi = 0x79;
    MeterFormats store(formats);
    EXPECT_EQ(store.find(t), nullptr) << "29 bytes, not 27";
    const std::vector<uint8_t> cut(data.begin(), data.begin() + 27);
    FormatTelegram right = t;
    right.data = cut.data();
    right.size = cut.size();
    EXPECT_EQ(store.find(right), nullptr) << "the main field runs past 27 bytes";
    formats[0].length = 29;
    store = MeterFormats(formats);
    ASSERT_NE(store.find(t), nullptr);
    const auto values = MeterFormats::read(*store.find(t), t, ',');
    ASSERT_EQ(values.size(), 1u) << "the second reading's pattern is absent";
    EXPECT_EQ(values[0].value, "1,121");
    EXPECT_EQ(values[0].unit, "m3");
    struct Case {
        const char* name;
        void (*change)(FormatTelegram&);
    } misses[] = {
        {"manufacturer", [](FormatTelegram& x) { x.manufacturer = 0x2C2E; }},
        {"version", [](FormatTelegram& x) { x.version = 0x1C; }},
        {"device type", [](FormatTelegram& x) { x.deviceType = 0x07; }},
        {"link CI", [](FormatTelegram& x) { x.linkCi = 0x8C; }},
        {"application CI", [](FormatTelegram& x) { x.applicationCi = 0x78; }},
    };
    for (const auto& m : misses) {
        FormatTelegram other = t;
        m.change(other);
        EXPECT_EQ(store.find(other), nullptr) << m.name;
    }
    std::vector<uint8_t> unfixed = data;
    unfixed[1] = 0x2E;
    EXPECT_EQ(store.find(viewOf(unfixed)), nullptr) << "fixed bytes";
}

// A sample whose application data hold `data`.
TeachSample sample(const std::string& hex, const std::string& reading)
{
    TeachSample s;
    s.header.manufacturer = 0x1234;
    s.header.linkCi = 0xA2;
    s.header.applicationCi = 0xA2;
    s.data = fromHex(hex);
    s.reading = reading;
    return s;
}

TeachSample withRecordUnit(TeachSample s, const std::string& unit)
{
    s.recordUnits.push_back(unit);
    return s;
}

TEST(MeterFormatSearch, EveryCodingAndScale)
{
    struct Case {
        const char* data;
        const char* reading;
        FormatField want;
    } cases[] = {
        {"91 7C 3E 57 9A 4C 00 00 E3", "5.020247", field(3, U, 4, false, -6)},
        {"91 7C 3E 00 00 4B 4C 5E E3", "4934.75", field(4, U, 4, true, -3)},
        {"91 7C 3E 78 56 34 12 5E E3", "1234567.8", field(3, B, 4, false, -1)},
        {"91 7C 3E 12 34 56 7F 5E E3", "12345600", field(3, B, 3, true, 2)},
        {"91 7C 3E 2E FB 4C 5E 99 E3", "-12.34", field(3, S, 2, false, -2)},
        {"91 7C 3E 00 00 00 00 00 01 00 00 E3 77 A1", "1099511.627776", field(3, U, 8, false, -6)},
        {"91 7C 3E 47 06 00 00 00 11 E3 77", "160.7 ", field(3, U, 4, false, -1)},
        {"91 7C 3E 47 06 00 00 00 11 E3 77", "160,70", field(3, U, 4, false, -1)},
    };
    for (const auto& c : cases) {
        const FormatSearch found = searchMeterFormat({sample(c.data, c.reading)}, "m3", "m");
        ASSERT_EQ(found.outcome, FormatSearch::Outcome::Unique) << c.reading << ": " << found.why;
        EXPECT_EQ(found.candidates[0].field, c.want) << c.reading << ": " << formatFieldText(found.candidates[0].field);
        EXPECT_EQ(found.format.readings[0].field, c.want);
        EXPECT_EQ(found.format.length, std::string(c.data).size() / 3 + 1) << "a fixed place keeps its length";
    }
}

TEST(MeterFormatSearch, OutcomesOverSeveralTelegrams)
{
    struct Case {
        const char* name;
        std::vector<TeachSample> samples;
        FormatSearch::Outcome outcome;
        const char* place; // of the one candidate left, or the why's beginning
    } cases[] = {
        {"a field moved by a length byte",
         {sample("03 41 42 43 C1 13 5D 1D 00 00 08", "7.517"), sample("01 41 C1 13 62 1D 00 00 09", "7.522")},
         FormatSearch::Outcome::Unique, "after C1 13 uint 4 scale -3"},
        {"a record header finds the field",
         {sample("2F 02 FD 17 00 00 04 13 3E 00 00 00 44 13 FF FF", "0.062")},
         FormatSearch::Outcome::Unique, "after 04 13 uint 4 scale -3"},
        {"a reading of few digits fits by chance",
         {sample("06 70 29 01 00 60 17 03 00 04 00 03", "0.4")},
         FormatSearch::Outcome::Several, "10 fields give this reading"},
        {"one field of too few digits", {sample("A7 C4 18 E2 0E 00 77", "1.4")}, FormatSearch::Outcome::Several,
         "One field gives this reading, but so few digits fit bytes by chance"},
        {"few digits in two telegrams",
         {sample("A7 C4 18 E2 0E 00 77", "1.4"), sample("A7 C4 19 E2 0F 00 77", "1.5")},
         FormatSearch::Outcome::Unique, "at 4 uint 2 scale -1"},
        {"the current and the billing value agree",
         {sample("11 D2 04 00 00 9A D2 04 00 00 5C", "1.234")},
         FormatSearch::Outcome::Several, "2 fields give this reading"},
        {"a second telegram tells them apart",
         {sample("11 D2 04 00 00 9A D2 04 00 00 5C", "1.234"), sample("12 E5 04 00 00 9A D2 04 00 00 5D", "1.253")},
         FormatSearch::Outcome::Unique, "at 1 uint 4 scale -3"},
        {"no field", {sample("11 D2 04 00 00 9A", "98.76")}, FormatSearch::Outcome::None, "No field gives"},
        {"a field gives one reading but not the other",
         {sample("11 D2 04 00 00", "1.234"), sample("11 D3 04 00 00", "1.250")},
         FormatSearch::Outcome::None, "No field gives"},
        {"a reading of 0", {sample("00 00 00 00", "0.000")}, FormatSearch::Outcome::None, "A reading of 0"},
        {"records hold the unit", {withRecordUnit(sample("04 13 3E 00 00 00", "0.062"), "m3")},
         FormatSearch::Outcome::None, "The telegram's own records hold a value in m3"},
        {"no reading typed", {sample("11 D2 04 00 00", "")}, FormatSearch::Outcome::NoReading, "Type the reading"},
        {"not a number", {sample("11 D2 04 00 00", "1.2.3")}, FormatSearch::Outcome::NoReading, "Type the reading"},
    };
    for (const auto& c : cases) {
        const FormatSearch found = searchMeterFormat(c.samples, "m3", "m");
        EXPECT_EQ(found.outcome, c.outcome) << c.name << ": " << found.why;
        if (found.outcome == FormatSearch::Outcome::Unique) {
            EXPECT_EQ(formatFieldText(found.candidates[0].field), c.place) << c.name;
        } else {
            EXPECT_EQ(found.why.rfind(c.place, 0), 0u) << c.name << ": " << found.why;
        }
    }
}

// ---------------------------------------------------------------------------------------
// Through the reading pipeline.

struct Walk {
    MeterTable table{3};
    ReadingSettings settings;
    FixedFormats formats;
    test::TableKeys keys;
    Reception reception{table, settings, formats, &keys};
    Walk()
    {
        settings.AES128_5 = true;
        settings.UseDBMeters = true;
    }
    void hear(const std::string& hex) { reception.receive(test::receiverFrame(fromHex(hex))); }
    const std::string& cell(int column, int row = 1) const { return table.cell(row, column); }
};

// The models of the teach table that the compiled-in formats read (vario451mid by its
// current energy record), and the telegrams read. The volume records of emerlin868 and
// gwfwater, of a device type without a main unit, stay theirs to read.
const std::set<std::string> kReadModels = {"engelmann-faw", "flowiq2200", "kamheat",  "kamwater",
                                           "mkradio3a",     "qheat",      "qwater",   "qwaterv2",
                                           "zenner0b",      "vario451mid"};

TEST(MeterFormat, TeachTableThroughTheCompiledInFormats)
{
    int read = 0;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_TEACH_TELEGRAMS)) {
        Walk w;
        w.keys.keys[t.meterId] = t.key;
        for (const auto& hex : t.telegramsHex)
            w.hear(hex);
        const std::string name = t.source + " " + t.meterId;
        const std::string& value = w.cell(col::MainValue);
        const bool model = kReadModels.count(t.source) > 0;
        EXPECT_EQ(value.empty(), !model) << name << ": " << value;
        if (value.empty())
            continue;
        EXPECT_EQ(w.cell(col::Units), t.expectedUnit) << name;
        EXPECT_LE(std::fabs(std::stod(value) - std::stod(t.expectedTotal)), 0.0005) << name << ": " << value;
        ++read;
    }
    EXPECT_EQ(read, 13);
}

// Telegrams of the other tables give what they gave before the meter formats, but for
// those that are rows of the teach table too (the test above reads them).
TEST(MeterFormat, StandardTelegramsGiveWhatTheyGaveBefore)
{
    std::set<std::vector<std::string>> taught;
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_TEACH_TELEGRAMS))
        taught.insert(t.telegramsHex);
    std::vector<std::vector<std::string>> sequences;
    for (const auto& t : test::loadRealTelegrams(PALVERO_TELEGRAMS))
        sequences.push_back({t.telegramHex});
    for (const auto& t : test::loadFurtherTelegrams(PALVERO_FURTHER_TELEGRAMS))
        sequences.push_back(t.telegramsHex);
    int compared = 0;
    for (const auto& hexes : sequences) {
        if (taught.count(hexes))
            continue;
        ++compared;
        Walk with, without;
        without.reception.processor().meterFormats() = MeterFormats();
        for (const auto& hex : hexes) {
            with.hear(hex);
            without.hear(hex);
        }
        for (int c = 0; c < with.table.columnCount(); ++c) {
            if (c == col::Time || c == col::Date)
                continue;
            EXPECT_EQ(with.cell(c), without.cell(c)) << hexes.back() << " column " << c;
        }
        EXPECT_EQ(with.reception.processor().lastMeterFormat(), "") << hexes.back();
    }
    EXPECT_EQ(compared, 40 + 55 - 17);
}

// A manufacturer's own layout (CI 0xA2) and the operator's format for it.
const char kPrivate[] = "1C 44 34 12 78 56 34 12 01 07 A2 10 20 30 87 D6 12 00 44 55 66 77 88 99 AA BB CC DD";
const char kPrivateFormat[] = "format private\n  manufacturer DQT\n  ci A2\n  main at 3 uint 4 scale -3 m3\n"
                              "  value at 0 uint 1 scale 0 %\n";

TEST(MeterFormat, OperatorFormatReadsTheTelegram)
{
    test::TempDir dir;
    Walk w;
    w.settings.Count = 2;
    w.hear(kPrivate);
    EXPECT_EQ(w.cell(col::MainValue), "");
    test::writeFile(dir / kMeterFormatsFileName, kPrivateFormat);
    ASSERT_TRUE(w.reception.useMeterFormatsIn(dir.path()));
    ReceiverFrame f = test::receiverFrame(fromHex(kPrivate));
    w.table.fullDecodeMode = true;
    w.reception.processor().process(f);
    EXPECT_EQ(w.cell(col::MainValue), "1234.567");
    EXPECT_EQ(w.cell(col::Units), "m3");
    EXPECT_EQ(w.cell(col::FirstAdditional), "16.000 %");
    EXPECT_EQ(w.cell(col::FirstAdditional + 1), " ") << "past the last reading";
    const auto& listing = w.table.fullDecodeListing;
    ASSERT_GE(listing.size(), 4u);
    EXPECT_EQ(listing[listing.size() - 3], "1. 1234.567 m3, Meter format private");
    EXPECT_EQ(listing[listing.size() - 2], "2. 16.000 %, Meter format private");
    EXPECT_EQ(w.reception.processor().lastMeterFormat(), "private");

    // A full decode on request reads with the reading's formats.
    const auto lines = fullDecodeOfFrame(test::receiverFrame(fromHex(kPrivate)), w.settings, w.formats, nullptr, "",
                                         &w.reception.processor().meterFormats());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[1].rfind("Manufacturer data (CI A2), not decoded: ", 0), 0u);
    EXPECT_EQ(lines[2], "1. 1234.567 m3, Meter format private");
    EXPECT_EQ(fullDecodeOfFrame(test::receiverFrame(fromHex(kPrivate)), w.settings, w.formats, nullptr, "").size(), 3u);
}

TEST(MeterFormat, NeverInPlaceOfRecordsNorOnEncryptedData)
{
    // Records that give a volume (04 13) before bytes the format would read.
    const auto formats = parseMeterFormats("format any\n  manufacturer DQT\n  main at 2 uint 2 scale 0 m3\n");
    struct Case {
        const char* name;
        const char* telegram;
        const char* value;
    } cases[] = {
        {"the standard records' value", "1C 44 34 12 78 56 34 12 01 07 7A 01 00 00 00 04 13 E8 03 00 00", "1.000"},
        {"mode 5, no key", "1C 44 34 12 78 56 34 12 01 07 7A 01 00 20 05 11 22 33 44 55 66 77 88 99 AA BB CC DD "
                           "EE FF 00 11 22",
         ""},
        {"no volume record: the format", "1C 44 34 12 78 56 34 12 01 07 7A 01 00 00 00 02 5A 10 00", "16.000"},
    };
    for (const auto& c : cases) {
        Walk w;
        w.reception.processor().useMeterFormats(formats);
        w.hear(c.telegram);
        EXPECT_EQ(w.cell(col::MainValue), c.value) << c.name;
    }
}

TEST(MeterFormat, TheMeterFormatsFile)
{
    test::TempDir dir;
    const auto file = dir / kMeterFormatsFileName;
    std::vector<MeterFormat> formats;
    EXPECT_TRUE(readMeterFormatsFile(file, formats));
    EXPECT_TRUE(formats.empty());
    const auto two = parseMeterFormats(kFormats);
    ASSERT_TRUE(appendMeterFormat(file, two[0]));
    ASSERT_TRUE(appendMeterFormat(file, two[1]));
    EXPECT_EQ(test::readFile(file), "# Meter formats: where each model's readings lie in its telegrams\n\n"
                                        + meterFormatText(two[0]) + "\n" + meterFormatText(two[1]));
    std::vector<FormatTextError> errors;
    ASSERT_TRUE(readMeterFormatsFile(file, formats, &errors));
    EXPECT_EQ(meterFormatsText(formats), meterFormatsText(two));
    EXPECT_FALSE(appendMeterFormat(dir / "missing" / kMeterFormatsFileName, two[0]));
    // Taught again under the same name: the later format replaces the earlier one.
    MeterFormat again = two[0];
    again.readings[0].field.offset = 7;
    ASSERT_TRUE(appendMeterFormat(file, again));
    ASSERT_TRUE(readMeterFormatsFile(file, formats));
    ASSERT_EQ(formats.size(), 2u);
    EXPECT_EQ(formats[0].name, "heat-two");
    EXPECT_EQ(formats[1].readings[0].field.offset, 7);
}

TEST(MeterFormat, TeachSampleIsTheDecryptedData)
{
    ReadingSettings s;
    s.AES128_5 = true;
    FixedFormats formats;
    std::string why;
    auto plain = teachSampleOfFrame(test::receiverFrame(fromHex(kPrivate)), s, formats, nullptr, "", why);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->data, fromHex("10 20 30 87 D6 12 00 44 55 66 77 88 99 AA BB CC DD"));
    EXPECT_EQ(plain->header.manufacturer, 0x1234);
    const char encrypted[] = "1C 44 34 12 78 56 34 12 01 07 7A 01 00 20 05 11 22 33 44 55 66 77 88 99 AA BB CC DD "
                             "EE FF 00 11 22";
    why.clear();
    EXPECT_FALSE(teachSampleOfFrame(test::receiverFrame(fromHex(encrypted)), s, formats, nullptr, "", why));
    EXPECT_EQ(why, "still encrypted: enter the meter's key first");
}

} // namespace
} // namespace palvero
