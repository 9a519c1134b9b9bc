#pragma once

#include "central_outcome.h"

#include <climits>
#include <string>
#include <vector>

namespace palvero::central {

class PgConnection;

// One numbered SQL file of db/, compiled in.
struct SchemaStep {
    int version;
    const char* name;
    const char* sql;
};

const std::vector<SchemaStep>& schemaSteps();
int latestSchemaVersion();
// The oldest schema the laptop works with: the one that brought row-level security.
inline constexpr int kLaptopSchemaVersion = 2;

// The version the database holds: 0 for a database without the schema.
bool schemaVersion(PgConnection& db, int& version, Outcome& outcome);

// Applies every step above the database's version, up to `upTo`, each in a transaction of
// its own that also records its number, so that a step is applied once even when two
// upgrades run at the same time. `applied` receives the names of the files applied.
bool upgradeSchema(PgConnection& db, std::vector<std::string>& applied, Outcome& outcome, int upTo = INT_MAX);

} // namespace palvero::central
