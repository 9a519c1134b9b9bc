#pragma once

#include "code_page.h"
#include "csv_reader.h"
#include "error_logger.h"
#include "meter_table.h"
#include "operator.h"
#include "template_source.h"

#include <filesystem>
#include <string>

namespace palvero {

// The template choice that means "no template": the file holds the table as it is.
inline constexpr char kNoTemplateName[] = "<None>";

inline constexpr char kImportDialogTitle[] = "Open meter file (ID and key)";
inline constexpr char kImportDialogFilter[] = "CSV files|*.csv|TXT files|*.txt";
inline constexpr char kImportDialogExtension[] = "CSV";
inline constexpr char kImportFileErrorCaption[] = "File Error";
inline constexpr char kWrongImportFileText[] = "You chose wrong file for import!\nContact administrator!";
// Caption of the plain messages of the exchange (the program's own name).
inline constexpr char kExchangeMessageCaption[] = "Palvero";
// Caption of the box that says why a file was read but nothing of it imported.
inline constexpr char kImportRefusedCaption[] = "Error import";
// A table import of more rows than this is refused: the table stays usable.
inline constexpr int kMaxImportRows = 200000;

// The meter-table column a template column type stands for; -1 for a code that names
// none (255, 0, 17 ...).
int TemplateColumnToTableColumn(int code);

// What the export and import read from the settings, at the moment they run.
struct TableCsvOptions {
    std::string separator = ";"; // ExportSeparator
    bool simple = false;         // SimpleExport: "Simple import/export"
    CodePage codePage = CodePage::Windows1252; // CodePage: what a UTF-8 file is converted into
};

// What an export or import did, for the status bar.
struct TableCsvResult {
    enum class Status {
        Done,           // `rows` rows written or read
        Cancelled,      // the operator chose no file
        NoTemplateFile, // a template was chosen but tmplates.dat is missing
        TemplateError,  // tmplates.dat could not be read (logged)
        FileError,      // the CSV file could not be written or read (shown and logged)
        TooManyData,    // a line holds too many separators (shown); the table is unchanged
        Refused,        // read, but it gives no rows to import (shown); the table is unchanged
        Stopped,        // the operator cancelled the reading; the table is unchanged
    };
    Status status = Status::Cancelled;
    int rows = 0;
    std::filesystem::path file;
    bool templateNotFound = false; // a name that matches no template was chosen
    int line = 0;                  // TooManyData: the offending line, from 1
    ImportSkips skipped;           // Done: lines that gave no row, and why
};

// The rows of a table CSV file, read aside from the table: row L + 1 of `rows` is the L-th
// line that holds a separator, with "No." = its row number, then one empty row; a line
// without a separator, with a field that no cell takes (longer than 4096 bytes) or, in a
// UTF-8 file, with a character the code page cannot hold, gives no row and is named in
// `skipped`. `columns` is the import template, or none for "<None>".
struct TableCsvRows {
    enum class Outcome {
        Read,        // rows to import
        Empty,       // the file holds no line at all
        ReadError,   // `error` says why
        Utf16,       // a UTF-16 file, which is not read
        TooManyData, // `line` reached the separator maximum
        NoFields,    // no line gives a field that is not empty: the wrong separator, most likely
        TooManyRows, // more than kMaxImportRows rows
        Cancelled,
    };
    Outcome outcome = Outcome::Empty;
    TextGrid rows;
    int line = 0;
    ImportSkips skipped;
    std::string error;
};
TableCsvRows readTableCsv(ByteSource& source, const TemplateColumns* columns, const TableCsvOptions& options,
                          int columnCount, const ImportProgress& progress = {});

// File "Export data to CSV" and the Export button: writes every data row of the table,
// through the template named `chosenName`, or, with "<None>", as the five simple columns
// (free text, meter ID, medium, date, main value) or as every column. No header, every
// cell followed by the separator, lines ended by CR LF. A name that matches no template
// writes one empty line per row. The template is looked up before the operator is asked
// for a file, so that a missing tmplates.dat asks nothing and writes nothing. A failed
// write is shown ("Error saving file") and logged (code 40). The outcome goes to the
// status bar (panel 1) through the table's status text.
TableCsvResult ExportTableCsv(MeterTable& table, const std::string& chosenName, const TableCsvOptions& options,
                              TemplateSource& templates, const std::filesystem::path& folder, Operator& op,
                              ErrorLogger& log);

// File "Import from CSV": replaces the table's rows by the rows of a file the operator
// chooses (readTableCsv), then one empty row. Fields go through the template named
// `chosenName` (codes 1..4 only), or, with "<None>" (or a name that matches no template),
// to free text, meter ID and medium in simple mode, else field j to column j - 1. The file
// is read line by line and checked before the table is touched, so an unreadable file
// ("File Error", code 11), a file without lines, a line with 40 separators, a file that
// gives no field (named with the separator in force), a UTF-16 file, one of too many rows
// or a reading the operator cancels through `progress` leaves the table as it was. Lines
// that give no row are named in one box after the import. Control bytes in a field become
// "." as in readings. On success the row flags of all rows are cleared (they belonged to
// the replaced meters), the last read row is forgotten, and the table-rebuilt notification
// is raised. The outcome goes to the status bar (panel 1).
TableCsvResult ImportTableCsv(MeterTable& table, const std::string& chosenName, const TableCsvOptions& options,
                              TemplateSource& templates, const std::filesystem::path& folder, Operator& op,
                              ErrorLogger& log, const ImportProgress& progress = {});

// What the operator is told when a file cannot be imported as it stands (UTF-8 texts).
std::string utf16RefusedText(const std::filesystem::path& file);
std::string noFieldsText(const std::filesystem::path& file, const std::string& separator, CodePage page);

// The status bar panel and text that report an export or import; an empty text for a
// cancelled one.
inline constexpr int kExchangeStatusPanel = 1;
std::string exportStatusText(const TableCsvResult& result);
std::string importStatusText(const TableCsvResult& result);

} // namespace palvero
