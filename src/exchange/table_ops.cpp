#include "table_ops.h"

#include "csv.h"

#include <algorithm>
#include <deque>
#include <exception>
#include <map>
#include <set>
#include <unordered_map>

namespace palvero {

namespace {

// Writes the rows of the table in `order` back into it, numbered from 1. Each row takes its
// flags and its last-read mark along: they describe the meter, not the position.
void writeBack(MeterTable& table, const std::vector<int>& order)
{
    TextGrid grid(1 + static_cast<int>(order.size()), table.columnCount());
    std::vector<uint8_t> flags;
    int lastRead = 0;
    int r = 1;
    for (int from : order) {
        for (int c = 0; c < table.columnCount(); ++c)
            grid.setCell(r, c, table.cell(from, c));
        grid.setCell(r, col::No, std::to_string(r));
        flags.push_back(table.rowFlags(from));
        if (from == table.lastReadRow)
            lastRead = r;
        ++r;
    }
    table.replaceData(grid);
    for (size_t i = 0; i < flags.size(); ++i)
        table.setRowFlags(static_cast<int>(i) + 1, flags[i]);
    table.lastReadRow = lastRead;
}

template <typename Reorder>
void reorder(MeterTable& table, ErrorLogger& log, int code, Reorder&& order)
{
    try {
        writeBack(table, order());
    } catch (const std::exception& e) {
        log.LogErrorCode(code);
        log.LogErrorText(e.what());
    }
}

// Rows whose `column` equals each key in turn, in table order; the rest after them.
std::vector<int> groupBy(const MeterTable& table, int column, const std::vector<std::string>& keys)
{
    std::unordered_map<std::string, std::vector<int>> rows;
    for (int r = 1; r < table.rowCount(); ++r)
        rows[table.cell(r, column)].push_back(r);
    std::vector<int> order;
    std::set<std::string> placed;
    for (const auto& key : keys) {
        if (!placed.insert(key).second)
            continue;
        auto it = rows.find(key);
        if (it != rows.end())
            order.insert(order.end(), it->second.begin(), it->second.end());
    }
    if (static_cast<int>(order.size()) < table.dataRowCount()) {
        for (int r = 1; r < table.rowCount(); ++r)
            if (!placed.count(table.cell(r, column)))
                order.push_back(r);
    }
    return order;
}

} // namespace

std::string exportFailureText(const WriteOutcome& outcome)
{
    return writeFailureText(outcome, "File cannot be written", kCannotWriteNoRightsText);
}

bool ExportGridCsv(const TextGrid& grid, const std::string& defaultName, const std::string& separator,
                   const std::filesystem::path& folder, Operator& op, ErrorLogger& log,
                   std::filesystem::path* written, const char* dialogTitle)
{
    return ExportRowsCsv(
        std::max(grid.rowCount() - 1, 0), [&grid](int r, std::vector<std::string>& cells) { cells = grid.row(r + 1); },
        defaultName, separator, folder, op, log, written, dialogTitle);
}

bool ExportRowsCsv(int rows, const std::function<void(int, std::vector<std::string>&)>& rowCells,
                   const std::string& defaultName, const std::string& separator, const std::filesystem::path& folder,
                   Operator& op, ErrorLogger& log, std::filesystem::path* written, const char* dialogTitle)
{
    FileDialogSpec spec{dialogTitle, kExportDialogFilter, kExportDialogExtension, folder.string(), defaultName};
    std::optional<std::string> chosen = op.askSaveFile(spec);
    if (!chosen || chosen->empty())
        return false;
    std::filesystem::path path(*chosen);
    if (path.is_relative())
        path = folder / path;
    // The rows go to a new file beside the old one, which is replaced only once they are all
    // on the disk: an export that fails half-way leaves the earlier export as it was.
    SafeFileWriter out(path);
    std::vector<std::string> cells;
    for (int r = 0; r < rows && out.outcome().ok(); ++r) {
        rowCells(r, cells);
        out.write(csvLine(cells, separator));
    }
    const WriteOutcome done = out.commit();
    if (!done) {
        op.showMessage(kErrorSavingFileCaption, exportFailureText(done), MessageIcon::Error);
        log.LogErrorCode(logcode::CsvExport);
        log.LogErrorText(done.error);
        return false;
    }
    if (written)
        *written = path;
    return true;
}

std::string RemoveTableRow(MeterTable& table, int row)
{
    if (row < 1 || row >= table.rowCount())
        return {};
    std::string meterId = table.cell(row, col::MeterId);
    if (table.dataRowCount() == 1) {
        for (int c = 0; c < table.columnCount(); ++c)
            table.setCell(1, c, "");
        for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                          RowFlag::MrvProcess, RowFlag::MrvDone})
            table.setFlag(f, 1, false);
        table.notifyRowsChanged(1, 1);
        return meterId;
    }
    table.removeRow(row);
    for (int r = 1; r < table.rowCount(); ++r)
        table.setCell(r, col::No, std::to_string(r));
    table.notifyRowsChanged(1, table.rowCount() - 1);
    if (table.lastReadRow == row)
        table.lastReadRow = 0;
    else if (table.lastReadRow > row)
        --table.lastReadRow;
    return meterId;
}

void SortByMeterId(MeterTable& table, ErrorLogger& log)
{
    reorder(table, log, logcode::SortById, [&] {
        // Each pass takes the smallest meter ID; when the last remaining row holds the
        // smallest ID it goes first, otherwise the topmost row with it.
        std::map<std::string, std::deque<int>> byId;
        std::set<int> remaining;
        std::vector<int> order, withoutId;
        for (int r = 1; r < table.rowCount(); ++r) {
            const std::string& id = table.cell(r, col::MeterId);
            if (id.empty()) {
                withoutId.push_back(r);
            } else {
                byId[id].push_back(r);
                remaining.insert(r);
            }
        }
        for (auto& [id, rows] : byId) {
            while (!rows.empty()) {
                const int last = *remaining.rbegin();
                int taken;
                if (table.cell(last, col::MeterId) == id) {
                    taken = rows.back();
                    rows.pop_back();
                } else {
                    taken = rows.front();
                    rows.pop_front();
                }
                remaining.erase(taken);
                order.push_back(taken);
            }
        }
        order.insert(order.end(), withoutId.begin(), withoutId.end());
        return order;
    });
}

void GroupByMedium(MeterTable& table, ErrorLogger& log)
{
    static const std::vector<std::string> media = {
        "Water", "Cold water", "Hot water", "Heat", "Heat/Cool", "H.C.A", "Electricity", "Gas", "Other", ""};
    reorder(table, log, logcode::GroupByMedium, [&] { return groupBy(table, col::Medium, media); });
}

void GroupByManufacturer(MeterTable& table, ErrorLogger& log)
{
    reorder(table, log, logcode::GroupByManufacturer, [&] {
        std::vector<std::string> seen;
        std::set<std::string> known;
        for (int r = 1; r < table.rowCount(); ++r)
            if (known.insert(table.cell(r, col::Mfr)).second)
                seen.push_back(table.cell(r, col::Mfr));
        return groupBy(table, col::Mfr, seen);
    });
}

} // namespace palvero
