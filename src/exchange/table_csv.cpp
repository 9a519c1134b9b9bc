#include "table_csv.h"

#include "csv.h"
#include "receiver_frame.h"
#include "table_ops.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <fstream>
#include <utility>

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
    text += csvCell(cell, separator);
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
        const FileDialogSpec spec{kTableExportTitle, kExportDialogFilter, kExportDialogExtension, folder.string(), {}};
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

namespace {

// Puts the fields of one line into a row of the imported rows.
void fillRow(TextGrid& rows, int r, const std::vector<std::string>& fields, const TemplateColumns* columns,
             bool simple)
{
    const int fieldCount = static_cast<int>(fields.size());
    if (columns) {
        for (int j = 0; j < fieldCount && j < columns->count; ++j) {
            const int code = columns->types[static_cast<std::size_t>(j)];
            if (code >= 1 && code <= columntype::ImportCount)
                rows.setCell(r, TemplateColumnToTableColumn(code), fields[static_cast<std::size_t>(j)]);
        }
    } else if (simple) {
        static constexpr int kSimpleColumns[] = {col::FreeText, col::MeterId, col::Medium};
        for (int j = 0; j < fieldCount && j < 3; ++j)
            rows.setCell(r, kSimpleColumns[j], fields[static_cast<std::size_t>(j)]);
    } else {
        // Field j goes to column j - 1: the file's first field is "No.".
        for (int j = 0; j < fieldCount && j < rows.columnCount(); ++j)
            rows.setCell(r, j, fields[static_cast<std::size_t>(j)]);
    }
}

std::string quotedSeparator(const std::string& separator, CodePage page)
{
    return "\"" + codePageToUtf8(separator, page) + "\"";
}

void showFileError(const std::string& error, Operator& op, ErrorLogger& log)
{
    op.showMessage(kImportFileErrorCaption, kWrongImportFileText, MessageIcon::Warning);
    log.LogErrorCode(logcode::CsvImport);
    log.LogErrorText(error);
}

} // namespace

TableCsvRows readTableCsv(ByteSource& source, const TemplateColumns* columns, const TableCsvOptions& options,
                          int columnCount, const ImportProgress& progress)
{
    using Outcome = TableCsvRows::Outcome;
    TableCsvRows out;
    CsvReadRules rules;
    rules.separator = options.separator;
    rules.codePage = options.codePage;
    rules.maxSeparators = kTableMaxSeparators;
    CsvReader reader(source, rules, progress);
    out.rows = TextGrid(1, columnCount);
    bool anyText = false;
    CsvRecord record;
    for (;;) {
        const CsvReader::Next next = reader.next(record);
        if (next == CsvReader::Next::End)
            break;
        if (next != CsvReader::Next::Record) {
            out.outcome = stoppedOutcome<Outcome>(next);
            out.error = reader.error();
            out.rows = TextGrid();
            return out;
        }
        if (record.tooMany) {
            out.outcome = Outcome::TooManyData;
            out.line = record.line;
            out.rows = TextGrid();
            return out;
        }
        std::string problem = recordProblem(record, options.codePage);
        if (problem.empty() && record.separators == 0)
            problem = "no separator " + quotedSeparator(options.separator, options.codePage);
        if (!problem.empty()) {
            out.skipped.add(record.line, std::move(problem));
            continue;
        }
        if (out.rows.rowCount() > kMaxImportRows) {
            out.outcome = Outcome::TooManyRows;
            out.rows = TextGrid();
            return out;
        }
        out.rows.appendRow();
        const int r = out.rows.rowCount() - 1;
        out.rows.setCell(r, col::No, std::to_string(r));
        fillRow(out.rows, r, record.fields, columns, options.simple);
        for (const std::string& field : record.fields)
            anyText = anyText || !field.empty();
    }
    if (out.rows.rowCount() == 1) {
        out.outcome = out.skipped.empty() ? Outcome::Empty : Outcome::NoFields;
    } else if (!anyText) {
        out.outcome = Outcome::NoFields;
    } else {
        out.outcome = Outcome::Read;
        out.rows.appendRow(); // the empty row after the imported ones
        return out;
    }
    out.rows = TextGrid();
    return out;
}

std::string utf16RefusedText(const std::filesystem::path& file)
{
    return file.filename().string()
        + " is a UTF-16 text file, which the import does not read.\nSave it as CSV (UTF-8, or the code page set in "
          "Tools->Settings) and import it again.";
}

