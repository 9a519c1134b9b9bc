#pragma once

#include "central_outcome.h"
#include "code_page.h"

#include <filesystem>
#include <string>
#include <vector>

namespace palvero {
class MetersFile;
}

namespace palvero::central {

class PgConnection;

inline constexpr char kRoutesFileName[] = "routes.txt";

struct RouteMeter {
    std::string meterId; // single-byte text, as meters.mrv holds it
    std::string key;
    std::string address; // UTF-8, shown only
};

struct Route {
    std::string name; // UTF-8
    std::string day;  // YYYY-MM-DD
    std::vector<RouteMeter> meters; // in walking order
};

// The connected operator's routes from `fromDay` (YYYY-MM-DD) on, by day and name, with
// their meters in walking order, IDs and keys in `page`. A meter whose ID or key cannot be
// written as the meters file writes it (too long, or a character `page` lacks) is left out
// and named in `problems`.
bool fetchMyRoutes(PgConnection& db, const std::string& fromDay, CodePage page, std::vector<Route>& routes,
                   std::vector<std::string>& problems, Outcome& outcome);

// What taking the routes into meters.mrv would change.
struct KeyChange {
    std::string meterId;
    std::string storedKey;
    std::string newKey;
};
struct RoutePlan {
    std::vector<RouteMeter> added;   // not in the meters file yet
    std::vector<KeyChange> changed;  // stored with another key
    int unchanged = 0;
};
// Compares the routes' meters with the meters file; false when the file cannot be read.
bool planRoutes(const std::vector<Route>& routes, MetersFile& meters, RoutePlan& plan, Outcome& outcome);
// Adds the new meters and, when `changeKeys`, stores the new keys.
bool applyRoutePlan(const RoutePlan& plan, bool changeKeys, MetersFile& meters, Outcome& outcome);

// The routes kept in the data folder (routes.txt, without keys: they are in meters.mrv),
// so that the walk's order survives a restart without a network; written anew as one step.
// The file is UTF-8; meter IDs cross it in `page`.
bool saveRoutes(const std::filesystem::path& dataFolder, const std::vector<Route>& routes, CodePage page,
                Outcome& outcome);
std::vector<Route> readRoutes(const std::filesystem::path& dataFolder, CodePage page);
// The meter IDs of the kept routes in walking order; empty when none are kept.
std::vector<std::string> routeMeterIds(const std::filesystem::path& dataFolder, CodePage page);

} // namespace palvero::central
