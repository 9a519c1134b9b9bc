#pragma once

#include "error_logger.h"
#include "meter_table.h"
#include "operator.h"
#include "safe_file.h"
#include "text_grid.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace palvero {

inline constexpr char kErrorSavingFileCaption[] = "Error saving file";
inline constexpr char kCannotWriteNoRightsText[] = "File cannot be written, no rights!\nContact administrator.";
// The save dialog of the exports: one filter, a caption that names what is saved.
inline constexpr char kTableExportTitle[] = "Export table to CSV";
inline constexpr char kMetersExportTitle[] = "Export meters and keys to CSV";
inline constexpr char kReportExportTitle[] = "Export report to CSV";
inline constexpr char kUnreadExportTitle[] = "Export unread meters to CSV";
inline constexpr char kExportDialogFilter[] = "CSV|*.csv|TXT|*.txt";
inline constexpr char kExportDialogExtension[] = "csv";

// The box's text for a failed export: the one above, unless the disk is full or does not
// answer.
std::string exportFailureText(const WriteOutcome& outcome);

// Writes data rows 1 .. last of a grid (every column, an empty last row included) as CSV
// to a file the operator chooses in a dialog captioned `dialogTitle`, preset with
// `defaultName` in `folder`. Gives whether a file was written (its path in `written` when
// given); a failed write is shown and logged (code 10). The file is replaced as a whole once
// every row is on the disk: a failure leaves any earlier file of that name as it was.
bool ExportGridCsv(const TextGrid& grid, const std::string& defaultName, const std::string& separator,
                   const std::filesystem::path& folder, Operator& op, ErrorLogger& log,
                   std::filesystem::path* written = nullptr, const char* dialogTitle = kTableExportTitle);

// The same for rows that are not held as a grid (a long report): `rowCells(r, cells)` fills
// the cells of row r, r = 0 .. rows - 1, which are written as they come.
bool ExportRowsCsv(int rows, const std::function<void(int, std::vector<std::string>&)>& rowCells,
                   const std::string& defaultName, const std::string& separator, const std::filesystem::path& folder,
                   Operator& op, ErrorLogger& log, std::filesystem::path* written = nullptr,
                   const char* dialogTitle = kTableExportTitle);

// Removes data row `row` (row > 0): the rows below move up with their flags and "No." is
// renumbered 1, 2, 3 ...; the only data row is emptied and its flags cleared instead.
// Gives the removed row's meter ID, so that its node can leave the tree.
std::string RemoveTableRow(MeterTable& table, int row);

// The three re-orderings of the table. "No." is renumbered; every row takes its flags and
// the last-read mark with it. Rows that the order does not place (no meter ID, a medium outside the
// fixed list) follow in table order, so no row is lost. Failures are logged (231..233).
void SortByMeterId(MeterTable& table, ErrorLogger& log);
void GroupByMedium(MeterTable& table, ErrorLogger& log);
void GroupByManufacturer(MeterTable& table, ErrorLogger& log);

} // namespace palvero
