// Figures for the CSV exchange of the meter table: a plain export and a plain import of
// a table of ten thousand meters with every column filled as a reading fills it.
#include "table_csv.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace {

using namespace palvero;

constexpr int kMeters = 10000;
constexpr int kAdditionalValues = 3;

struct FixedAnswers : Operator {
    std::string file;
    void showMessage(const std::string&, const std::string&, MessageIcon) override {}
    bool askYesNo(const std::string&, const std::string&, MessageIcon) override { return false; }
    std::optional<std::string> askSaveFile(const FileDialogSpec&) override { return file; }
    std::optional<std::string> askOpenFile(const FileDialogSpec&) override { return file; }
};

struct NoTemplates : TemplateSource {
    TemplateLookup findTemplate(const std::string&) override { return {}; }
};

struct NoLog : ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

void fillWalk(MeterTable& t)
{
    char id[16];
    for (int i = 1; i <= kMeters; ++i) {
        const int r = i == 1 ? 1 : t.appendRow();
        std::snprintf(id, sizeof id, "%08d", 10000000 + i);
        t.setCell(r, col::No, std::to_string(r));
        t.setCell(r, col::MeterId, id);
        t.setCell(r, col::Mfr, "KAM");
        t.setCell(r, col::ControlFields, "L=0x2E, C=0x44, Status=0x00");
        t.setCell(r, col::Medium, i % 3 ? "Water" : "Heat");
        t.setCell(r, col::MainValue, std::to_string(i % 9973) + ".125");
        t.setCell(r, col::Units, "m3");
        t.setCell(r, col::Rssi, "-71");
        t.setCell(r, col::Time, "14:03:22");
        t.setCell(r, col::Date, "06.12.2026");
        t.setCell(r, col::Notes, "Encrypted AES-128 mode 5, decrypted");
        t.setCell(r, col::FullTelegram, "N/A");
        t.setCell(r, col::FirmwareVersion, "1");
        t.setCell(r, col::EncryptionKey, "000102030405060708090A0B0C0D0E0F");
        t.setCell(r, col::FreeText, "Building 4, flat " + std::to_string(i));
        for (int c = 0; c < kAdditionalValues; ++c)
            t.setCell(r, col::FirstAdditional + c, std::to_string(i * (c + 2)) + ".000 m3");
    }
}

std::filesystem::path benchFile()
{
    return std::filesystem::temp_directory_path() / ("palvero-bench-" + std::to_string(::getpid()) + ".csv");
}

void BM_ExportTableCsvPlain(benchmark::State& state)
{
    MeterTable table(kAdditionalValues);
    fillWalk(table);
    FixedAnswers op;
    op.file = benchFile().string();
    NoTemplates templates;
    NoLog log;
    for (auto _ : state) {
        const TableCsvResult r = ExportTableCsv(table, kNoTemplateName, {}, templates, "/", op, log);
        if (r.rows != kMeters)
            state.SkipWithError("export failed");
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(op.file));
    std::filesystem::remove(op.file);
}
BENCHMARK(BM_ExportTableCsvPlain)->Unit(benchmark::kMillisecond);

void BM_ImportTableCsvPlain(benchmark::State& state)
{
    FixedAnswers op;
    op.file = benchFile().string();
    NoTemplates templates;
    NoLog log;
    {
        MeterTable walk(kAdditionalValues);
        fillWalk(walk);
        ExportTableCsv(walk, kNoTemplateName, {}, templates, "/", op, log);
    }
    MeterTable table(kAdditionalValues);
    for (auto _ : state) {
        const TableCsvResult r = ImportTableCsv(table, kNoTemplateName, {}, templates, "/", op, log);
        if (r.rows != kMeters)
            state.SkipWithError("import failed");
    }
    std::filesystem::remove(op.file);
}
BENCHMARK(BM_ImportTableCsvPlain)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
