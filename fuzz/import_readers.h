// CSV files chosen by the operator for an import: the table import plainly, simply and through
// a template, and the meters import, each over the same bytes, none trusting a byte of them.
#pragma once

#include "csv_reader.h"
#include "meter_table.h"
#include "meters_csv.h"
#include "table_csv.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

inline void fuzzImportReaders(const uint8_t* data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    // The first byte picks the separator and the code page, as the settings would.
    static const char* const kSeparators[] = {";", ",", "\t", "::", ""};
    const unsigned pick = size > 0 ? data[0] : 0;
    const std::string separator = kSeparators[pick % 5];
    const palvero::CodePage page = pick & 0x80 ? palvero::CodePage::Windows1251 : palvero::CodePage::Windows1252;

    palvero::TemplateColumns columns;
    columns.count = 6;
    columns.types = {3, 5, 1, 255, 2, 4};
    const palvero::TemplateColumns* modes[] = {nullptr, nullptr, &columns};
    for (int mode = 0; mode < 3; ++mode) {
        palvero::MemorySource source(bytes);
        palvero::TableCsvOptions options{separator, mode == 1, page};
        const palvero::TableCsvRows rows =
            palvero::readTableCsv(source, modes[mode], options, palvero::col::Fixed + 3);
        for (int r = 1; r < rows.rows.rowCount(); ++r)
            for (int c = 0; c < rows.rows.columnCount(); ++c)
                if (rows.rows.cell(r, c).size() > palvero::kMaxFieldBytes)
                    __builtin_trap();
    }
    palvero::MemorySource source(bytes);
    const palvero::MetersCsvRead meters = palvero::readMetersCsv(source, separator, page);
    for (const palvero::MetersCsvLine& m : meters.meters)
        if (m.id.size() != 8 || (m.key.size() != 0 && m.key.size() != 32))
            __builtin_trap();
}
