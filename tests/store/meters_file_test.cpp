#include "meters_file.h"

#include "error_log.h"
#include "formats.h"
#include "scripted_operator.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <tuple>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

const char kKeyA[] = "00112233445566778899AABBCCDDEEFF";
const char kKeyB[] = "ffeeddccbbaa99887766554433221100";

std::string recordBytes(const std::string& id, const std::string& key)
{
    const auto bytes = MeterKeyRecord{id, key}.encode();
    return std::string(bytes.begin(), bytes.end());
}

std::string fileOf(const std::vector<MeterKeyRecord>& records)
{
    std::string bytes;
    for (const auto& r : records)
        bytes += recordBytes(r.id, r.key);
    return bytes;
}

std::string logLine(int code)
{
    return "Error " + std::to_string(code) + ", encountered at 14:03:22,  06.12.2026\r\n";
}

struct MetersFileTest : ::testing::Test {
    test::TempDir dir;
    FixedFormats formats;
    test::ScriptedOperator op;
    ErrorLog log{dir.path(), formats, op};
    MetersFile meters{dir.path(), log};
    std::filesystem::path file = dir / "meters.mrv";

    void SetUp() override { writeFile(file, ""); }
};

TEST_F(MetersFileTest, RecordBytesAreCutTextAndZeroPadding)
{
    const std::string full = std::string("\x08" "12345678" "\x20", 10) + kKeyA;
    const struct {
        std::string id;
        std::string key;
        std::string bytes;
        std::string storedId;
    } cases[] = {
        {"12345678", kKeyA, full, "12345678"},
        {"123", "ab", std::string("\x03" "123\0\0\0\0\0" "\x02" "ab", 12) + std::string(30, '\0'), "123"},
        {"", "", std::string(42, '\0'), ""},
        {"123456789", std::string(kKeyA) + "Z", full, "12345678"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        writeFile(file, "");
        EXPECT_EQ(meters.SaveMeter(c.id, c.key), MetersFile::MeterAdded);
        ASSERT_EQ(c.bytes.size(), 42u);
        EXPECT_EQ(readFile(file), c.bytes);
        // An ID longer than 8 characters is never found by its own text.
        EXPECT_EQ(meters.FindMeterIndex(c.id), c.id == c.storedId ? 0 : -1);
        EXPECT_EQ(meters.FindMeterIndex(c.storedId), 0);
    }
}

TEST_F(MetersFileTest, SaveAddsFromRecordZeroThenUpdatesInPlace)
{
    const MeterKeyLookup none = meters.FindMeterKey("00000001");
    EXPECT_EQ(none.index, -1);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(meters.FindMeterIndex("00000001"), -1);

    for (const char* id : {"00000001", "00000002", "00000003"})
        ASSERT_EQ(meters.SaveMeter(id, kKeyA), MetersFile::MeterAdded);
    EXPECT_EQ(meters.findMeterKey("00000001").index, 0);

    EXPECT_EQ(meters.SaveMeter("00000002", kKeyB), MetersFile::MeterUpdated);
    EXPECT_EQ(readFile(file), fileOf({{"00000001", kKeyA}, {"00000002", kKeyB}, {"00000003", kKeyA}}));
    EXPECT_FALSE(std::filesystem::exists(dir / "glog.txt"));
}

TEST_F(MetersFileTest, LookupMatchesTheWholeStoredTextExactly)
{
    writeFile(file, fileOf({{"12345678", "k0"}, {"abc", "k1"}, {"ABC", "k2"}, {"abc", "k3"}, {"", "k4"}}));
    const struct {
        std::string query;
        int index;
        std::string key;
    } cases[] = {
        {"12345678", 0, "k0"}, {"abc", 1, "k1"}, {"ABC", 2, "k2"},
        {"", 4, "k4"},         {"1234567", -1, ""}, {"abc ", -1, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.query);
        const MeterKeyLookup r = meters.FindMeterKey(c.query);
        EXPECT_EQ(r.index, c.index);
        EXPECT_EQ(r.found, c.index >= 0);
        EXPECT_EQ(r.key, c.key);
        EXPECT_EQ(meters.FindMeterIndex(c.query), c.index);
    }
}

TEST_F(MetersFileTest, DeleteMovesLaterRecordsDownAndCutsTheLast)
{
    const std::vector<MeterKeyRecord> three{{"A", "1"}, {"B", "2"}, {"C", "3"}};
    const struct {
        const char* name;
        std::vector<MeterKeyRecord> before;
        std::string id;
        bool deleted;
        std::vector<MeterKeyRecord> after;
    } cases[] = {
        {"first", three, "A", true, {{"B", "2"}, {"C", "3"}}},
        {"middle", three, "B", true, {{"A", "1"}, {"C", "3"}}},
        {"last", three, "C", true, {{"A", "1"}, {"B", "2"}}},
        {"only", {{"A", "1"}}, "A", true, {}},
        {"absent", three, "D", false, three},
        {"empty file", {}, "A", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file, fileOf(c.before));
        EXPECT_EQ(meters.DeleteMeter(c.id), c.deleted);
        EXPECT_EQ(readFile(file), fileOf(c.after));
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "glog.txt"));
}

