#include "office_cli.h"

#include "office.h"
#include "pg_connection.h"
#include "schema.h"
#include "settings.h"

#include <ostream>

namespace palvero {

using namespace central;

namespace {

const char kUsage[] =
    "usage: palvero-office [--db CONNECTION] [--separator C] [--code-page PAGE] COMMAND\n"
    "  schema                       create the database's tables and roles, or bring them up to date\n"
    "  operator add NAME [FULL NAME] a login role for an operator (set its password with psql \\password NAME)\n"
    "  routes import FILE.csv       routes from lines of route;operator;day;meter ID;key[;address]\n"
    "  progress [DAY]               per route of the day (YYYY-MM-DD, today when left out): read X of Y,\n"
    "                               and the unread meters with the time each was last heard\n"
    "  export FROM TO FILE.csv      the readings of the days FROM to TO in the program's plain CSV form\n"
    "CONNECTION is a libpq service name or connection string; without it libpq's environment\n"
    "(PGSERVICE, PGHOST, PGDATABASE, ...) is used. PAGE is the code page of the laptops' CSV\n"
    "files, Windows-1251 or Windows-1252; without it, that of the system's language.\n";

std::string describe(const Outcome& o)
{
    switch (o.kind) {
    case Outcome::Kind::WrongPassword:
        return "the database refused the password: " + o.detail;
    case Outcome::Kind::NeedsPassword:
        return "the database wants a password: put it into libpq's password file (~/.pgpass): " + o.detail;
    case Outcome::Kind::Unreachable:
        return "the database cannot be reached: " + o.detail;
    case Outcome::Kind::NotSetUp:
        return "the database is not set up for Palvero (run palvero-office schema): " + o.detail;
    case Outcome::Kind::Refused:
        return "not allowed for this role: " + o.detail;
    default:
        return o.detail;
    }
}

} // namespace

int runOffice(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const Formats& formats,
              const std::function<std::string(const std::string&)>& askPassword)
{
    std::string database;
    std::string separator = ";";
    std::string pageName;
    std::vector<std::string> words;
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "--db" || args[i] == "--separator" || args[i] == "--code-page") && i + 1 < args.size()) {
            (args[i] == "--db" ? database : args[i] == "--separator" ? separator : pageName) = args[i + 1];
            ++i;
        } else if (args[i] == "--help" || args[i] == "-h") {
            out << kUsage;
            return 0;
        } else {
            words.push_back(args[i]);
        }
    }
    auto usage = [&]() {
        err << kUsage;
        return 2;
    };
    if (words.empty() || separator.size() != 1)
        return usage();
    const std::optional<CodePage> page = pageName.empty() ? systemCodePage() : codePageNamed(pageName);
    if (!page) {
        err << "palvero-office: the code page is " << kWindows1251Name << " or " << kWindows1252Name << ", not \""
            << pageName << "\"\n";
        return 2;
    }
    const std::string& command = words[0];
    const size_t n = words.size();
    const bool known = (command == "schema" && n == 1) || (command == "operator" && n >= 3 && n <= 4 && words[1] == "add")
        || (command == "routes" && n == 3 && words[1] == "import") || (command == "progress" && n <= 2)
        || (command == "export" && n == 4);
    if (!known)
        return usage();

    std::optional<Day> day, from, to;
    if (command == "progress") {
        day = n == 2 ? parseDay(words[1]) : today();
        if (!day) {
            err << "palvero-office: \"" << words[1] << "\" is not a day as YYYY-MM-DD\n";
            return 2;
        }
    }
    if (command == "export") {
        from = parseDay(words[1]);
        to = parseDay(words[2]);
        if (!from || !to) {
            err << "palvero-office: FROM and TO are days as YYYY-MM-DD\n";
            return 2;
        }
    }

    // Without a connection text libpq's own environment decides.
    const std::string conninfo = database.empty() ? "dbname=''" : connectionString(database);
    Outcome outcome;
    auto db = PgConnection::open(conninfo, "", outcome);
    if (!db && outcome.kind == Outcome::Kind::NeedsPassword && askPassword) {
        const std::string password = askPassword("Password: ");
        if (!password.empty())
            db = PgConnection::open(conninfo, password, outcome);
    }
    if (!db) {
        err << "palvero-office: " << describe(outcome) << "\n";
        return 1;
    }

    bool done = false;
    if (command == "schema") {
        std::vector<std::string> applied;
        done = upgradeSchema(*db, applied, outcome);
        for (const std::string& name : applied)
            out << "applied " << name << "\n";
        int version = 0;
        if (done && schemaVersion(*db, version, outcome))
            out << "schema version " << version << "\n";
    } else if (command == "operator") {
        done = addOperator(*db, words[2], n == 4 ? words[3] : "", outcome);
        if (done)
            out << "operator " << words[2] << " added; set the password with: psql -c '\\password " << words[2]
                << "'\n";
    } else if (command == "routes") {
        RoutesImport result;
        done = importRoutes(*db, words[2], separator, *page, result, outcome);
        for (const std::string& e : result.errors)
            err << words[2] << ": " << e << "\n";
        if (done)
            out << result.lines << (result.lines == 1 ? " line: " : " lines: ") << result.routes
                << (result.routes == 1 ? " route, " : " routes, ") << result.meters
                << (result.meters == 1 ? " meter imported\n" : " meters imported\n");
        else if (!result.errors.empty())
            err << "palvero-office: nothing imported\n";
    } else if (command == "progress") {
        std::vector<RouteProgressReport> routes;
        done = routeProgress(*db, *day, routes, outcome);
        if (done)
            out << progressText(*day, routes, formats);
    } else if (command == "export") {
        ReadingsExport result;
        done = exportReadings(*db, *from, *to, words[3], separator, *page, formats, result, outcome);
        if (done) {
            out << result.rows << " readings written to " << words[3] << "\n";
            if (result.replaced > 0)
                err << "palvero-office: " << result.replaced
                    << (result.replaced == 1 ? " character of free texts is" : " characters of free texts are")
                    << " not in " << codePageName(*page)
                    << (result.replaced == 1 ? " and was" : " and were") << " written as \"?\"\n";
            if (result.leftOut > 0)
                err << "palvero-office: " << result.leftOut
                    << (result.leftOut == 1 ? " reading was left out: its meter ID is"
                                            : " readings were left out: their meter IDs are")
                    << " not in " << codePageName(*page) << "\n";
        }
    }
    if (!done) {
        if (outcome.kind != Outcome::Kind::BadInput)
            err << "palvero-office: " << describe(outcome) << "\n";
        return 1;
    }
    return 0;
}

} // namespace palvero
