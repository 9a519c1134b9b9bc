#pragma once

#include "central_outcome.h"
#include "code_page.h"

#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace palvero {
class Formats;
}

namespace palvero::central {

class PgConnection;

// A day as YYYY-MM-DD; nothing for any other text or an impossible date.
struct Day {
    int year = 0, month = 0, day = 0;
    std::string text() const;
    // Local midnight at the start of the day, as seconds since the epoch.
    std::time_t start() const;
    Day next() const;
};
std::optional<Day> parseDay(const std::string& text);
Day today();

// `routes import`: lines of route, operator, day, meter ID and, optionally, the key and
// the address or a free text, separated by `separator`. A route (by name and day) in the file
// is replaced as a whole, its meters in the file's order; meters are added or get the key
// and address of the file. Short meter IDs get their leading zeros back (a spreadsheet
// drops them). A file that is not UTF-8 is single-byte text in `page`. Nothing is imported
// when any line is wrong: `errors` names each one.
struct RoutesImport {
    int lines = 0;
    int routes = 0;
    int meters = 0;
    std::vector<std::string> errors;
};
bool importRoutes(PgConnection& db, const std::filesystem::path& csv, const std::string& separator, CodePage page,
                  RoutesImport& result, Outcome& outcome);

// `progress DAY`: per route of the day, the meters read that day (a decrypted or plain
// telegram with a main value, by anyone) and the unread ones with the last time heard.
struct UnreadMeter {
    std::string meterId;
    std::string address;
    std::optional<std::time_t> lastHeard;
};
struct RouteProgressReport {
    std::string name;
    std::string operatorName;
    int meters = 0;
    int read = 0;
    std::vector<UnreadMeter> unread;
};
bool routeProgress(PgConnection& db, const Day& day, std::vector<RouteProgressReport>& routes, Outcome& outcome);
// The report as text, times in the locale's form: "Route North (anna): read 3 of 5".
std::string progressText(const Day& day, const std::vector<RouteProgressReport>& routes, const Formats& formats);

// `export FROM TO FILE`: the readings heard on the days FROM to TO, in the order heard, as
// the program's plain CSV export writes the meter table (every column, each cell followed
// by the separator, CR LF), its texts in `page`. Keys are left out. `replaced` counts
// characters of shown texts (values, units, the address) that `page` lacks and that were
// written as "?"; a reading whose meter ID holds one is left out and counted in `leftOut`,
// since an ID that reads differently would be another meter.
struct ReadingsExport {
    int rows = 0;
    int replaced = 0;
    int leftOut = 0;
};
bool exportReadings(PgConnection& db, const Day& from, const Day& to, const std::filesystem::path& file,
                    const std::string& separator, CodePage page, const Formats& formats, ReadingsExport& result,
                    Outcome& outcome);

// `operator add NAME [FULL NAME]`: a login role in palvero_operator and its operators row.
bool addOperator(PgConnection& db, const std::string& name, const std::string& fullName, Outcome& outcome);

} // namespace palvero::central
