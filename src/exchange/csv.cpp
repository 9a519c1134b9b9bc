#include "csv.h"

#include "csv_reader.h"


namespace palvero {

std::string csvCell(std::string_view cell, const std::string& separator)
{
    const bool quoted = cell.find_first_of("\"\r\n") != std::string_view::npos
        || (!separator.empty() && cell.find(separator) != std::string_view::npos);
    if (!quoted)
        return std::string(cell);
    std::string out = "\"";
    for (char c : cell) {
        if (c == '"')
            out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string csvLine(const std::vector<std::string>& cells, const std::string& separator)
{
    std::string line;
    for (const auto& c : cells) {
        line += csvCell(c, separator);
        line += separator;
    }
    line += "\r\n";
    return line;
}

std::string gridCsvText(const TextGrid& grid, const std::string& separator, int firstRow)
{
    std::string text;
    for (int r = firstRow; r < grid.rowCount(); ++r)
        text += csvLine(grid.row(r), separator);
    return text;
}

CsvFields splitCsvLine(std::string_view line, const std::string& separator, int maxSeparators)
{
    MemorySource source(line);
    CsvReadRules rules;
    rules.separator = separator;
    rules.maxSeparators = maxSeparators;
    CsvReader reader(source, rules);
    CsvRecord record;
    CsvFields out;
    if (reader.next(record) == CsvReader::Next::Record) {
        out.fields = std::move(record.fields);
        out.tooMany = record.tooMany;
    }
    return out;
}

bool readWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& error)
{
    bytes.clear();
    FileSource source(file);
    if (!source.open(error))
        return false;
    bytes.reserve(static_cast<size_t>(source.size()));
    char buffer[1 << 16];
    for (;;) {
        size_t got = 0;
        if (!source.read(buffer, sizeof buffer, got, error)) {
            bytes.clear();
            return false;
        }
        if (got == 0)
            return true;
        bytes.append(buffer, got);
    }
}

bool readTextLines(const std::filesystem::path& file, std::vector<std::string>& lines, std::string& error)
{
    lines.clear();
    std::string text;
    if (!readWholeFile(file, text, error))
        return false;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n')
            continue;
        lines.emplace_back(text, start, i - start);
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < text.size())
        lines.emplace_back(text, start);
    return true;
}

} // namespace palvero
