#include "schema.h"

#include "pg_connection.h"

namespace palvero::central {

namespace {

constexpr char kCreateVersionTable[] =
    "CREATE TABLE IF NOT EXISTS palvero_schema ("
    " version integer PRIMARY KEY,"
    " name text NOT NULL,"
    " applied_at timestamptz NOT NULL DEFAULT now())";

bool run(PgConnection& db, const std::string& sql, Outcome& outcome)
{
    PgResult r = db.exec(sql);
    if (!r.ok()) {
        outcome = db.failure(r);
        return false;
    }
    return true;
}

} // namespace

int latestSchemaVersion()
{
    return schemaSteps().empty() ? 0 : schemaSteps().back().version;
}

bool schemaVersion(PgConnection& db, int& version, Outcome& outcome)
{
    version = 0;
    PgResult exists = db.exec("SELECT to_regclass('palvero_schema') IS NOT NULL");
    if (!exists.ok()) {
        outcome = db.failure(exists);
        return false;
    }
    if (exists.text(0, 0) != "t")
        return true;
    PgResult r = db.exec("SELECT coalesce(max(version), 0) FROM palvero_schema");
    if (!r.ok()) {
        outcome = db.failure(r);
        return false;
    }
    version = std::stoi(r.text(0, 0));
    return true;
}

bool upgradeSchema(PgConnection& db, std::vector<std::string>& applied, Outcome& outcome, int upTo)
{
    applied.clear();
    if (!run(db, kCreateVersionTable, outcome))
        return false;
    for (const SchemaStep& step : schemaSteps()) {
        if (step.version > upTo)
            break;
        PgTransaction t(db);
        if (!t.begin(outcome))
            return false;
        // One upgrade at a time; the second finds the step done.
        if (!run(db, "LOCK TABLE palvero_schema IN EXCLUSIVE MODE", outcome))
            return false;
        PgResult done = db.exec("SELECT 1 FROM palvero_schema WHERE version = $1", {std::to_string(step.version)});
        if (!done.ok()) {
            outcome = db.failure(done);
            return false;
        }
        if (done.rows() > 0)
            continue;
        if (!run(db, step.sql, outcome)) {
            outcome.detail = std::string(step.name) + ": " + outcome.detail;
            return false;
        }
        PgResult mark = db.exec("INSERT INTO palvero_schema (version, name) VALUES ($1, $2)",
                                {std::to_string(step.version), std::string(step.name)});
        if (!mark.ok()) {
            outcome = db.failure(mark);
            return false;
        }
        if (!t.commit(outcome))
            return false;
        applied.emplace_back(step.name);
    }
    outcome = {};
    return true;
}

} // namespace palvero::central
