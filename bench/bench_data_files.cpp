// Figures for the data files now that every change waits for the disk: one meter saved into
// a meters file of ten thousand (the file written anew), ten thousand at once, the exit
// save of a walk into a measurement file of a hundred thousand readings, a whole-file
// export, and a capture's receive events. The folder is the system's temporary folder:
// what the disk takes to flush sets most of these figures.
#include "capture_file.h"
#include "measurement_file.h"
#include "meter_table.h"
#include "meters_file.h"
#include "safe_file.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

using namespace palvero;
namespace fs = std::filesystem;

struct NoLog : ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

struct Folder {
    Folder()
        : path(fs::temp_directory_path() / ("palvero-bench-" + std::to_string(::getpid())))
    {
        fs::create_directories(path);
    }
    ~Folder() { fs::remove_all(path); }
    fs::path path;
};

std::string meterId(int i)
{
    char id[16];
    std::snprintf(id, sizeof id, "%08d", 10000000 + i);
    return id;
}

void writeMeters(const fs::path& folder, int count)
{
    std::ofstream out(folder / kMetersFileName, std::ios::binary | std::ios::trunc);
    for (int i = 0; i < count; ++i) {
        const auto r = MeterKeyRecord{meterId(i), "000102030405060708090A0B0C0D0E0F"}.encode();
        out.write(reinterpret_cast<const char*>(r.data()), static_cast<std::streamsize>(r.size()));
    }
}

void BM_SaveOneMeterOfTenThousand(benchmark::State& state)
{
    Folder f;
    writeMeters(f.path, 10000);
    NoLog log;
    MetersFile meters(f.path, log);
    int n = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(meters.SaveMeter(meterId(n++ % 10000), "FFEEDDCCBBAA99887766554433221100"));
}
BENCHMARK(BM_SaveOneMeterOfTenThousand)->Unit(benchmark::kMillisecond);

void BM_SaveTenThousandMetersAtOnce(benchmark::State& state)
{
    Folder f;
    writeMeters(f.path, 10000);
    NoLog log;
    MetersFile meters(f.path, log);
    std::vector<MeterKeyRecord> all;
    for (int i = 0; i < 10000; ++i)
        all.push_back({meterId(i), "FFEEDDCCBBAA99887766554433221100"});
    for (auto _ : state)
        benchmark::DoNotOptimize(meters.SaveMeters(all));
}
BENCHMARK(BM_SaveTenThousandMetersAtOnce)->Unit(benchmark::kMillisecond);

// The exit save of a walk past range(0) meters into a file of 100,000 readings; the second
// argument 1: the walk's meters were saved last already (a save and then the exit save).
void BM_ExitSaveOfAWalk(benchmark::State& state)
{
    Folder f;
    const int meters = static_cast<int>(state.range(0));
    MeterTable t;
    for (int i = 0; i < meters; ++i) {
        const int r = i == 0 ? 1 : t.appendRow();
        t.setCell(r, col::MeterId, meterId(i));
        t.setCell(r, col::Date, "06.12.2026");
        t.setCell(r, col::Time, "14:03:22");
        t.setCell(r, col::MainValue, std::to_string(i) + ".125");
    }
    NoLog log;
    FixedFormats formats;
    MeasurementFile db(f.path, log, formats);
    std::string earlier;
    for (int i = 0; i < 100000; ++i) {
        MeasurementRecord r;
        r.fields[1] = meterId(200000 + i % 5000);
        r.fields[10] = "2026-12-05";
        const auto b = r.encode();
        earlier.append(b.begin(), b.end());
    }
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(db.path(), std::ios::binary | std::ios::trunc) << earlier;
        if (state.range(1))
            db.saveReadings(t.grid());
        state.ResumeTiming();
        benchmark::DoNotOptimize(db.saveReadings(t.grid()));
    }
}
BENCHMARK(BM_ExitSaveOfAWalk)->Args({1000, 0})->Args({1000, 1})->Args({10000, 0})->Unit(benchmark::kMillisecond);

void BM_ExportOfOneMebibyte(benchmark::State& state)
{
    Folder f;
    const std::string content(1 << 20, 'x');
    for (auto _ : state)
        benchmark::DoNotOptimize(replaceFile(f.path / "meters.csv", content));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (1 << 20));
}
BENCHMARK(BM_ExportOfOneMebibyte)->Unit(benchmark::kMillisecond);

void BM_CaptureEvent(benchmark::State& state)
{
    Folder f;
    fs::create_directories(f.path / "files");
    CaptureWriter w;
    std::string error;
    w.open(f.path / "files", {2026, 12, 6, 14, 3, 22}, error);
    const std::vector<uint8_t> event(64, 0x68);
    for (auto _ : state)
        benchmark::DoNotOptimize(w.write(event.data(), event.size(), CaptureStamp::now(), error));
}
BENCHMARK(BM_CaptureEvent)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