TEST_F(MetersFileTest, ManyAtOnceStoreWhatOneAfterTheOtherWould)
{
    const std::vector<MeterKeyRecord> stored{{"A", "1"}, {"B", "2"}, {"A", "dup"}, {"C", "3"}};
    const struct {
        const char* name;
        std::vector<MeterKeyRecord> save;
        std::vector<std::string> remove;
    } cases[] = {
        {"only new meters", {{"D", "4"}, {"E", "5"}, {"D", "6"}}, {}},
        {"updates and new ones", {{"B", "20"}, {"F", "6"}, {"A", "10"}, {"F", "60"}}, {}},
        {"nothing", {}, {}},
        {"deletes, a stored duplicate twice", {}, {"A", "C", "A", "A", "Z"}},
        {"every meter", {}, {"A", "B", "A", "C"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file, fileOf(stored));
        for (const auto& m : c.save)
            EXPECT_NE(meters.SaveMeter(m.id, m.key), MetersFile::SaveFailed);
        int deleted = 0;
        for (const auto& id : c.remove)
            deleted += meters.DeleteMeter(id);
        const std::string expected = readFile(file);

        writeFile(file, fileOf(stored));
        int removed = -1;
        EXPECT_TRUE(meters.SaveMeters(c.save));
        EXPECT_TRUE(meters.DeleteMeters(c.remove, &removed));
        EXPECT_EQ(removed, deleted);
        EXPECT_EQ(readFile(file), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "glog.txt"));
}

TEST_F(MetersFileTest, AWriteThatFailsLeavesEveryStoredMeterAsItWas)
{
    const std::string before = fileOf({{"A", "1"}, {"B", "2"}});
    const struct {
        std::uint64_t room; // bytes written before the disk is full
        std::function<bool(MetersFile&)> failed;
        std::string after;
    } cases[] = {
        {60, [](MetersFile& m) { return m.SaveMeter("A", "9") == MetersFile::SaveFailed; }, before},
        {30, [](MetersFile& m) { return !m.DeleteMeter("A"); }, before},
        // Many meters at once: all of them or none.
        {100, [](MetersFile& m) { return !m.SaveMeters({{"C", "3"}, {"D", "4"}, {"E", "5"}}); }, before},
    };
    for (const auto& c : cases) {
        writeFile(file, before);
        {
            const ScopedWriteFault full(ENOSPC, c.room);
            EXPECT_TRUE(c.failed(meters)) << c.room;
        }
        EXPECT_EQ(readFile(file), c.after);
        EXPECT_EQ(meters.lastOutcome().cause, WriteFailure::DiskFull);
    }
    EXPECT_NE(readFile(dir / "gloge.txt").find("No space left on device"), std::string::npos);
}

TEST_F(MetersFileTest, MissingFileLogsItsCodeAndIsNeverCreated)
{
    const struct {
        const char* name;
        std::function<void(MetersFile&)> run;
        std::string logged;
    } cases[] = {
        {"FindMeterKey", [](MetersFile& m) { EXPECT_FALSE(m.FindMeterKey("A").found); }, logLine(41)},
        {"FindMeterIndex", [](MetersFile& m) { EXPECT_EQ(m.FindMeterIndex("A"), -1); }, logLine(63)},
        {"SaveMeter", [](MetersFile& m) { EXPECT_EQ(m.SaveMeter("A", "1"), MetersFile::SaveFailed); },
         logLine(63) + logLine(61)},
        {"DeleteMeter", [](MetersFile& m) { EXPECT_FALSE(m.DeleteMeter("A")); }, logLine(63) + logLine(41)},
        {"Truncate", [](MetersFile& m) { EXPECT_FALSE(m.Truncate()); }, ""},
        {"SaveMeters", [](MetersFile& m) { EXPECT_FALSE(m.SaveMeters({{"A", "1"}})); }, logLine(63) + logLine(61)},
        {"DeleteMeters", [](MetersFile& m) { EXPECT_FALSE(m.DeleteMeters({"A"})); }, logLine(63) + logLine(41)},
        {"ReadAll", [](MetersFile& m) { EXPECT_TRUE(m.ReadAll().empty()); }, ""},
    };
    std::filesystem::remove(file);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(dir / "glog.txt");
        c.run(meters);
        EXPECT_EQ(meters.lastOutcome().status, FileStatus::Missing);
        EXPECT_EQ(readFile(dir / "glog.txt"), c.logged);
        EXPECT_FALSE(std::filesystem::exists(file));
        EXPECT_FALSE(std::filesystem::exists(dir / "gloge.txt"));
    }
}

