#include "office.h"

#include "cell_codec.h"
#include "csv.h"
#include "formats.h"
#include "meter_table.h"
#include "pg_connection.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>
#include <unordered_map>

namespace palvero::central {

namespace {

constexpr int kMaxAdditional = 16;

std::string trimmed(const std::string& s)
{
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

bool isHex(const std::string& s)
{
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

DateTime localTime(std::time_t t)
{
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string epochText(std::time_t t)
{
    return std::to_string(static_cast<long long>(t));
}

std::optional<std::time_t> epochOf(const PgResult& r, int row, int column)
{
    if (r.isNull(row, column))
        return std::nullopt;
    return static_cast<std::time_t>(std::stoll(r.text(row, column)));
}

bool failed(PgConnection& db, const PgResult& r, Outcome& outcome)
{
    if (r.ok())
        return false;
    outcome = db.failure(r);
    return true;
}

struct ImportLine {
    int number = 0;
    std::string route, operatorName, meterId, key, address;
    Day day;
};

// One line of the routes file checked; an error text names what is wrong.
std::optional<ImportLine> readImportLine(const std::string& text, int number, const std::string& separator,
                                         std::string& error)
{
    // The program's reader ignores text after the last separator; a spreadsheet ends its
    // lines without one.
    std::string line = text;
    if (line.size() < separator.size() || line.compare(line.size() - separator.size(), separator.size(), separator))
        line += separator;
    const CsvFields fields = splitCsvLine(line, separator, kTableMaxSeparators);
    std::vector<std::string> f;
    for (const std::string& field : fields.fields)
        f.push_back(trimmed(field));
    const std::string at = "line " + std::to_string(number) + ": ";
    if (fields.tooMany || f.size() < 4 || f.size() > 6) {
        error = at + "route, operator, day and meter ID expected, then the key and an address";
        return std::nullopt;
    }
    ImportLine l;
    l.number = number;
    l.route = f[0];
    l.operatorName = f[1];
    l.meterId = upper(f[3]);
    l.key = f.size() > 4 ? upper(f[4]) : "";
    l.address = f.size() > 5 ? f[5] : "";
    const auto day = parseDay(f[2]);
    if (l.route.empty())
        error = at + "the route has no name";
    else if (l.operatorName.empty())
        error = at + "no operator";
    else if (!day)
        error = at + "the day \"" + f[2] + "\" is not a date as YYYY-MM-DD";
    else if (l.meterId.empty() || l.meterId.size() > 8 || !isHex(l.meterId))
        error = at + "the meter ID \"" + f[3] + "\" is not up to 8 hexadecimal digits";
    else if (!l.key.empty() && (l.key.size() != 32 || !isHex(l.key)))
        error = at + "the key of meter " + l.meterId + " is not 32 hexadecimal digits";
    if (!error.empty())
        return std::nullopt;
    l.day = *day;
    l.meterId.insert(0, 8 - l.meterId.size(), '0');
    return l;
}

} // namespace

std::string Day::text() const
{
    char s[16];
    std::snprintf(s, sizeof s, "%04d-%02d-%02d", year, month, day);
    return s;
}

std::time_t Day::start() const
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

Day Day::next() const
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day + 1;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    std::mktime(&tm);
    return Day{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::optional<Day> parseDay(const std::string& text)
{
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (!std::isdigit(static_cast<unsigned char>(text[i])))
            return std::nullopt;
    Day d{std::stoi(text.substr(0, 4)), std::stoi(text.substr(5, 2)), std::stoi(text.substr(8, 2))};
    if (!isValidDate(d.year, d.month, d.day))
        return std::nullopt;
    return d;
}

Day today()
{
    const DateTime now = localTime(std::time(nullptr));
    return Day{now.year, now.month, now.day};
}

bool importRoutes(PgConnection& db, const std::filesystem::path& csv, const std::string& separator, CodePage page,
                  RoutesImport& result, Outcome& outcome)
{
    result = {};
    std::vector<std::string> lines;
    std::string error;
    if (!readTextLines(csv, lines, error)) {
        outcome = Outcome::failed(Outcome::Kind::FileError, error);
        return false;
    }
    std::string whole;
    for (const std::string& l : lines)
        whole += l;
    const bool utf8 = isUtf8(whole);
    if (!lines.empty() && lines[0].rfind("\xEF\xBB\xBF", 0) == 0)
        lines[0].erase(0, 3);

    PgResult known = db.exec("SELECT name FROM operators");
    if (failed(db, known, outcome))
        return false;
    std::set<std::string> operators;
    for (int i = 0; i < known.rows(); ++i)
        operators.insert(known.text(i, 0));

    std::vector<ImportLine> rows;
    std::map<std::pair<std::string, std::string>, std::set<std::string>> routeMeters;
    std::unordered_map<std::string, std::string> keys;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string text = utf8 ? lines[i] : databaseText(lines[i], page);
        if (trimmed(text).empty())
            continue;
        ++result.lines;
        std::string lineError;
        auto l = readImportLine(text, static_cast<int>(i + 1), separator, lineError);
        const std::string at = "line " + std::to_string(i + 1) + ": ";
        if (l && !operators.count(l->operatorName))
            lineError = at + "\"" + l->operatorName + "\" is not an operator (palvero-office operator add)";
        else if (l && !routeMeters[{l->route, l->day.text()}].insert(l->meterId).second)
            lineError = at + "meter " + l->meterId + " is on route " + l->route + " twice";
        else if (l && !keys.emplace(l->meterId, l->key).second && keys[l->meterId] != l->key)
            lineError = at + "meter " + l->meterId + " has another key on an earlier line";
        if (!lineError.empty())
            result.errors.push_back(lineError);
        else
            rows.push_back(std::move(*l));
    }
    if (!result.errors.empty()) {
        outcome = Outcome::failed(Outcome::Kind::BadInput, std::to_string(result.errors.size()) + " wrong lines");
        return false;
    }

    PgTransaction t(db);
    if (!t.begin(outcome))
        return false;
    std::map<std::pair<std::string, std::string>, std::string> routeIds;
    std::map<std::string, int> positions;
    std::set<std::string> meters;
    for (const ImportLine& l : rows) {
        const auto routeKey = std::make_pair(l.route, l.day.text());
        auto it = routeIds.find(routeKey);
        if (it == routeIds.end()) {
            PgResult route = db.exec(
                "INSERT INTO routes (name, operator_name, day) VALUES ($1, $2, $3::date)"
                " ON CONFLICT (name, day) DO UPDATE SET operator_name = EXCLUDED.operator_name RETURNING route_id",
                {l.route, l.operatorName, l.day.text()});
            if (failed(db, route, outcome))
                return false;
            it = routeIds.emplace(routeKey, route.text(0, 0)).first;
            PgResult cleared = db.exec("DELETE FROM route_meters WHERE route_id = $1", {it->second});
            if (failed(db, cleared, outcome))
                return false;
        }
        PgResult meter = db.exec(
            "INSERT INTO meters (meter_id, aes_key, address) VALUES ($1, $2, $3) ON CONFLICT (meter_id) DO UPDATE"
            " SET aes_key = EXCLUDED.aes_key,"
            " address = CASE WHEN EXCLUDED.address <> '' THEN EXCLUDED.address ELSE meters.address END",
            {l.meterId, l.key, l.address});
        if (failed(db, meter, outcome))
            return false;
        meters.insert(l.meterId);
        PgResult place = db.exec("INSERT INTO route_meters (route_id, position, meter_id) VALUES ($1, $2, $3)",
                                 {it->second, std::to_string(++positions[it->second]), l.meterId});
        if (failed(db, place, outcome))
            return false;
    }
    if (!t.commit(outcome))
        return false;
    result.routes = static_cast<int>(routeIds.size());
    result.meters = static_cast<int>(meters.size());
    outcome = {};
    return true;
}

bool routeProgress(PgConnection& db, const Day& day, std::vector<RouteProgressReport>& routes, Outcome& outcome)
{
    routes.clear();
    PgResult r = db.exec(
        "SELECT r.name, r.operator_name, m.meter_id, m.address,"
        " EXISTS (SELECT 1 FROM readings x WHERE x.meter_id = m.meter_id"
        "   AND x.heard_at >= to_timestamp($2) AND x.heard_at < to_timestamp($3)"
        "   AND x.decrypted AND x.main_value NOT IN ('', 'Exception')),"
        " (SELECT floor(extract(epoch FROM max(x.heard_at)))::bigint FROM readings x WHERE x.meter_id = m.meter_id)"
        " FROM routes r JOIN route_meters rm ON rm.route_id = r.route_id JOIN meters m ON m.meter_id = rm.meter_id"
        " WHERE r.day = $1::date ORDER BY r.name, rm.position",
        {day.text(), epochText(day.start()), epochText(day.next().start())});
    if (failed(db, r, outcome))
        return false;
    for (int i = 0; i < r.rows(); ++i) {
        if (routes.empty() || routes.back().name != r.text(i, 0))
            routes.push_back(RouteProgressReport{r.text(i, 0), r.text(i, 1), 0, 0, {}});
        RouteProgressReport& route = routes.back();
        ++route.meters;
        if (r.text(i, 4) == "t")
            ++route.read;
        else
            route.unread.push_back(UnreadMeter{r.text(i, 2), r.text(i, 3), epochOf(r, i, 5)});
    }
    outcome = {};
    return true;
}

std::string progressText(const Day& day, const std::vector<RouteProgressReport>& routes, const Formats& formats)
{
    if (routes.empty())
        return "No routes on " + day.text() + "\n";
    std::string out;
    for (const RouteProgressReport& route : routes) {
        out += "Route " + route.name + " (" + route.operatorName + ", " + day.text() + "): read "
            + std::to_string(route.read) + " of " + std::to_string(route.meters) + "\n";
        for (const UnreadMeter& m : route.unread) {
            std::string heard = "never heard";
            if (m.lastHeard) {
                const DateTime t = localTime(*m.lastHeard);
                heard = "last heard " + formats.timeText(t) + " " + formats.dateText(t);
            }
            out += "  " + m.meterId + "  " + heard + (m.address.empty() ? "" : "  " + m.address) + "\n";
        }
    }
    return out;
}

bool exportReadings(PgConnection& db, const Day& from, const Day& to, const std::filesystem::path& file,
                    const std::string& separator, CodePage page, const Formats& formats, ReadingsExport& result,
                    Outcome& outcome)
{
    result = {};
    std::string values;
    for (int k = 1; k <= kMaxAdditional; ++k)
        values += ", x.additional[" + std::to_string(k) + "]";
    constexpr int kFirstValueColumn = 10;
    PgResult r = db.exec(
        "SELECT x.meter_id, x.manufacturer, x.medium, x.main_value, x.unit, x.rssi_dbm,"
        " floor(extract(epoch FROM x.heard_at))::bigint, encode(x.telegram, 'hex'), coalesce(m.address, ''),"
        " cardinality(x.additional)" + values +
        " FROM readings x LEFT JOIN meters m ON m.meter_id = x.meter_id"
        " WHERE x.heard_at >= to_timestamp($1) AND x.heard_at < to_timestamp($2)"
        " ORDER BY x.heard_at, x.meter_id, x.reading_id",
        {epochText(from.start()), epochText(to.next().start())});
    if (failed(db, r, outcome))
        return false;

    int count = 0;
    for (int i = 0; i < r.rows(); ++i)
        count = std::max(count, std::min(kMaxAdditional, std::stoi(r.text(i, 9))));
    const int columns = col::Fixed + count;

    auto cell = [&](const std::string& utf8) { return *cellText(utf8, page, &result.replaced); };
    std::string text;
    std::vector<std::string> cells(static_cast<size_t>(columns));
    for (int i = 0; i < r.rows(); ++i) {
        const std::optional<std::string> meterId = cellText(r.text(i, 0), page);
        if (!meterId) {
            ++result.leftOut;
            continue;
        }
        std::fill(cells.begin(), cells.end(), std::string());
        const DateTime heard = localTime(static_cast<std::time_t>(std::stoll(r.text(i, 6))));
        const std::string hex = upper(r.text(i, 7));
        std::string telegram;
        for (size_t k = 0; k + 1 < hex.size(); k += 2)
            telegram += hex.substr(k, 2) + " ";
        if (!telegram.empty())
            telegram.pop_back();
        cells[col::No] = std::to_string(result.rows + 1);
        cells[col::MeterId] = *meterId;
        cells[col::Mfr] = cell(r.text(i, 1));
        cells[col::Medium] = cell(r.text(i, 2));
        cells[col::MainValue] = cell(r.text(i, 3));
        cells[col::Units] = cell(r.text(i, 4));
        cells[col::Rssi] = r.text(i, 5);
        cells[col::Time] = formats.timeText(heard);
        cells[col::Date] = formats.dateText(heard);
        cells[col::FullTelegram] = telegram;
        // The frame's version byte (offset 9), as the table shows it.
        if (hex.size() >= 20)
            cells[col::FirmwareVersion] = std::to_string(std::stoi(hex.substr(18, 2), nullptr, 16));
        cells[col::FreeText] = cell(r.text(i, 8));
        for (int k = 0; k < count; ++k)
            cells[static_cast<size_t>(col::FirstAdditional + k)] = cell(r.text(i, kFirstValueColumn + k));
        text += csvLine(cells, separator);
        ++result.rows;
    }
    if (const WriteOutcome written = replaceFile(file, text); !written) {
        outcome = Outcome::fileFailed(written);
        return false;
    }
    outcome = {};
    return true;
}

bool addOperator(PgConnection& db, const std::string& name, const std::string& fullName, Outcome& outcome)
{
    PgTransaction t(db);
    if (!t.begin(outcome))
        return false;
    PgResult exists = db.exec("SELECT 1 FROM pg_roles WHERE rolname = $1", {name});
    if (failed(db, exists, outcome))
        return false;
    PgResult quoted = db.exec("SELECT quote_ident($1)", {name});
    if (failed(db, quoted, outcome))
        return false;
    const std::string role = quoted.text(0, 0);
    if (exists.rows() == 0) {
        PgResult created = db.exec("CREATE ROLE " + role + " LOGIN");
        if (failed(db, created, outcome))
            return false;
    }
    PgResult granted = db.exec("GRANT palvero_operator TO " + role);
    if (failed(db, granted, outcome))
        return false;
    PgResult row = db.exec("INSERT INTO operators (name, full_name) VALUES ($1, $2)"
                           " ON CONFLICT (name) DO UPDATE SET full_name = EXCLUDED.full_name",
                           {name, fullName});
    if (failed(db, row, outcome))
        return false;
    return t.commit(outcome);
}

} // namespace palvero::central
