#include "table_csv.h"

#include "csv.h"
#include "receiver_frame.h"
#include "table_ops.h"

#include <cerrno>
#include <cstring>

namespace palvero {

namespace {

using Status = TableCsvResult::Status;

// The template the operator chose, looked up once per command.
struct ChosenTemplate {
    bool none = true; // "<None>": the table as it is, or the simple columns
    TemplateColumns columns;
    TemplateLookup::Status status = TemplateLookup::Status::NotFound;
    std::string error;
};

ChosenTemplate lookUp(const std::string& name, TemplateSource& templates)
{
    ChosenTemplate chosen;
    if (name == kNoTemplateName)
        return chosen;
    const TemplateLookup found = templates.findTemplate(name);
    chosen.status = found.status;
    chosen.error = found.error;
    chosen.none = false;
    chosen.columns = found.columns; // no columns when not found
    return chosen;
}

// Ends a command that cannot use the template store: a missing store silently, a
// damaged one with its error in the detailed log.
bool templateUnusable(const ChosenTemplate& chosen, TableCsvResult& result, ErrorLogger& log)
{
    if (chosen.none)
        return false;
    if (chosen.status == TemplateLookup::Status::Missing) {
        result.status = Status::NoTemplateFile;
        return true;
    }
    if (chosen.status == TemplateLookup::Status::Error) {
        log.LogErrorText(chosen.error);
        result.status = Status::TemplateError;
        return true;
    }
    return false;
}

std::filesystem::path chosenPath(const std::string& chosen, const std::filesystem::path& folder)
{
    std::filesystem::path path(chosen);
    return path.is_relative() ? folder / path : path;
}

void appendCell(std::string& text, const std::string& cell, const std::string& separator)
{
    text += cell;
    text += separator;
}

std::string exportText(const MeterTable& table, const ChosenTemplate& chosen, const TableCsvOptions& options)
{
    static constexpr int kSimpleColumns[] = {col::FreeText, col::MeterId, col::Medium, col::Date, col::MainValue};
    std::vector<int> columns;
    if (!chosen.none) {
        for (int i = 0; i < chosen.columns.count; ++i) {
            const int c = TemplateColumnToTableColumn(chosen.columns.types[static_cast<std::size_t>(i)]);
            if (c >= 0)
                columns.push_back(c);
        }
    } else if (options.simple) {
        columns.assign(std::begin(kSimpleColumns), std::end(kSimpleColumns));
    } else {
        return gridCsvText(table.grid(), options.separator);
    }
    std::string text;
    for (int r = 1; r < table.rowCount(); ++r) {
        // A column the table does not have (an "Other" beyond Count) reads as empty.
        for (int c : columns)
            appendCell(text, table.cell(r, c), options.separator);
        text += "\r\n";
    }
    return text;
}

void report(MeterTable& table, const std::string& text)
{
    if (!text.empty())
        table.notifyStatusText(kExchangeStatusPanel, text);
}

std::string rowsText(int rows)
{
    return std::to_string(rows) + (rows == 1 ? " row" : " rows");
}

} // namespace

int TemplateColumnToTableColumn(int code)
{
    static constexpr int kColumns[] = {col::MeterId, col::EncryptionKey, col::FreeText, col::Mfr,
                                       col::MainValue, col::Units, col::Time, col::Date};
    if (code >= 1 && code <= 8)
        return kColumns[code - 1];
    if (code >= 9 && code <= columntype::Count)
        return col::FirstAdditional + code - 9;
    return -1;
}

TableCsvResult ExportTableCsv(MeterTable& table, const std::string& chosenName, const TableCsvOptions& options,
                              TemplateSource& templates, const std::filesystem::path& folder, Operator& op,
                              ErrorLogger& log)
{
    TableCsvResult result;
    const ChosenTemplate chosen = lookUp(chosenName, templates);
    if (!templateUnusable(chosen, result, log)) {
        const FileDialogSpec spec{kExportDialogTitle, kExportDialogFilter, kExportDialogExtension, folder.string(), {}};
        const std::optional<std::string> answer = op.askSaveFile(spec);
        if (answer && !answer->empty()) {
            result.file = chosenPath(*answer, folder);
            result.templateNotFound = !chosen.none && chosen.status == TemplateLookup::Status::NotFound;
            // Replaced as a whole once on the disk: a failure leaves the earlier file as it was.
            const WriteOutcome written = replaceFile(result.file, exportText(table, chosen, options));
            if (written) {
                result.status = Status::Done;
                result.rows = table.dataRowCount();
            } else {
                result.status = Status::FileError;
                op.showMessage(kErrorSavingFileCaption, exportFailureText(written), MessageIcon::Error);
                log.LogErrorCode(logcode::CsvTemplateExport);
                log.LogErrorText(written.error);
            }
        }
    }
    report(table, exportStatusText(result));
    return result;
}

TableCsvResult ImportTableCsv(MeterTable& table, const std::string& chosenName, const TableCsvOptions& options,
                              TemplateSource& templates, const std::filesystem::path& folder, Operator& op,
                              ErrorLogger& log)
{
    TableCsvResult result;
    ChosenTemplate chosen = lookUp(chosenName, templates);
    if (templateUnusable(chosen, result, log)) {
        report(table, importStatusText(result));
        return result;
    }
    if (chosen.status == TemplateLookup::Status::NotFound) {
        result.templateNotFound = !chosen.none;
        chosen.none = true; // read as the table is, like "<None>"
    }

    const FileDialogSpec spec{kImportDialogTitle, kImportDialogFilter, kImportDialogExtension, folder.string(), {}};
    const std::optional<std::string> answer = op.askOpenFile(spec);
    if (!answer || answer->empty())
        return result;
    result.file = chosenPath(*answer, folder);

    std::vector<std::string> lines;
    std::string error;
    if (!readTextLines(result.file, lines, error)) {
        result.status = Status::FileError;
        op.showMessage(kImportFileErrorCaption, kWrongImportFileText, MessageIcon::Warning);
        log.LogErrorCode(logcode::CsvImport);
        log.LogErrorText(error);
        report(table, importStatusText(result));
        return result;
    }
    result.status = Status::Done;
    if (lines.empty()) {
        report(table, importStatusText(result));
        return result;
    }

    // The new rows are built aside, so that a bad line leaves the table as it was.
    const int lineCount = static_cast<int>(lines.size());
    TextGrid rows(lineCount + 2, table.columnCount());
    for (int l = 1; l <= lineCount; ++l) {
        std::string& line = lines[static_cast<std::size_t>(l - 1)];
        CsvFields split = splitCsvLine(line, options.separator, kTableMaxSeparators);
        if (split.tooMany) {
            result.status = Status::TooManyData;
            result.line = l;
            op.showMessage(kExchangeMessageCaption, kTooManyDataText, MessageIcon::Warning);
            report(table, importStatusText(result));
            return result;
        }
        std::string().swap(line); // the text is in the fields now
        rows.setCell(l, col::No, std::to_string(l));
        std::vector<std::string> fields = std::move(split.fields);
        // Control bytes show as "." in cells, as they do in readings.
        for (std::string& field : fields)
            for (char& ch : field)
                ch = printableCellChar(static_cast<std::uint8_t>(ch));
        const int fieldCount = static_cast<int>(fields.size());
        if (!chosen.none) {
            for (int j = 0; j < fieldCount && j < chosen.columns.count; ++j) {
                const int code = chosen.columns.types[static_cast<std::size_t>(j)];
                if (code >= 1 && code <= columntype::ImportCount)
                    rows.setCell(l, TemplateColumnToTableColumn(code), fields[static_cast<std::size_t>(j)]);
            }
        } else if (options.simple) {
            static constexpr int kSimpleColumns[] = {col::FreeText, col::MeterId, col::Medium};
            for (int j = 0; j < fieldCount && j < 3; ++j)
                rows.setCell(l, kSimpleColumns[j], fields[static_cast<std::size_t>(j)]);
        } else {
            // Field j goes to column j - 1: the file's first field is "No.".
            for (int j = 0; j < fieldCount && j < rows.columnCount(); ++j)
                rows.setCell(l, j, fields[static_cast<std::size_t>(j)]);
        }
    }

    table.replaceData(rows);
    // The flags and the last read row belonged to the meters that were replaced.
    for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                      RowFlag::MrvProcess, RowFlag::MrvDone})
        table.clearFlag(f);
    table.lastReadRow = 0;
    if (table.selectedRow >= table.rowCount())
        table.selectedRow = 1;
    table.notifyTableRebuilt();
    result.rows = lineCount;
    report(table, importStatusText(result));
    return result;
}

