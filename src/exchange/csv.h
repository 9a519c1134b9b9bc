#pragma once

#include "text_grid.h"

#include <string>
#include <vector>

namespace palvero {

// CSV as the program writes it: no header, no quoting, every cell followed by the
// separator text, lines ended by CR LF.
std::string csvLine(const std::vector<std::string>& cells, const std::string& separator);

// Rows `firstRow` .. last of a grid, every column, as CSV text.
std::string gridCsvText(const TextGrid& grid, const std::string& separator, int firstRow = 1);

} // namespace palvero
