// CSV files chosen by the operator for an import: the table import plainly, simply and through
// a template, and the meters import, each over the same bytes, none trusting a byte of them.
#pragma once

#include "csv_reader.h"
#include "meter_table.h"
#include "meters_csv.h"
#include "table_csv.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

inline void fuzzTableImport(std::string_view bytes, const std::string& separator, palvero::CodePage page)
{
    palvero::TemplateColumns columns;
    columns.count = 6;
    columns.types = {3, 5, 1, 255, 2, 4};
    const palvero::TemplateColumns* modes[] = {nullptr, nullptr, &columns};
    for (int mode = 0; mode < 3; ++mode) {
        palvero::MemorySource source(bytes);
        const palvero::TableCsvOptions options{separator, mode == 1, page};
        const palvero::TableCsvRows read = palvero::readTableCsv(source, modes[mode], options, palvero::col::Fixed + 3);
        for (int r = 1; r < read.rows.rowCount(); ++r)
            for (int c = 0; c < read.rows.columnCount(); ++c)
                if (read.rows.cell(r, c).size() > palvero::kMaxFieldBytes)
                    __builtin_trap();
    }
}

inline void fuzzMetersImport(std::string_view bytes, const std::string& separator, palvero::CodePage page)
{
    palvero::MemorySource source(bytes);
    const palvero::MetersCsvRead read = palvero::readMetersCsv(source, separator, page);
    for (const palvero::MetersCsvLine& m : read.meters)
        if (m.id.size() != 8 || (!m.key.empty() && m.key.size() != 32))
            __builtin_trap();
}

inline void fuzzImportReaders(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The code page as the settings would give it, and the separators the seeds use.
    const palvero::CodePage page = size % 2 ? palvero::CodePage::Windows1251 : palvero::CodePage::Windows1252;
    for (const char* separator : {";", ",", "::"}) {
        fuzzTableImport(bytes, separator, page);
        fuzzMetersImport(bytes, separator, page);
    }
}
