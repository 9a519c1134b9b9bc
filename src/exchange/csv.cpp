#include "csv.h"

namespace palvero {

std::string csvLine(const std::vector<std::string>& cells, const std::string& separator)
{
    std::string line;
    for (const auto& c : cells) {
        line += c;
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

} // namespace palvero