std::string exportStatusText(const TableCsvResult& result)
{
    switch (result.status) {
    case Status::Done:
        return rowsText(result.rows) + " written to " + result.file.string()
            + (result.templateNotFound ? " (no template of that name: the lines are empty)" : "");
    case Status::NoTemplateFile:
        return "Nothing written: the template file " + std::string(kTemplateFileName) + " is missing";
    case Status::TemplateError:
        return "Nothing written: the templates cannot be read";
    case Status::FileError:
        return "Nothing written: " + result.file.string() + " cannot be written";
    case Status::TooManyData:
    case Status::Cancelled:
        break;
    }
    return {};
}

std::string importStatusText(const TableCsvResult& result)
{
    switch (result.status) {
    case Status::Done:
        if (result.rows == 0)
            return "0 rows read from " + result.file.string() + ": the file is empty, the table is unchanged";
        return rowsText(result.rows) + " read from " + result.file.string()
            + (result.templateNotFound ? " (no template of that name: read without one)" : "");
    case Status::NoTemplateFile:
        return "Nothing read: the template file " + std::string(kTemplateFileName) + " is missing";
    case Status::TemplateError:
        return "Nothing read: the templates cannot be read";
    case Status::FileError:
        return "Nothing read: " + result.file.string() + " cannot be read, the table is unchanged";
    case Status::TooManyData:
        return "Nothing read from " + result.file.string() + ": line " + std::to_string(result.line)
            + " has too many fields, the table is unchanged";
    case Status::Cancelled:
        break;
    }
    return {};
}

} // namespace palvero