TEST_F(MetersFileTest, DamagedLengthBytesAreClamped)
{
    std::string bytes = recordBytes("12345678", kKeyA);
    bytes[0] = static_cast<char>(200);
    bytes[9] = static_cast<char>(200);
    writeFile(file, bytes + recordBytes("B", "2"));

    EXPECT_EQ(meters.ReadAll(), (std::vector<MeterKeyRecord>{{"12345678", kKeyA}, {"B", "2"}}));
    const MeterKeyLookup r = meters.FindMeterKey("12345678");
    EXPECT_EQ(r.index, 0);
    EXPECT_EQ(r.key, kKeyA);
}

TEST_F(MetersFileTest, TrailingPartialRecordIsNoRecord)
{
    const std::string whole = fileOf({{"A", "1"}, {"B", "2"}});
    const std::string partial = recordBytes("C", "3").substr(0, 17);

    writeFile(file, whole + partial);
    EXPECT_EQ(meters.ReadAll().size(), 2u);
    EXPECT_EQ(meters.FindMeterIndex("C"), -1);
    EXPECT_EQ(meters.SaveMeter("D", "4"), MetersFile::MeterAdded);
    EXPECT_EQ(readFile(file), whole + recordBytes("D", "4"));

    writeFile(file, whole + partial);
    EXPECT_EQ(meters.SaveMeter("B", "5"), MetersFile::MeterUpdated);
    EXPECT_EQ(readFile(file), fileOf({{"A", "1"}, {"B", "5"}}) + partial);

    writeFile(file, whole + partial);
    EXPECT_TRUE(meters.DeleteMeter("A"));
    EXPECT_EQ(readFile(file), recordBytes("B", "2"));
}

TEST_F(MetersFileTest, ManyMetersAreSavedAndDeletedInOneWrite)
{
    const std::string partial = recordBytes("P", "9").substr(0, 17);
    const struct {
        const char* name;
        std::vector<MeterKeyRecord> save;
        std::vector<std::string> remove;
        std::string after;
        MetersFile::SaveCount count;
        int removed;
    } cases[] = {
        {"added, changed, kept, unchanged",
         {{"C", "3"}, {"A", "7"}, {"B", ""}, {"A", "7"}, {"C", ""}, {"123456789", "8"}},
         {},
         fileOf({{"A", "7"}, {"B", "2"}, {"A", "1"}, {"C", "3"}, {"12345678", "8"}}),
         {2, 1, 2, 1},
         0},
        {"nothing new writes nothing", {{"A", "1"}, {"B", ""}}, {}, fileOf({{"A", "1"}, {"B", "2"}, {"A", "1"}}) + partial,
         {0, 0, 1, 1}, 0},
        // The first record of an ID goes first: listed twice, both go.
        {"delete listed", {}, {"A", "Z", "A"}, recordBytes("B", "2"), {}, 2},
        {"delete none", {}, {"Z"}, fileOf({{"A", "1"}, {"B", "2"}, {"A", "1"}}) + partial, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(file, fileOf({{"A", "1"}, {"B", "2"}, {"A", "1"}}) + partial);
        MetersFile::SaveCount count;
        int removed = -1;
        EXPECT_TRUE(c.remove.empty() ? meters.SaveMeters(c.save, &count) : meters.DeleteMeters(c.remove, &removed));
        EXPECT_EQ(readFile(file), c.after);
        EXPECT_EQ(std::tie(count.added, count.keysChanged, count.keysKept, count.unchanged),
                  std::tie(c.count.added, c.count.keysChanged, c.count.keysKept, c.count.unchanged));
        if (!c.remove.empty()) {
            EXPECT_EQ(removed, c.removed);
        }
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "glog.txt"));
}

