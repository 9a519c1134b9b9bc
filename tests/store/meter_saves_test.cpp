#include "meter_saves.h"
#include "meter_table.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

namespace palvero {
namespace {

using test::readFile;
using test::writeFile;

const char kKeyA[] = "00112233445566778899AABBCCDDEEFF";
const char kKeyB[] = "ffeeddccbbaa99887766554433221100";

struct RecordingLog : ErrorLogger {
    std::vector<std::string> lines;
    void LogErrorCode(int code) override { lines.push_back("code " + std::to_string(code)); }
    void LogErrorText(const std::string& text) override { lines.push_back(text); }
};

std::string fileOf(const std::vector<MeterKeyRecord>& records)
{
    std::string bytes;
    for (const auto& r : records) {
        const auto b = r.encode();
        bytes.append(b.begin(), b.end());
    }
    return bytes;
}

struct MeterSavesTest : ::testing::Test {
    test::TempDir dir;
    RecordingLog log;
    MetersFile meters{dir.path(), log};
    std::filesystem::path file = dir / "meters.mrv";
};

TEST_F(MeterSavesTest, SaveMeterFromTableAddsOrUpdates)
{
    writeFile(file, fileOf({{"11111111", kKeyA}}));
    EXPECT_TRUE(SaveMeterFromTable(meters, log, "22222222", kKeyB));
    EXPECT_TRUE(SaveMeterFromTable(meters, log, "11111111", kKeyB));
    EXPECT_EQ(readFile(file), fileOf({{"11111111", kKeyB}, {"22222222", kKeyB}}));
    EXPECT_TRUE(log.lines.empty());

    // Cut to 8 characters it would be another meter.
    EXPECT_FALSE(SaveMeterFromTable(meters, log, "123456789", kKeyA));
    EXPECT_EQ(readFile(file), fileOf({{"11111111", kKeyB}, {"22222222", kKeyB}}));

    std::filesystem::remove(file);
    EXPECT_FALSE(SaveMeterFromTable(meters, log, "22222222", kKeyB));
    EXPECT_EQ(log.lines, std::vector<std::string>{"code 41"});
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(MeterSavesTest, SaveNewMetersAddsOnlyWhatTheFileLacks)
{
    writeFile(file, fileOf({{"11111111", kKeyA}}));
    MeterTable t;
    const std::vector<std::pair<const char*, const char*>> rows = {
        {"11111111", kKeyB}, // stored: keeps its stored key
        {"22222222", kKeyB},
        {"", kKeyA},         // no meter
        {"33333333", ""},    // stored without a key
        {"22222222", kKeyA}, // listed twice: added once, with its first key
        {"123456789", kKeyA}, // longer than the file keeps: not stored
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        t.setCell(r, col::MeterId, rows[i].first);
        t.setCell(r, col::EncryptionKey, rows[i].second);
    }
    const NewMetersSave first = SaveNewMeters(meters, log, t.grid());
    EXPECT_EQ(std::tuple(first.added, first.notSaved), std::tuple(2, 0));
    const std::string once =
        fileOf({{"11111111", kKeyA}, {"22222222", kKeyB}, {"33333333", ""}});
    EXPECT_EQ(readFile(file), once);
    // A second exit finds every meter stored.
    SaveNewMeters(meters, log, t.grid());
    EXPECT_EQ(readFile(file), once);
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(MeterSavesTest, SaveNewMetersWithoutTheFile)
{
    MeterTable t;
    t.setCell(1, col::MeterId, "11111111");
    t.setCell(t.appendRow(), col::MeterId, "22222222");
    const NewMetersSave r = SaveNewMeters(meters, log, t.grid());
    EXPECT_EQ(log.lines, (std::vector<std::string>{"code 52", "File meters.mrv does not exists!"}));
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(r.status, FileStatus::Missing);
    EXPECT_EQ(std::tuple(r.added, r.notSaved), std::tuple(0, 2));
}

TEST_F(MeterSavesTest, SaveNewMetersOnAFullDiskKeepsTheMetersThatWentIn)
{
    writeFile(file, "");
    MeterTable t;
    for (const char* id : {"22222222", "33333333", "44444444"})
        t.setCell(t.cell(1, col::MeterId).empty() ? 1 : t.appendRow(), col::MeterId, id);
    const ScopedWriteFault full(ENOSPC, 42 + 10);
    const NewMetersSave r = SaveNewMeters(meters, log, t.grid());
    EXPECT_EQ(std::tuple(r.cause, r.added, r.notSaved), std::tuple(WriteFailure::DiskFull, 1, 2));
    EXPECT_EQ(readFile(file), fileOf({{"22222222", ""}}));
    EXPECT_EQ(log.lines.at(0), "code 51");
}

} // namespace
} // namespace palvero
