// The data files when the program is killed in the middle of a change: a child process runs
// large updates, deletes and appends of meters.mrv and the readings' appends of db.mrv and is
// killed at a random moment, again and again; every time the files must read back whole, and
// every record that was not being changed must be as it was.

#include "measurement_file.h"
#include "meter_saves.h"
#include "meter_table.h"
#include "meters_file.h"
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

constexpr int kStartMeters = 2000;
// More than one block of the save, which goes to the disk a block at a time.
constexpr int kReadingsPerSave = 1100;

// A key that tells whose it is and which of its saves wrote it: a meter that ends up with
// its neighbour's key, or with half of each, shows at once.
std::string keyOf(const std::string& id, int version)
{
    std::string key = id + "-" + std::to_string(version) + "-";
    key.resize(32, 'K');
    return key;
}

// Every cell of a saved reading names the reading: a record made of two shows at once.
std::string cellOf(int reading, int column)
{
    return "r" + std::to_string(reading) + "c" + std::to_string(column);
}

struct Op {
    enum Kind { Update, Delete, Add, AddMany, SaveMany, DeleteMany, ExitMeters, Readings } kind;
    std::vector<MeterKeyRecord> meters; // what is saved, or (ids only) what is deleted
    int firstReading = 0;               // Readings: the number of the first one
};

bool appends(Op::Kind k)
{
    return k == Op::Add || k == Op::AddMany || k == Op::ExitMeters;
}

// The same sequence of changes in the child that makes them and in the parent that checks
// what they left: each change is drawn from the state the ones before it made.
struct Workload {
    explicit Workload(unsigned seed)
        : rng(seed)
    {
        for (int i = 0; i < kStartMeters; ++i)
            add(newId());
    }

    std::string newId() { return std::to_string(10000000 + nextId++); }
    void add(const std::string& id)
    {
        meters.push_back({id, keyOf(id, 0)});
        versions.push_back(0);
    }
    std::size_t pick() { return std::uniform_int_distribution<std::size_t>(0, meters.size() - 1)(rng); }

    Op next()
    {
        Op op{static_cast<Op::Kind>(std::uniform_int_distribution<int>(0, 7)(rng)), {}, 0};
        if (meters.size() < 200 && (op.kind == Op::Delete || op.kind == Op::DeleteMany))
            op.kind = Op::AddMany;
        switch (op.kind) {
        case Op::Update: {
            const std::size_t i = pick();
            op.meters.push_back({meters[i].id, keyOf(meters[i].id, versions[i] + 1)});
            break;
        }
        case Op::Delete:
            op.meters.push_back({meters[pick()].id, ""});
            break;
        case Op::Add: {
            const std::string id = newId();
            op.meters.push_back({id, keyOf(id, 0)});
            break;
        }
        case Op::AddMany:
        case Op::ExitMeters:
            for (int n = 0; n < 150; ++n) {
                const std::string id = newId();
                op.meters.push_back({id, keyOf(id, 0)});
            }
            break;
        case Op::SaveMany: // new meters and updates mixed: the file is written anew
            for (int n = 0; n < 60; ++n) {
                const std::string id = newId();
                op.meters.push_back({id, keyOf(id, 0)});
                const std::size_t i = pick();
                op.meters.push_back({meters[i].id, keyOf(meters[i].id, versions[i] + 1)});
            }
            break;
        case Op::DeleteMany: {
            std::vector<std::size_t> all(meters.size());
            for (std::size_t i = 0; i < all.size(); ++i)
                all[i] = i;
            std::shuffle(all.begin(), all.end(), rng);
            for (int n = 0; n < 40; ++n)
                op.meters.push_back({meters[all[static_cast<std::size_t>(n)]].id, ""});
            break;
        }
        case Op::Readings:
            op.firstReading = readings;
            break;
        }
        return op;
    }

    void apply(const Op& op)
    {
        for (const MeterKeyRecord& m : op.meters) {
            auto it = std::find_if(meters.begin(), meters.end(), [&](const MeterKeyRecord& r) { return r.id == m.id; });
            const auto i = static_cast<std::size_t>(it - meters.begin());
            if (op.kind == Op::Delete || op.kind == Op::DeleteMany) {
                meters.erase(it);
                versions.erase(versions.begin() + static_cast<std::ptrdiff_t>(i));
            } else if (it == meters.end()) {
                meters.push_back(m);
                versions.push_back(0);
            } else {
                it->key = m.key;
                ++versions[i];
            }
        }
        if (op.kind == Op::Readings)
            readings += kReadingsPerSave;
    }