TEST_F(MetersFileTest, TruncateEmptiesTheFile)
{
    writeFile(file, fileOf({{"A", "1"}, {"B", "2"}}) + "partial");
    EXPECT_TRUE(meters.Truncate());
    EXPECT_EQ(std::filesystem::file_size(file), 0u); // throws when the file went missing
}

// A folder in place of the file cannot be opened by anyone, root included.
TEST_F(MetersFileTest, IoErrorsGoToTheDetailedLogOnly)
{
    std::filesystem::remove(file);
    std::filesystem::create_directory(file);

    EXPECT_EQ(meters.FindMeterKey("A").index, -1);
    EXPECT_EQ(meters.SaveMeter("A", "1"), MetersFile::SaveFailed);
    EXPECT_EQ(meters.lastOutcome().status, FileStatus::IoError);
    EXPECT_FALSE(meters.DeleteMeter("A"));
    EXPECT_FALSE(meters.Truncate());

    EXPECT_FALSE(std::filesystem::exists(dir / "glog.txt"));
    const std::string detailed = readFile(dir / "gloge.txt");
    const std::string line = meters.lastOutcome().error + ", encountered at 14:03:22,  06.12.2026\r\n";
    EXPECT_EQ(detailed, line + line);
}

} // namespace
} // namespace palvero

namespace palvero {
namespace {

// Lookups read the file again exactly when it changed: a write through another MetersFile
// (another window), an outside change of size or time, a file just written; a file that
// settled and did not change is not read again.
TEST_F(MetersFileTest, LookupsReadTheFileAgainOnlyWhenItChanged)
{
    const auto settled = std::filesystem::file_time_type::clock::now() - std::chrono::hours(1);
    auto settle = [&](std::chrono::seconds later = {}) { std::filesystem::last_write_time(file, settled + later); };
    writeFile(file, fileOf({{"00000001", kKeyA}}));
    settle();
    ASSERT_EQ(meters.FindMeterKey("00000001").key, kKeyA);

    MetersFile otherWindow{dir.path(), log};
    const struct {
        const char* change;
        std::function<void()> apply;
        std::string expectedKey; // of meter 00000002
    } cases[] = {
        {"another window adds the meter", [&] { otherWindow.SaveMeter("00000002", kKeyA); settle(); }, kKeyA},
        {"the same size and time: the index stands",
         [&] { writeFile(file, fileOf({{"00000001", kKeyA}, {"00000002", kKeyB}})); settle(); }, kKeyA},
        {"another time", [&] { settle(std::chrono::seconds(5)); }, kKeyB},
        {"another size", [&] { writeFile(file, fileOf({{"00000001", kKeyA}})); settle(std::chrono::seconds(5)); }, ""},
        {"written just now", [&] { writeFile(file, fileOf({{"00000001", kKeyA}, {"00000002", kKeyA}})); }, kKeyA},
        {"rewritten within the same second", [&] { writeFile(file, fileOf({{"00000001", kKeyA}, {"00000002", kKeyB}})); },
         kKeyB},
    };
    for (const auto& c : cases) {
        c.apply();
        const MeterKeyLookup found = meters.FindMeterKey("00000002");
        EXPECT_EQ(found.key, c.expectedKey) << c.change;
        EXPECT_EQ(found.found, !c.expectedKey.empty()) << c.change;
    }
    std::filesystem::remove(file);
    EXPECT_FALSE(meters.FindMeterKey("00000001").found) << "a file gone is gone at once";
    EXPECT_EQ(readFile(dir / "glog.txt"), logLine(41));
}

} // namespace
} // namespace palvero
