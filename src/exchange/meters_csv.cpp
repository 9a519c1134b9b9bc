#include "meters_csv.h"

#include "csv.h"

#include <algorithm>

namespace palvero {

namespace {

constexpr std::size_t kIdDigits = 8;
constexpr std::size_t kKeyDigits = 32;
// How much of a field a message quotes.
constexpr std::size_t kQuotedChars = 40;

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

template <typename Test>
bool allOf(const std::string& text, Test test)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), test);
}

bool isKey(const std::string& text)
{
    return text.size() == kKeyDigits && allOf(text, isHexDigit);
}

bool isFullId(const std::string& text)
{
    return text.size() == kIdDigits && allOf(text, isHexDigit);
}

std::string trimmed(const std::string& text)
{
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string quoted(const std::string& text, CodePage page)
{
    const std::string shown = text.size() > kQuotedChars ? text.substr(0, kQuotedChars) + "..." : text;
    return "\"" + codePageToUtf8(shown, page) + "\"";
}

} // namespace

MetersCsvRead readMetersCsv(ByteSource& source, const std::string& separator, CodePage page,
                            const ImportProgress& progress)
{
    using Outcome = MetersCsvRead::Outcome;
    MetersCsvRead out;
    CsvReadRules rules;
    rules.separator = separator;
    rules.codePage = page;
    rules.maxSeparators = kMetersMaxSeparators;
    rules.lastFieldCounts = true;
    CsvReader reader(source, rules, progress);
    CsvRecord record;
    bool anyLine = false;
    for (;;) {
        const CsvReader::Next next = reader.next(record);
        if (next == CsvReader::Next::End)
            break;
        if (next != CsvReader::Next::Record) {
            out.outcome = stoppedOutcome<Outcome>(next);
            out.error = reader.error();
            out.meters.clear();
            return out;
        }
        anyLine = true;
        out.anySeparator = out.anySeparator || record.separators > 0;
        if (record.tooMany) {
            out.outcome = Outcome::TooManyData;
            out.line = record.line;
            return out;
        }
        if (std::string problem = recordProblem(record, page); !problem.empty()) {
            out.skipped.add(record.line, std::move(problem));
            continue;
        }
        std::vector<std::string> fields;
        for (const std::string& f : record.fields)
            fields.push_back(trimmed(f));
        if (std::all_of(fields.begin(), fields.end(), [](const std::string& f) { return f.empty(); }))
            continue;

        // The meters window's Export writes the row number first.
        const bool exportForm = fields.size() >= 3 && allOf(fields[0], isDigit) && isFullId(fields[1])
            && (fields[2].empty() || isKey(fields[2]));
        std::string id = exportForm ? fields[1] : fields[0];
        std::string key = exportForm ? fields[2] : (fields.size() > 1 ? fields[1] : std::string());
        if (id.empty()) {
            out.skipped.add(record.line, "no meter ID");
            continue;
        }
        if (!allOf(id, isHexDigit)) {
            out.skipped.add(record.line, quoted(id, page) + " is not a meter ID");
            continue;
        }
        if (id.size() > kIdDigits) {
            out.skipped.add(record.line, "the meter ID " + quoted(id, page) + " is longer than 8 characters");
            continue;
        }
        if (!key.empty() && !isKey(key)) {
            out.skipped.add(record.line, "the key " + quoted(key, page) + " is not 32 hexadecimal digits");
            continue;
        }
        if (static_cast<int>(out.meters.size()) >= kMaxImportMeters) {
            out.outcome = Outcome::TooManyMeters;
            out.meters.clear();
            return out;
        }
        // Stored as a telegram gives it: eight digits, letters in upper case.
        for (char& c : id)
            if (c >= 'a' && c <= 'f')
                c = static_cast<char>(c - 'a' + 'A');
        id.insert(0, kIdDigits - id.size(), '0');
        out.meters.push_back({std::move(id), std::move(key), record.line});
    }
    out.outcome = anyLine ? Outcome::Read : Outcome::Empty;
    return out;
}

} // namespace palvero