std::string noFieldsText(const std::filesystem::path& file, const std::string& separator, CodePage page)
{
    return "No line of " + file.filename().string() + " holds a field divided by the export separator "
        + quotedSeparator(separator, page)
        + ".\nNothing was imported. Check the separator in Tools->Settings (Export separator:) and import again.";
}

TableCsvResult ImportTableCsv(MeterTable& table, const std::string& chosenName, const TableCsvOptions& options,
                              TemplateSource& templates, const std::filesystem::path& folder, Operator& op,
                              ErrorLogger& log, const ImportProgress& progress)
{
    using Outcome = TableCsvRows::Outcome;
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

    FileSource source(result.file);
    std::string error;
    TableCsvRows read;
    if (!source.open(error)) {
        read.outcome = Outcome::ReadError;
        read.error = error;
    } else {
        // The new rows are built aside, so that a file that cannot be imported leaves the table as it was.
        try {
            read = readTableCsv(source, chosen.none ? nullptr : &chosen.columns, options, table.columnCount(),
                                progress);
        } catch (const std::exception& e) {
            read = TableCsvRows();
            read.outcome = Outcome::ReadError;
            read.error = "Cannot import " + result.file.string() + ": " + e.what();
        }
    }
    result.status = Status::Refused;
    switch (read.outcome) {
    case Outcome::Read:
        result.status = Status::Done;
        break;
    case Outcome::Empty:
        result.status = Status::Done;
        break;
    case Outcome::ReadError:
        result.status = Status::FileError;
        showFileError(read.error, op, log);
        break;
    case Outcome::Utf16:
        op.showMessage(kImportRefusedCaption, utf16RefusedText(result.file), MessageIcon::Warning);
        break;
    case Outcome::TooManyData:
        result.status = Status::TooManyData;
        result.line = read.line;
        op.showMessage(kExchangeMessageCaption, kTooManyDataText, MessageIcon::Warning);
        break;
    case Outcome::NoFields:
        op.showMessage(kImportRefusedCaption,
                       noFieldsText(result.file, options.separator, options.codePage)
                           + (read.skipped.empty() ? "" : "\n\n" + read.skipped.text()),
                       MessageIcon::Warning);
        break;
    case Outcome::TooManyRows:
        op.showMessage(kImportRefusedCaption,
                       result.file.filename().string() + " holds more than " + std::to_string(kMaxImportRows)
                           + " rows, more than the table takes.\nNothing was imported.",
                       MessageIcon::Warning);
        break;
    case Outcome::Cancelled:
        result.status = Status::Stopped;
        break;
    }
    if (read.outcome != Outcome::Read) {
        report(table, importStatusText(result));
        return result;
    }

    table.replaceData(read.rows);
    // The flags and the last read row belonged to the meters that were replaced.
    for (RowFlag f : {RowFlag::LowBattery, RowFlag::Decrypted, RowFlag::Repeated, RowFlag::MrvTest,
                      RowFlag::MrvProcess, RowFlag::MrvDone})
        table.clearFlag(f);
    table.lastReadRow = 0;
    if (table.selectedRow >= table.rowCount())
        table.selectedRow = 1;
    table.notifyTableRebuilt();
    result.rows = read.rows.rowCount() - 2;
    result.skipped = std::move(read.skipped);
    report(table, importStatusText(result));
    if (!result.skipped.empty())
        op.showMessage(kExchangeMessageCaption,
                       rowsText(result.rows) + " read from " + result.file.filename().string() + "; "
                           + std::to_string(result.skipped.total)
                           + (result.skipped.total == 1 ? " line gives no row:\n" : " lines give no row:\n")
                           + result.skipped.text(),
                       MessageIcon::Warning);
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
    case Status::Refused:
    case Status::Stopped:
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
            + (result.templateNotFound ? " (no template of that name: read without one)" : "")
            + (result.skipped.empty() ? ""
                                      : ", " + std::to_string(result.skipped.total)
                                            + (result.skipped.total == 1 ? " line skipped" : " lines skipped"));
    case Status::NoTemplateFile:
        return "Nothing read: the template file " + std::string(kTemplateFileName) + " is missing";
    case Status::TemplateError:
        return "Nothing read: the templates cannot be read";
    case Status::FileError:
        return "Nothing read: " + result.file.string() + " cannot be read, the table is unchanged";
    case Status::TooManyData:
        return "Nothing read from " + result.file.string() + ": line " + std::to_string(result.line)
            + " has too many fields, the table is unchanged";
    case Status::Refused:
        return "Nothing read from " + result.file.string() + ", the table is unchanged";
    case Status::Stopped:
        return "Import cancelled, the table is unchanged";
    case Status::Cancelled:
        break;
    }
    return {};
}

} // namespace palvero
