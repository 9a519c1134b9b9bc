// The data files when the program is killed in the middle of a change: a child process runs
// large updates, deletes and appends of meters.mrv and the readings' appends of db.mrv and is
// killed at a random moment, 220 times; every time both files must read back whole, and
// every record that was not being changed must be as it was.

#include "measurement_file.h"
#include "meter_saves.h"
#include "meter_table.h"
#include "temp_dir.h"
#include "tiny_disk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <iostream>
#include <map>
#include <random>
#include <thread>

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace palvero {
namespace {

namespace fs = std::filesystem;

struct NullLog : ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

// More than one block of a save of readings, which reaches the disk a block at a time.
constexpr int kReadingsPerSave = 1100;

// Every cell of a saved reading names the reading, and a key names its meter and its save:
// a record made of two, or a meter with its neighbour's key, shows at once.
std::string cellOf(int reading, int column)
{
    return "r" + std::to_string(reading) + "c" + std::to_string(column);
}

struct Op {
    enum Kind { Update, Delete, AddMany, DeleteMany, ExitMeters, Readings } kind;
    std::vector<MeterKeyRecord> meters;
};

// The same changes in the child that makes them and in the parent that checks what they
// left: each is drawn from the state the ones before it made.
struct Workload {
    explicit Workload(unsigned seed)
        : rng(seed)
    {
        while (meters.size() < 2000)
            meters.push_back(made());
    }
    MeterKeyRecord made(std::string id = {})
    {
        if (id.empty())
            id = std::to_string(10000000 + nextId++);
        std::string key = id + "-" + std::to_string(++version) + "-";
        key.resize(32, 'K');
        return {id, key};
    }
    const std::string& anyId() { return meters[std::uniform_int_distribution<std::size_t>(0, meters.size() - 1)(rng)].id; }

    Op next()
    {
        Op op{static_cast<Op::Kind>(std::uniform_int_distribution<int>(0, 5)(rng)), {}};
        const int n = op.kind == Op::Update || op.kind == Op::Delete ? 1 : op.kind == Op::DeleteMany ? 40 : 150;
        for (int i = 0; i < n && op.kind != Op::Readings; ++i) {
            const std::string id = op.kind == Op::AddMany || op.kind == Op::ExitMeters ? std::string() : anyId();
            if (id.empty() || std::none_of(op.meters.begin(), op.meters.end(), [&](auto& m) { return m.id == id; }))
                op.meters.push_back(made(id));
        }
        return op;
    }
    void apply(const Op& op)
    {
        for (const MeterKeyRecord& m : op.meters) {
            auto it = std::find_if(meters.begin(), meters.end(), [&](auto& r) { return r.id == m.id; });
            if (op.kind == Op::Delete || op.kind == Op::DeleteMany)
                meters.erase(it);
            else if (it == meters.end())
                meters.push_back(m);
            else
                *it = m;
        }
        readings += op.kind == Op::Readings ? kReadingsPerSave : 0;
    }

    std::mt19937 rng;
    std::vector<MeterKeyRecord> meters;
    int nextId = 0, version = 0, readings = 0;
};

// The tables of the first saves of readings, made before the child is forked so that its
// time goes into saving them.
const TextGrid& readingsTable(int first)
{
    static std::map<int, TextGrid> made;
    if (!made.count(first)) {
        MeterTable t;
        for (int i = 0; i < kReadingsPerSave; ++i) {
            const int r = i == 0 ? 1 : t.appendRow();
            for (int c = 0; c < t.columnCount(); ++c)
                t.setCell(r, c, cellOf(first + i, c));
            t.setCell(r, col::Date, "06.12.2026");
        }
        made.emplace(first, t.grid());
    }
    return made.at(first);
}

void perform(const Op& op, int readingsBefore, const fs::path& folder)
{
    NullLog log;
    FixedFormats formats;
    MetersFile meters(folder, log);
    MeterTable table;
    std::vector<std::string> ids;
    for (const MeterKeyRecord& m : op.meters) {
        ids.push_back(m.id);
        const int r = ids.size() == 1 ? 1 : table.appendRow();
        table.setCell(r, col::MeterId, m.id);
        table.setCell(r, col::EncryptionKey, m.key);
    }
    switch (op.kind) {
    case Op::Update: meters.SaveMeter(op.meters[0].id, op.meters[0].key); break;
    case Op::Delete: meters.DeleteMeter(ids[0]); break;
    case Op::AddMany: meters.SaveMeters(op.meters); break;
    case Op::DeleteMany: meters.DeleteMeters(ids); break;
    case Op::ExitMeters: SaveNewMeters(meters, log, table.grid()); break;
    case Op::Readings: MeasurementFile(folder, log, formats).saveReadings(readingsTable(readingsBefore)); break;
    }
}

std::string bytesOf(const std::vector<MeterKeyRecord>& meters)
{
    std::string bytes;
    for (const MeterKeyRecord& m : meters) {
        const auto b = m.encode();
        bytes.append(b.begin(), b.end());
    }
    return bytes;
}

// What readings 0 .. n-1 are stored as, made once for every check.
const std::string& bytesOfReadings(int n)
{
    static std::string made;
    static const int columns = MeterTable().columnCount();
    while (made.size() < std::size_t(n) * MeasurementRecord::kSize) {
        const int i = static_cast<int>(made.size() / MeasurementRecord::kSize);
        MeasurementRecord r;
        for (std::size_t k = 0; k < MeasurementRecord::kFieldCount; ++k) {
            const int column = measurementColumnOfField(k);
            r.fields[k] = k == MeasurementRecord::kDateField ? "2026-12-06" : column < columns ? cellOf(i, column) : "";
        }
        const auto b = r.encode();
        made.append(b.begin(), b.end());
    }
    return made;
}

// db.mrv only grows: whole records in order, each as it was saved, a partial one only while saving.
bool readingsAreWhole(const std::string& file, int before, int after)
{
    const int whole = static_cast<int>(file.size() / MeasurementRecord::kSize);
    if (whole < before || whole > after || (file.size() % MeasurementRecord::kSize != 0 && before == after))
        return false;
    const std::string& all = bytesOfReadings(after);
    return file.compare(0, static_cast<std::size_t>(whole) * MeasurementRecord::kSize, all, 0,
                        static_cast<std::size_t>(whole) * MeasurementRecord::kSize)
        == 0;
}

TEST(CrashSafety, AKilledWriterLeavesEveryRecordItWasNotChangingIntact)
{
    auto* done = static_cast<std::atomic<int>*>(
        ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(done, MAP_FAILED);
    // Half of the kills on the disk, where a kill mostly meets the wait for the disk between
    // writing a new file and renaming it; half, where one can be mounted, in memory, where it
    // meets the writes themselves.
    test::TinyDisk memory(64 << 20);
    test::TempDir disk;
    for (int save = 0; save < 4; ++save)
        readingsTable(save * kReadingsPerSave);
    std::mt19937 timing(20260504);
    int beforeRename = 0, midReadings = 0;

    for (int kill = 0; kill < 220; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const fs::path dir = (kill % 2 && memory.mounted() ? memory.path() : disk.path()) / std::to_string(kill);
        fs::create_directories(dir);
        const Workload start(1000u + static_cast<unsigned>(kill));
        test::writeFile(dir / "meters.mrv", bytesOf(start.meters));
        test::writeFile(dir / "db.mrv", "");
        done->store(0);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (Workload w = start;; done->fetch_add(1)) {
                const Op op = w.next();
                perform(op, w.readings, dir);
                w.apply(op);
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(timing)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);

        Workload before = start;
        for (int i = done->load(); i > 0; --i)
            before.apply(before.next());
        Workload after = before;
        const Op inFlight = after.next();
        after.apply(inFlight);

        // The meters file before the change or after it, or for an append any part of the new records.
        const std::string meters = test::readFile(dir / "meters.mrv");
        const std::string old = bytesOf(before.meters), changed = bytesOf(after.meters);
        const bool appending = inFlight.kind == Op::AddMany || inFlight.kind == Op::ExitMeters;
        EXPECT_TRUE(meters == old || meters == changed
                    || (appending && meters.size() > old.size() && changed.compare(0, meters.size(), meters) == 0))
            << "killed during change " << done->load() << " (" << inFlight.kind << ")";
        const std::string readings = test::readFile(dir / "db.mrv");
        EXPECT_TRUE(readingsAreWhole(readings, before.readings, after.readings)) << readings.size() << " bytes";
        beforeRename += fs::exists(dir / ".meters.mrv.palvero-new");
        midReadings += readings.size() > std::size_t(before.readings) * MeasurementRecord::kSize
            && readings.size() < std::size_t(after.readings) * MeasurementRecord::kSize;

        // The file goes on working, and what the kill left beside it goes.
        NullLog log;
        MetersFile file(dir, log);
        EXPECT_EQ(file.SaveMeter("99999999", "K"), MetersFile::MeterAdded);
        EXPECT_TRUE(file.DeleteMeter("99999999"));
        EXPECT_FALSE(fs::exists(dir / ".meters.mrv.palvero-new"));
        fs::remove_all(dir);
    }
    ::munmap(done, sizeof(std::atomic<int>));
    std::cout << "killed 220 times" << (memory.mounted() ? ", half of them on tmpfs" : "") << ": " << beforeRename
              << " times with a new meters file written but not yet renamed, " << midReadings
              << " times in the middle of a save of readings\n";
}

} // namespace
} // namespace palvero
