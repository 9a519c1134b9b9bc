#pragma once

#include "text_grid.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace palvero {

// CSV as the program writes it: no header, every cell followed by the separator text, lines
// ended by CR LF. A cell that holds the separator, a double quote or a line end is written in
// double quotes, its double quotes doubled, as a spreadsheet writes it; every other cell is
// written as it is.
std::string csvCell(std::string_view cell, const std::string& separator);
std::string csvLine(const std::vector<std::string>& cells, const std::string& separator);

// Rows `firstRow` .. last of a grid, every column, as CSV text.
std::string gridCsvText(const TextGrid& grid, const std::string& separator, int firstRow = 1);

// Shown when one line holds as many separators as its reader allows.
inline constexpr char kTooManyDataText[] = "You are trying to import too many data!!!\nCorrect csv file and try again!";

// The readers' maxima of separators on one line.
inline constexpr int kTableMaxSeparators = 40;
inline constexpr int kMetersMaxSeparators = 20;
inline constexpr int kTemplateSampleMaxSeparators = 32;

// The fields of one CSV line, read as CsvReader reads a record: the text before each
// separator, in order; the text after the last separator is no field, so a line without a
// separator has none. Only a one-character separator divides fields (a longer one never
// matches). When the line holds `maxSeparators` separators, `tooMany` is set and `fields`
// holds the fields before the last of them.
struct CsvFields {
    std::vector<std::string> fields;
    bool tooMany = false;
};
CsvFields splitCsvLine(std::string_view line, const std::string& separator, int maxSeparators);

// The lines of a text file, ended by CR LF, LF or CR (the ends are not kept); a last
// line without an end counts. Bytes are kept as they are (single-byte text). False with
// `error` set when the file cannot be read.
bool readTextLines(const std::filesystem::path& file, std::vector<std::string>& lines, std::string& error);

// The whole file as it is. False with `error` set when it cannot be opened or a read fails
// part-way (a folder, a failing stick): never a file cut short without a word.
bool readWholeFile(const std::filesystem::path& file, std::string& bytes, std::string& error);

} // namespace palvero
