#include "my_routes.h"

#include "cell_codec.h"
#include "csv.h"
#include "meters_file.h"
#include "pg_connection.h"

#include <unordered_map>

namespace palvero::central {

namespace {

constexpr char kMyRoutes[] =
    "SELECT r.name, to_char(r.day, 'YYYY-MM-DD'), m.meter_id, m.aes_key, m.address"
    " FROM routes r JOIN route_meters rm ON rm.route_id = r.route_id JOIN meters m ON m.meter_id = rm.meter_id"
    " WHERE r.operator_name = current_user AND r.day >= $1::date"
    " ORDER BY r.day, r.name, rm.position";

constexpr char kRoutesHeader[] = "# Palvero routes: route, day, meter ID, address (UTF-8, tab separated)";

// Tabs and line ends would cut a line of the routes file.
std::string plain(std::string text)
{
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

} // namespace

bool fetchMyRoutes(PgConnection& db, const std::string& fromDay, CodePage page, std::vector<Route>& routes,
                   std::vector<std::string>& problems, Outcome& outcome)
{
    routes.clear();
    problems.clear();
    PgResult r = db.exec(kMyRoutes, {fromDay});
    if (!r.ok()) {
        outcome = db.failure(r);
        return false;
    }
    for (int i = 0; i < r.rows(); ++i) {
        const std::string name = r.text(i, 0);
        const std::string day = r.text(i, 1);
        if (routes.empty() || routes.back().name != name || routes.back().day != day)
            routes.push_back(Route{name, day, {}});
        const auto id = cellText(r.text(i, 2), page);
        const auto key = cellText(r.text(i, 3), page);
        if (!id || !key || id->size() > MeterKeyRecord::kIdCapacity || key->size() > MeterKeyRecord::kKeyCapacity) {
            problems.push_back("Meter " + r.text(i, 2) + " of route " + name + " cannot be kept in meters.mrv: its ID or key "
                               + (id && key ? std::string("does not fit")
                                            : std::string("holds a character that ") + codePageName(page)
                                                + " cannot hold"));
            continue;
        }
        routes.back().meters.push_back(RouteMeter{*id, *key, r.text(i, 4)});
    }
    outcome = {};
    return true;
}

bool planRoutes(const std::vector<Route>& routes, MetersFile& meters, RoutePlan& plan, Outcome& outcome)
{
    plan = {};
    std::unordered_map<std::string, std::string> stored;
    const std::vector<MeterKeyRecord> records = meters.ReadAll();
    if (!meters.lastOutcome().ok()) {
        outcome = Outcome::failed(Outcome::Kind::FileError, meters.lastOutcome().error);
        return false;
    }
    for (const MeterKeyRecord& m : records)
        stored.emplace(m.id, m.key); // the first record of an ID is the one that counts
    std::unordered_map<std::string, bool> seen;
    for (const Route& route : routes)
        for (const RouteMeter& m : route.meters) {
            if (!seen.emplace(m.meterId, true).second)
                continue;
            auto it = stored.find(m.meterId);
            if (it == stored.end())
                plan.added.push_back(m);
            else if (it->second != m.key)
                plan.changed.push_back(KeyChange{m.meterId, it->second, m.key});
            else
                ++plan.unchanged;
        }
    outcome = {};
    return true;
}

bool applyRoutePlan(const RoutePlan& plan, bool changeKeys, MetersFile& meters, Outcome& outcome)
{
    auto save = [&](const std::string& id, const std::string& key) {
        if (meters.SaveMeter(id, key) != MetersFile::SaveFailed)
            return true;
        const FileOutcome& failed = meters.lastOutcome();
        outcome = Outcome::fileFailed({failed.cause, failed.error.empty() ? "meters.mrv cannot be written" : failed.error});
        return false;
    };
    for (const RouteMeter& m : plan.added)
        if (!save(m.meterId, m.key))
            return false;
    if (changeKeys)
        for (const KeyChange& c : plan.changed)
            if (!save(c.meterId, c.newKey))
                return false;
    outcome = {};
    return true;
}

bool saveRoutes(const std::filesystem::path& dataFolder, const std::vector<Route>& routes, CodePage page,
                Outcome& outcome)
{
    std::string text = kRoutesHeader;
    text += '\n';
    for (const Route& route : routes)
        for (const RouteMeter& m : route.meters)
            text += plain(route.name) + '\t' + route.day + '\t' + databaseText(m.meterId, page) + '\t' + plain(m.address)
                + '\n';
    if (const WriteOutcome written = replaceFile(dataFolder / kRoutesFileName, text); !written) {
        outcome = Outcome::fileFailed(written);
        return false;
    }
    outcome = {};
    return true;
}

std::vector<Route> readRoutes(const std::filesystem::path& dataFolder, CodePage page)
{
    std::vector<Route> routes;
    std::vector<std::string> lines;
    std::string error;
    if (!readTextLines(dataFolder / kRoutesFileName, lines, error))
        return routes;
    for (const std::string& line : lines) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f;
        size_t at = 0;
        for (;;) {
            const size_t tab = line.find('\t', at);
            f.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos)
                break;
            at = tab + 1;
        }
        if (f.size() != 4)
            continue;
        const auto id = cellText(f[2], page);
        if (!id)
            continue;
        if (routes.empty() || routes.back().name != f[0] || routes.back().day != f[1])
            routes.push_back(Route{f[0], f[1], {}});
        routes.back().meters.push_back(RouteMeter{*id, {}, f[3]});
    }
    return routes;
}

std::vector<std::string> routeMeterIds(const std::filesystem::path& dataFolder, CodePage page)
{
    std::vector<std::string> ids;
    for (const Route& route : readRoutes(dataFolder, page))
        for (const RouteMeter& m : route.meters)
            ids.push_back(m.meterId);
    return ids;
}

} // namespace palvero::central