    std::mt19937 rng;
    std::vector<MeterKeyRecord> meters;
    std::vector<int> versions;
    int nextId = 0;
    int readings = 0; // saved into db.mrv
};

// The table of one save of readings; the first few are made before the child is forked, so
// that its time goes into saving them.
const TextGrid& readingsTable(int first)
{
    static std::map<int, TextGrid> made;
    auto it = made.find(first);
    if (it != made.end())
        return it->second;
    MeterTable t;
    for (int i = 0; i < kReadingsPerSave; ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        for (int c = 0; c < t.columnCount(); ++c)
            t.setCell(r, c, cellOf(first + i, c));
        t.setCell(r, col::Date, "06.12.2026");
    }
    return made.emplace(first, t.grid()).first->second;
}

TextGrid metersTable(const std::vector<MeterKeyRecord>& meters)
{
    MeterTable t;
    for (std::size_t i = 0; i < meters.size(); ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        t.setCell(r, col::MeterId, meters[i].id);
        t.setCell(r, col::EncryptionKey, meters[i].key);
    }
    return t.grid();
}

void perform(const Op& op, const fs::path& folder)
{
    NullLog log;
    FixedFormats formats;
    MetersFile meters(folder, log);
    std::vector<std::string> ids;
    for (const MeterKeyRecord& m : op.meters)
        ids.push_back(m.id);
    switch (op.kind) {
    case Op::Update:
    case Op::Add:
        meters.SaveMeter(op.meters[0].id, op.meters[0].key);
        break;
    case Op::Delete:
        meters.DeleteMeter(op.meters[0].id);
        break;
    case Op::AddMany:
    case Op::SaveMany:
        meters.SaveMeters(op.meters);
        break;
    case Op::DeleteMany:
        meters.DeleteMeters(ids);
        break;
    case Op::ExitMeters:
        SaveNewMeters(meters, log, metersTable(op.meters));
        break;
    case Op::Readings:
        MeasurementFile(folder, log, formats).saveReadings(readingsTable(op.firstReading));
        break;
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

// What a kill during `inFlight` may leave of meters.mrv: the file before it or after it,
// and for an append any number of the new records, with a piece of the next one.
::testing::AssertionResult metersFileIsWhole(const std::string& file, const Workload& before, const Op& inFlight,
                                            const Workload& after)
{
    const std::string old = bytesOf(before.meters);
    const std::string done = bytesOf(after.meters);
    if (file == old || file == done)
        return ::testing::AssertionSuccess();
    if (appends(inFlight.kind) && file.size() > old.size() && file.size() < done.size()
        && done.compare(0, file.size(), file) == 0)
        return ::testing::AssertionSuccess();
    // Name the first record that is neither.
    for (std::size_t at = 0; at < file.size(); at += MeterKeyRecord::kSize) {
        if (old.compare(at, MeterKeyRecord::kSize, file, at, MeterKeyRecord::kSize) != 0
            && done.compare(at, MeterKeyRecord::kSize, file, at, MeterKeyRecord::kSize) != 0) {
            const MeterKeyRecord r = MeterKeyRecord::decode(reinterpret_cast<const uint8_t*>(file.data() + at));
            return ::testing::AssertionFailure() << "record " << at / MeterKeyRecord::kSize << " is " << r.id << " "
                                                 << r.key << " (" << file.size() << " bytes)";
        }
    }
    return ::testing::AssertionFailure() << "the file has " << file.size() << " bytes, before " << old.size()
                                         << ", after " << done.size();
}

// The record reading i is stored as, made once and kept for every later check.
const std::string& expectedReading(std::size_t i)
{
    static std::vector<std::string> made;
    static const int columns = MeterTable().columnCount();
    while (made.size() <= i) {
        MeasurementRecord r;
        for (std::size_t k = 0; k < MeasurementRecord::kFieldCount; ++k) {
            const int column = measurementColumnOfField(k);
            r.fields[k] = k == MeasurementRecord::kDateField ? "2026-12-06"
                : column < columns                           ? cellOf(static_cast<int>(made.size()), column)
                                                             : "";
        }
        const auto bytes = r.encode();
        made.emplace_back(bytes.begin(), bytes.end());
    }
    return made[i];
}

// db.mrv only grows: whole records in order, every one as saved, at most one partial after them.
::testing::AssertionResult readingsAreWhole(const std::string& file, int before, int after)
{
    const std::size_t whole = file.size() / MeasurementRecord::kSize;
    if (static_cast<int>(whole) < before || static_cast<int>(whole) > after)
        return ::testing::AssertionFailure() << whole << " readings, expected " << before << " to " << after;
    if (file.size() % MeasurementRecord::kSize != 0 && before == after)
        return ::testing::AssertionFailure() << "a partial record though no save was running";
    for (std::size_t i = 0; i < whole; ++i)
        if (file.compare(i * MeasurementRecord::kSize, MeasurementRecord::kSize, expectedReading(i)) != 0)
            return ::testing::AssertionFailure() << "reading " << i << " is not as it was saved";
    return ::testing::AssertionSuccess();
}

// A folder of its own for each kill, removed afterwards.
struct Folder {
    explicit Folder(fs::path p)
        : m_path(std::move(p))
    {
        fs::create_directories(m_path);
    }
    ~Folder() { fs::remove_all(m_path); }
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }
    fs::path m_path;
};

TEST(CrashSafety, AKilledWriterLeavesEveryRecordItWasNotChangingIntact)
{
    constexpr int kKills = 220;
    auto* done = static_cast<std::atomic<int>*>(
        ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(done, MAP_FAILED);
    std::mt19937 timing(20260504);
    int midAppend = 0;
    int beforeRename = 0;
    int midReadings = 0;
    // Half of the kills on the disk of the temporary folder, where a kill mostly meets the
    // wait for the disk between writing a new file and renaming it; the other half, where
    // one can be mounted, on a file system in memory, where it meets the writes themselves.
    test::TinyDisk memory(64 << 20);
    test::TempDir disk;
    for (int save = 0; save < 4; ++save)
        readingsTable(save * kReadingsPerSave);
    for (int kill = 0; kill < kKills; ++kill) {
        SCOPED_TRACE("kill " + std::to_string(kill));
        const Folder dir((kill % 2 && memory.mounted() ? memory.path() : disk.path()) / std::to_string(kill));
        // Made before the fork, so that the child starts changing the files at once.
        const Workload start(1000u + static_cast<unsigned>(kill));
        test::writeFile(dir / "meters.mrv", bytesOf(start.meters));
        test::writeFile(dir / "db.mrv", "");
        done->store(0);

        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Workload w = start;
            for (;;) {
                const Op op = w.next();
                perform(op, dir.path());
                w.apply(op);
                done->fetch_add(1);
            }
        }
        // From the very start of a change to several changes later.
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 30000)(timing)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        Workload before = start;
        for (int i = done->load(); i > 0; --i)
            before.apply(before.next());
        Workload after = before;
        const Op inFlight = after.next();
        after.apply(inFlight);

        const std::string meters = test::readFile(dir / "meters.mrv");
        ASSERT_TRUE(metersFileIsWhole(meters, before, inFlight, after)) << "during change " << done->load();
        const std::string readings = test::readFile(dir / "db.mrv");
        ASSERT_TRUE(readingsAreWhole(readings, before.readings, after.readings));
        midReadings += static_cast<int>(readings.size() / MeasurementRecord::kSize) > before.readings
            && static_cast<int>(readings.size() / MeasurementRecord::kSize) < after.readings;
        if (meters != bytesOf(before.meters) && meters != bytesOf(after.meters))
            ++midAppend;
        beforeRename += fs::exists(dir / ".meters.mrv.palvero-new");

        // The file goes on working: a meter the killed change did not touch is found with its
        // own key and can be saved again, and what the kill left beside the file goes.
        NullLog log;
        MetersFile file(dir.path(), log);
        const auto untouched = std::find_if(before.meters.begin(), before.meters.end(), [&](const MeterKeyRecord& m) {
            return std::none_of(inFlight.meters.begin(), inFlight.meters.end(),
                                [&](const MeterKeyRecord& c) { return c.id == m.id; });
        });
        ASSERT_NE(untouched, before.meters.end());
        EXPECT_EQ(file.FindMeterKey(untouched->id).key, untouched->key);
        EXPECT_EQ(file.SaveMeter(untouched->id, keyOf(untouched->id, 99)), MetersFile::MeterUpdated);
        EXPECT_FALSE(fs::exists(dir / ".meters.mrv.palvero-new"));
    }
    ::munmap(done, sizeof(std::atomic<int>));
    std::cout << "killed " << kKills << " times" << (memory.mounted() ? ", half of them on tmpfs" : "") << ": "
              << midAppend << " times in the middle of an append of meters, " << beforeRename
              << " times with the new meters file written but not yet renamed, " << midReadings
              << " times in the middle of a save of readings\n";
}

} // namespace
} // namespace palvero
