// Settings files and data files from older versions or other hands, and CSV files to
// import: the INI form, the fixed records of meters.mrv, db.mrv and tmplates.dat, captures
// and the import readers are read without trusting a byte of them.
#include "capture_file.h"
#include "error_log.h"
#include "import_readers.h"
#include "ini_document.h"
#include "measurement_file.h"
#include "measurement_report.h"
#include "meters_file.h"
#include "settings.h"
#include "settings_file.h"
#include "template_file.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include <signal.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

constexpr char kFolderPrefix[] = "palvero-fuzz-files-";

// The readers take files: each input is written to one folder of this process, in memory
// where there is a file system for it (a file written to a disk per input would set the
// pace). The fuzzer ends without running exit handlers, so the folders of runs that are
// over are removed when the next one starts.
const fs::path& folder()
{
    static const fs::path made = [] {
        std::error_code ec;
        const fs::path base = fs::is_directory("/dev/shm", ec) ? fs::path("/dev/shm") : fs::temp_directory_path();
        for (const auto& entry : fs::directory_iterator(base, ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind(kFolderPrefix, 0) != 0)
                continue;
            const long pid = std::atol(name.c_str() + sizeof kFolderPrefix - 1);
            if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                fs::remove_all(entry.path(), ec);
        }
        const fs::path p = base / (kFolderPrefix + std::to_string(::getpid()));
        fs::create_directories(p / "template");
        return p;
    }();
    return made;
}

void writeInput(const fs::path& path, const uint8_t* data, size_t size)
{
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        __builtin_trap();
    if (size > 0 && std::fwrite(data, 1, size, f) != size)
        __builtin_trap();
    std::fclose(f);
}

struct NullLog : palvero::ErrorLogger {
    void LogErrorCode(int) override {}
    void LogErrorText(const std::string&) override {}
};

void readMeasurements(const fs::path& db)
{
    NullLog log;
    palvero::FixedFormats formats;
    for (const auto& record : palvero::MeasurementFile(folder(), log, formats).ReadAll()) {
        const auto again = palvero::MeasurementRecord::decode(record.encode().data());
        if (!(again == record))
            __builtin_trap();
        (void)palvero::ParseStoredDate(record.fields[palvero::MeasurementRecord::kDateField]);
    }
    // A report over every day there is, a few records at a time.
    palvero::ReportScan scan(db, {1, 1, 1}, {9999, 12, 31}, formats);
    palvero::ReportRows rows;
    if (!scan.open().ok())
        return;
    while (scan.next(rows, 3) == palvero::ReportScan::Step::More) {
    }
    if (scan.skipped().size() > palvero::ReportScan::kSkippedNamed || scan.skippedCount() < scan.skipped().size())
        __builtin_trap();
    for (int r = 0; r < rows.count(); ++r)
        for (int c = 0; c < palvero::ReportRows::kColumns; ++c)
            if (rows.cell(r, c).size() > palvero::MeasurementRecord::kFieldCapacity)
                __builtin_trap();
}

void readTemplates()
{
    palvero::TemplateFile templates(folder() / "template");
    std::vector<palvero::TemplateRecord> records;
    (void)templates.ReadAll(records);
    for (const auto& r : records) {
        const palvero::TemplateColumns columns = r.columns();
        if (columns.count < 0 || columns.count > palvero::columntype::MaxColumns || r.name.size() > 32)
            __builtin_trap();
        const auto back = palvero::TemplateRecord::decode(r.encode().data());
        if (back.name != r.name || back.columnTypes != r.columnTypes)
            __builtin_trap();
    }
    if (!records.empty())
        (void)templates.findTemplate(records.front().name);
}

void readCapture(const fs::path& path, palvero::CaptureReader::Kind kind, size_t chunk)
{
    palvero::CaptureReader reader;
    std::string error;
    if (!reader.open(path, kind, chunk, error))
        return;
    std::vector<uint8_t> event;
    while (reader.next(event)) {
        if (event.empty() || event.size() > palvero::kMaxCaptureEvent || reader.position() > reader.size())
            __builtin_trap();
        if (reader.hasTimes())
            (void)reader.stamp().localTime();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view text(reinterpret_cast<const char*>(data), size);
    palvero::IniDocument doc(text);
    palvero::Settings settings;
    palvero::loadSettings(settings, doc);
    doc.setValue("Com port", "Speed", "9600");
    doc.setValue("New section", "Key", "1");
    (void)doc.text();

    for (size_t at = 0; at + palvero::MeterKeyRecord::kSize <= size; at += palvero::MeterKeyRecord::kSize) {
        auto record = palvero::MeterKeyRecord::decode(data + at);
        auto again = palvero::MeterKeyRecord::decode(record.encode().data());
        if (!(again == record))
            __builtin_trap();
    }

    const fs::path db = folder() / palvero::kMeasurementFileName;
    writeInput(db, data, size);
    writeInput(folder() / "template" / palvero::kTemplateFileName, data, size);
    readMeasurements(db);
    readTemplates();
    palvero::CaptureReader::detect(db);
    for (auto kind : {palvero::CaptureReader::Kind::Raw, palvero::CaptureReader::Kind::Hex})
        for (size_t chunk : {size_t(0), size_t(7)})
            readCapture(db, kind, chunk);

    fuzzImportReaders(data, size);
    return 0;
}
