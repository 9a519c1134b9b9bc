// The central database's figures: 100,000 readings from the outbox sent in batches to a
// PostgreSQL server (readings per second, and the rows the server then holds), and what
// keeping one reading in the outbox costs a telegram. scripts/bench-central.sh starts a
// server for it; PALVERO_BENCH_PG_SOCKET names that server's socket folder.

#include "outbox.h"
#include "pg_connection.h"
#include "reading_sender.h"
#include "schema.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <unistd.h>

namespace {

using namespace palvero::central;
namespace fs = std::filesystem;

constexpr int kReadings = 100000;
constexpr char kDatabase[] = "palvero_bench";

std::string socketFolder()
{
    const char* s = std::getenv("PALVERO_BENCH_PG_SOCKET");
    return s ? s : "";
}

std::unique_ptr<PgConnection> connectTo(const std::string& database, const std::string& user,
                                        const std::string& password = "")
{
    Outcome outcome;
    auto c = PgConnection::open("host=" + socketFolder() + " dbname=" + database + " user=" + user, password, outcome);
    if (!c)
        std::cerr << "bench_central: " << outcome.detail << "\n";
    return c;
}

bool prepareDatabase()
{
    static int prepared = -1;
    if (prepared >= 0)
        return prepared == 1;
    prepared = 0;
    auto admin = connectTo("postgres", "palvero_admin");
    if (!admin)
        return false;
    admin->exec(std::string("DROP DATABASE IF EXISTS ") + kDatabase);
    admin->exec(std::string("CREATE DATABASE ") + kDatabase);
    auto db = connectTo(kDatabase, "palvero_admin");
    std::vector<std::string> applied;
    Outcome outcome;
    if (!db || !upgradeSchema(*db, applied, outcome))
        return false;
    db->exec("DROP ROLE IF EXISTS bench_operator");
    db->exec("CREATE ROLE bench_operator LOGIN PASSWORD 'bench' IN ROLE palvero_operator");
    db->exec("INSERT INTO operators (name) VALUES ('bench_operator') ON CONFLICT DO NOTHING");
    prepared = 1;
    return true;
}

OutboxReading reading(int i)
{
    OutboxReading r;
    r.id = newReadingId();
    r.heardAt = "2026-05-04T09:30:00.000Z";
    r.laptop = "laptop-7";
    r.meterId = std::to_string(10000000 + i % 10000);
    r.manufacturer = "KAM";
    r.medium = "Water";
    r.rssi = "-71";
    r.mainValue = std::to_string(i) + ",125";
    r.unit = "m3";
    r.additional = {"1,000 m3", "04.05.2026"};
    r.decrypted = true;
    // A receiver frame of a usual size.
    r.telegram.assign(60, 0x2F);
    r.telegram[0] = 0x68;
    r.telegram.back() = 0x16;
    return r;
}

void BM_SendReadings(benchmark::State& state)
{
    if (socketFolder().empty() || !prepareDatabase()) {
        state.SkipWithError("no PostgreSQL server: run scripts/bench-central.sh");
        return;
    }
    const fs::path folder = fs::temp_directory_path() / ("palvero-bench-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    long rows = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto admin = connectTo(kDatabase, "palvero_admin");
        admin->exec("TRUNCATE readings");
        {
            std::ofstream out(folder / kOutboxFileName, std::ios::binary | std::ios::trunc);
            for (int i = 0; i < kReadings; ++i)
                out << Outbox::encode(reading(i)) << '\n';
        }
        Outbox outbox(folder);
        std::string error;
        outbox.load(error);
        auto db = connectTo(kDatabase, "bench_operator", "bench");
        state.ResumeTiming();

        ReadingSender sender(*db, outbox, palvero::CodePage::Windows1252, static_cast<int>(state.range(0)));
        Outcome outcome;
        bool ok = sender.begin(outcome);
        while (ok && !sender.done())
            ok = sender.step(outcome);
        ok = sender.finish(outcome) && ok;

        state.PauseTiming();
        if (!ok) {
            state.SkipWithError(outcome.detail.c_str());
            break;
        }
        rows = std::stol(admin->exec("SELECT count(*) FROM readings").text(0, 0));
        state.ResumeTiming();
    }
    fs::remove_all(folder);
    state.counters["readings_per_s"] = benchmark::Counter(double(kReadings), benchmark::Counter::kIsIterationInvariantRate);
    state.counters["server_rows"] = double(rows);
}
BENCHMARK(BM_SendReadings)->Arg(100)->Arg(500)->Arg(2000)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

// One reading into the outbox, on the disk before the call returns: what each telegram
// costs the reading while a central database is set.
void BM_OutboxAdd(benchmark::State& state)
{
    const fs::path folder = fs::temp_directory_path() / ("palvero-bench-add-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    Outbox outbox(folder);
    const OutboxReading r = reading(1);
    for (auto _ : state)
        if (const palvero::WriteOutcome added = outbox.add(r); !added)
            state.SkipWithError(added.error.c_str());
    fs::remove_all(folder);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_OutboxAdd)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
