// The central database against a real PostgreSQL server (started by pg_server.sh).

#include "formats.h"
#include "office_cli.h"
#include "meters_file.h"
#include "my_routes.h"
#include "office.h"
#include "outbox.h"
#include "reading_sender.h"
#include "schema.h"
#include "temp_dir.h"
#include "test_server.h"

#include "error_log.h"
#include "scripted_operator.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace palvero::test {
namespace {

using namespace central;

constexpr char kPassword[] = "walk-by-7";
constexpr CodePage kPage = CodePage::Windows1252;

class CentralDb : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string why;
        server = TestServer::get(why);
        if (!server)
            GTEST_SKIP() << why;
    }

    // A database with the whole schema and two operators.
    void setUpDatabase(const std::string& name)
    {
        database = server->newDatabase(name);
        auto admin = server->connect(server->adminOf(database));
        std::vector<std::string> applied;
        Outcome outcome;
        ASSERT_TRUE(upgradeSchema(*admin, applied, outcome)) << outcome.detail;
        anna = server->addOperator(database, "anna", kPassword);
        bob = server->addOperator(database, "bob", kPassword);
    }

    std::unique_ptr<PgConnection> asOperator(const std::string& role)
    {
        return server->connect(server->as(database, role), kPassword);
    }

    long count(const std::string& sql)
    {
        auto admin = server->connect(server->adminOf(database));
        PgResult r = admin->exec(sql);
        EXPECT_TRUE(r.ok()) << sql << ": " << r.errorText();
        return r.ok() ? std::stol(r.text(0, 0)) : -1;
    }

    // An outbox of `n` readings in `folder`.
    static void fill(Outbox& outbox, int n, const std::string& laptop)
    {
        for (int i = 0; i < n; ++i) {
            OutboxReading r;
            r.id = newReadingId();
            r.heardAt = "2026-05-04T09:30:00.000Z";
            r.laptop = laptop;
            r.meterId = "1234" + std::to_string(1000 + i % 9000);
            r.rssi = "-71";
            r.mainValue = std::to_string(i) + ",125";
            r.unit = "m3";
            r.additional = {"a\"b\\c", "{x,y}"};
            r.decrypted = true;
            r.telegram = {0x68, 0x10, 0x44, 0x2D, 0x2C, 0x78, 0x56, 0x34, 0x12, 0x1B, 0x07, 0x7A, 0x16};
            const WriteOutcome added = outbox.add(r);
            ASSERT_TRUE(added) << added.error;
        }
    }

    // Sends until done or failed; the outbox is written anew either way.
    static Outcome send(PgConnection& db, Outbox& outbox, int batch, ReadingSender* observed = nullptr)
    {
        ReadingSender own(db, outbox, kPage, batch);
        ReadingSender& sender = observed ? *observed : own;
        Outcome outcome;
        if (sender.begin(outcome))
            while (!sender.done() && sender.step(outcome)) {
            }
        Outcome finished;
        sender.finish(finished);
        return outcome.ok() ? finished : outcome;
    }

    TestServer* server = nullptr;
    std::string database, anna, bob;
};

TEST_F(CentralDb, SchemaAppliedFromEmptyAndUpgradedKeepsTheReadings)
{
    database = server->newDatabase("schema");
    auto admin = server->connect(server->adminOf(database));
    std::vector<std::string> applied;
    Outcome outcome;
    int version = -1;
    ASSERT_TRUE(schemaVersion(*admin, version, outcome));
    EXPECT_EQ(version, 0);

    ASSERT_TRUE(upgradeSchema(*admin, applied, outcome, 2)) << outcome.detail;
    EXPECT_EQ(applied, (std::vector<std::string>{"001_tables.sql", "002_access.sql"}));
    anna = server->addOperator(database, "anna", kPassword);
    TempDir folder;
    Outbox kept(folder.path());
    fill(kept, 3, "laptop-1");
    auto operatorDb = asOperator(anna);
    EXPECT_TRUE(send(*operatorDb, kept, 2).ok());

    ASSERT_TRUE(upgradeSchema(*admin, applied, outcome)) << outcome.detail;
    EXPECT_EQ(applied, (std::vector<std::string>{"003_received.sql"}));
    ASSERT_TRUE(schemaVersion(*admin, version, outcome));
    EXPECT_EQ(version, latestSchemaVersion());
    EXPECT_EQ(count("SELECT count(*) FROM readings WHERE received_at IS NOT NULL"), 3);
    // Applied once: a second upgrade finds nothing to do.
    ASSERT_TRUE(upgradeSchema(*admin, applied, outcome));
    EXPECT_TRUE(applied.empty());
    EXPECT_EQ(count("SELECT count(*) FROM palvero_schema"), latestSchemaVersion());
}

TEST_F(CentralDb, TwoOperatorsSendAtOnce)
{
    setUpDatabase("two");
    TempDir a, b;
    Outbox annas(a.path()), bobs(b.path());
    fill(annas, 1500, "laptop-a");
    fill(bobs, 1500, "laptop-b");
    auto annaDb = asOperator(anna);
    auto bobDb = asOperator(bob);
    Outcome annaSent, bobSent;
    std::thread first([&] { annaSent = send(*annaDb, annas, 100); });
    std::thread second([&] { bobSent = send(*bobDb, bobs, 100); });
    first.join();
    second.join();
    EXPECT_TRUE(annaSent.ok()) << annaSent.detail;
    EXPECT_TRUE(bobSent.ok()) << bobSent.detail;
    EXPECT_EQ(count("SELECT count(*) FROM readings WHERE operator_name = '" + anna + "' AND laptop = 'laptop-a'"), 1500);
    EXPECT_EQ(count("SELECT count(*) FROM readings WHERE operator_name = '" + bob + "' AND laptop = 'laptop-b'"), 1500);
    EXPECT_EQ(annas.waitingCount() + bobs.waitingCount(), 0);
}

TEST_F(CentralDb, TheSameOutboxSentTwiceIsStoredOnce)
{
    setUpDatabase("twice");
    TempDir folder;
    Outbox outbox(folder.path());
    fill(outbox, 250, "laptop-1");
    const std::string copy = readFile(outbox.path());
    auto db = asOperator(anna);
    ASSERT_TRUE(send(*db, outbox, 100).ok());
    EXPECT_EQ(readFile(outbox.path()), "");

    writeFile(outbox.path(), copy);
    std::string error;
    ASSERT_TRUE(outbox.load(error));
    ReadingSender again(*db, outbox, kPage, 100);
    ASSERT_TRUE(send(*db, outbox, 100, &again).ok());
    EXPECT_EQ(again.confirmed(), 250);
    EXPECT_EQ(again.added(), 0);
    EXPECT_EQ(count("SELECT count(*) FROM readings"), 250);
    // What the server stored is what was heard, texts and bytes alike.
    EXPECT_EQ(count("SELECT count(*) FROM readings WHERE additional = ARRAY['a\"b\\c', '{x,y}'] AND rssi_dbm = -71"
                    " AND telegram = '\\x6810442d2c78563412" "1b077a16'::bytea"),
              250);
}

struct Cut {
    const char* name;
    bool afterCommit; // the batch reached the server before the cut
    int batch;
};

const Cut kCuts[] = {
    {"before the commit of the first batch", false, 1},
    {"before the commit of the third batch", false, 3},
    {"after the commit of the second batch", true, 2},
};

TEST_F(CentralDb, ConnectionCutInTheMiddleOfASendAndSentAgainStoresEveryReadingOnce)
{
    for (const Cut& cut : kCuts) {
        SCOPED_TRACE(cut.name);
        setUpDatabase("cut");
        TempDir folder;
        Outbox outbox(folder.path());
        fill(outbox, 450, "laptop-1");
        auto db = asOperator(anna);
        auto admin = server->connect(server->adminOf(database));
        ReadingSender sender(*db, outbox, kPage, 100);
        auto killBackend = [&](int batch) {
            if (batch == cut.batch)
                admin->exec("SELECT pg_terminate_backend(" + std::to_string(db->serverPid()) + ")");
        };
        (cut.afterCommit ? sender.afterCommit : sender.beforeCommit) = killBackend;
        const Outcome cutShort = send(*db, outbox, 100, &sender);
        EXPECT_EQ(cutShort.kind, Outcome::Kind::Unreachable) << cutShort.detail;
        const long stored = count("SELECT count(*) FROM readings");
        EXPECT_EQ(stored, 100L * (cut.afterCommit ? cut.batch : cut.batch - 1));
        EXPECT_EQ(outbox.waitingCount(), 450 - 100 * (cut.afterCommit ? cut.batch : cut.batch - 1));

        auto again = asOperator(anna);
        ASSERT_TRUE(send(*again, outbox, 100).ok());
        EXPECT_EQ(count("SELECT count(*) FROM readings"), 450);
        EXPECT_EQ(count("SELECT count(DISTINCT reading_id) FROM readings"), 450);
        EXPECT_EQ(outbox.waitingCount(), 0);
    }
}

TEST_F(CentralDb, LaptopKilledInTheMiddleOfASendAndSentAgainStoresEveryReadingOnce)
{
    for (const Cut& cut : kCuts) {
        SCOPED_TRACE(cut.name);
        setUpDatabase("killed");
        TempDir folder;
        {
            Outbox outbox(folder.path());
            fill(outbox, 450, "laptop-1");
        }
        const std::string conninfo = server->as(database, anna);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The laptop: sends, and dies at the cut without a chance to tidy up.
            Outcome outcome;
            auto db = PgConnection::open(conninfo, kPassword, outcome);
            Outbox outbox(folder.path());
            std::string error;
            if (!db || !outbox.load(error))
                _exit(3);
            ReadingSender sender(*db, outbox, kPage, 100);
            auto die = [&](int batch) {
                if (batch == cut.batch)
                    ::kill(::getpid(), SIGKILL);
            };
            (cut.afterCommit ? sender.afterCommit : sender.beforeCommit) = die;
            send(*db, outbox, 100, &sender);
            _exit(4);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

        Outbox outbox(folder.path());
        std::string error;
        ASSERT_TRUE(outbox.load(error)) << error;
        EXPECT_EQ(outbox.waitingCount(), 450 - 100 * (cut.batch - 1));
        auto db = asOperator(anna);
        ASSERT_TRUE(send(*db, outbox, 100).ok());
        EXPECT_EQ(count("SELECT count(*) FROM readings"), 450);
        EXPECT_EQ(count("SELECT count(DISTINCT reading_id) FROM readings"), 450);
        EXPECT_EQ(outbox.waitingCount(), 0);
    }
}

TEST_F(CentralDb, AnOperatorSeesOnlyTheMetersOfHisRoutesAndAddsReadingsOnlyAsHimself)
{
    setUpDatabase("rls");
    ASSERT_TRUE(server->run(database,
        "INSERT INTO meters (meter_id, aes_key) VALUES ('11110001', '000102030405060708090A0B0C0D0E0F'),"
        " ('22220002', 'F0F1F2F3F4F5F6F7F8F9FAFBFCFDFEFF');"
        "INSERT INTO routes (name, operator_name, day) VALUES ('North', '" + anna + "', '2026-05-04'),"
        " ('South', '" + bob + "', '2026-05-04');"
        "INSERT INTO route_meters SELECT route_id, 1, '11110001' FROM routes WHERE name = 'North';"
        "INSERT INTO route_meters SELECT route_id, 1, '22220002' FROM routes WHERE name = 'South';"
        "INSERT INTO readings (reading_id, meter_id, operator_name, heard_at, decrypted, telegram)"
        " VALUES (gen_random_uuid(), '22220002', '" + bob + "', now(), true, '\\x00')"));
    auto db = asOperator(anna);
    struct Case {
        std::string sql;
        int rows;          // -1: refused
        const char* state; // the refusal's SQLSTATE
    };
    const Case cases[] = {
        {"SELECT meter_id, aes_key FROM meters", 1, ""},
        {"SELECT aes_key FROM meters WHERE meter_id = '22220002'", 0, ""},
        {"SELECT * FROM routes", 1, ""},
        {"SELECT * FROM route_meters", 1, ""},
        {"SELECT * FROM readings", 0, ""},
        {"SELECT * FROM operators", 1, ""},
        {"INSERT INTO readings (reading_id, meter_id, operator_name, heard_at, decrypted, telegram)"
         " VALUES (gen_random_uuid(), '11110001', '" + bob + "', now(), true, '\\x00')", -1, "42501"},
        {"UPDATE meters SET aes_key = '' WHERE meter_id = '11110001'", -1, "42501"},
        {"DELETE FROM readings", -1, "42501"},
        {"INSERT INTO routes (name, operator_name, day) VALUES ('Mine', '" + anna + "', '2026-05-05')", -1, "42501"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        PgResult r = db->exec(c.sql);
        if (c.rows < 0) {
            EXPECT_FALSE(r.ok());
            EXPECT_EQ(r.sqlState(), c.state) << r.errorText();
            EXPECT_EQ(db->failure(r).kind, Outcome::Kind::Refused);
        } else {
            ASSERT_TRUE(r.ok()) << r.errorText();
            EXPECT_EQ(r.rows(), c.rows);
        }
    }
    std::vector<Route> routes;
    std::vector<std::string> problems;
    Outcome outcome;
    ASSERT_TRUE(fetchMyRoutes(*db, "2026-05-01", kPage, routes, problems, outcome)) << outcome.detail;
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes[0].name, "North");
    ASSERT_EQ(routes[0].meters.size(), 1u);
    EXPECT_EQ(routes[0].meters[0].key, "000102030405060708090A0B0C0D0E0F");
}

TEST_F(CentralDb, WrongPasswordAndUnreachableServerAreToldAndTheOutboxKeepsEverything)
{
    setUpDatabase("refused");
    TempDir folder;
    Outbox outbox(folder.path());
    fill(outbox, 5, "laptop-1");
    const std::string before = readFile(outbox.path());
    struct Case {
        const char* name;
        std::string conninfo;
        std::string password;
        Outcome::Kind kind;
    };
    const Case cases[] = {
        {"wrong password", server->as(database, anna), "not-it", Outcome::Kind::WrongPassword},
        {"no password", server->as(database, anna), "", Outcome::Kind::NeedsPassword},
        {"no server at the socket", "host=" + folder.path().string() + " dbname=x user=y", kPassword,
         Outcome::Kind::Unreachable},
        {"unknown host", "host=palvero.invalid connect_timeout=2 dbname=x user=y", kPassword, Outcome::Kind::Unreachable},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Outcome outcome;
        EXPECT_FALSE(PgConnection::open(c.conninfo, c.password, outcome));
        EXPECT_EQ(outcome.kind, c.kind) << outcome.detail;
        EXPECT_FALSE(outcome.detail.empty());
    }
    EXPECT_EQ(readFile(outbox.path()), before);
    EXPECT_EQ(outbox.waitingCount(), 5);
    EXPECT_EQ(count("SELECT count(*) FROM readings"), 0);
}

TEST_F(CentralDb, MyRoutesGoIntoTheMetersFileAndADifferentKeyOnlyWhenAgreed)
{
    setUpDatabase("routes");
    TempDir folder;
    const auto csv = folder / "routes.csv";
    writeFile(csv, "North;" + anna + ";2026-05-04;11110001;000102030405060708090A0B0C0D0E0F;Main street 1\r\n"
                   "North;" + anna + ";2026-05-04;123;;Main street 3\r\n"
                   "North;" + anna + ";2026-05-04;33330003;" + std::string(32, 'C') + ";Ul. \xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0\r\n"
                   "South;" + bob + ";2026-05-04;22220002;" + std::string(32, 'B') + "\r\n");
    auto admin = server->connect(server->adminOf(database));
    RoutesImport imported;
    Outcome outcome;
    ASSERT_TRUE(importRoutes(*admin, csv, ";", kPage, imported, outcome)) << outcome.detail;
    EXPECT_EQ(imported.routes, 2);
    EXPECT_EQ(imported.meters, 4);

    // meters.mrv knows one meter of the route, with another key.
    writeFile(folder / "meters.mrv", "");
    FixedFormats formats;
    ScriptedOperator op;
    ErrorLog log(folder.path(), formats, op);
    MetersFile meters(folder.path(), log);
    ASSERT_EQ(meters.SaveMeter("11110001", std::string(32, 'A')), MetersFile::MeterAdded);

    auto db = asOperator(anna);
    std::vector<Route> routes;
    std::vector<std::string> problems;
    ASSERT_TRUE(fetchMyRoutes(*db, "2026-05-04", kPage, routes, problems, outcome)) << outcome.detail;
    RoutePlan plan;
    ASSERT_TRUE(planRoutes(routes, meters, plan, outcome));
    ASSERT_EQ(plan.changed.size(), 1u);
    EXPECT_EQ(plan.changed[0].storedKey, std::string(32, 'A'));
    EXPECT_EQ(plan.added.size(), 2u);

    ASSERT_TRUE(applyRoutePlan(plan, false, meters, outcome));
    EXPECT_EQ(meters.FindMeterKey("11110001").key, std::string(32, 'A'));
    EXPECT_EQ(meters.FindMeterKey("00000123").index, 1);
    ASSERT_TRUE(applyRoutePlan(plan, true, meters, outcome));
    EXPECT_EQ(meters.FindMeterKey("11110001").key, "000102030405060708090A0B0C0D0E0F");
    EXPECT_EQ(meters.ReadAll().size(), 3u);

    ASSERT_TRUE(saveRoutes(folder.path(), routes, kPage, outcome));
    EXPECT_EQ(routeMeterIds(folder.path(), kPage), (std::vector<std::string>{"11110001", "00000123", "33330003"}));
    EXPECT_EQ(readRoutes(folder.path(), kPage)[0].meters[2].address, "Ul. \xD0\x9B\xD0\xB8\xD0\xBF\xD0\xB0");
}

TEST_F(CentralDb, AWrongRoutesFileImportsNothingAndNamesEveryWrongLine)
{
    setUpDatabase("badcsv");
    TempDir folder;
    const auto csv = folder / "routes.csv";
    writeFile(csv, "North;" + anna + ";2026-05-04;11110001;;\n"
                   "North;nobody;2026-05-04;11110002;;\n"
                   "North;" + anna + ";2026-02-30;11110003;;\n"
                   "North;" + anna + ";2026-05-04;1111000G;;\n"
                   "North;" + anna + ";2026-05-04;11110005;ABC;\n"
                   "North;" + anna + ";2026-05-04;11110001;;\n"
                   "North;" + anna + "\n");
    auto admin = server->connect(server->adminOf(database));
    RoutesImport imported;
    Outcome outcome;
    EXPECT_FALSE(importRoutes(*admin, csv, ";", kPage, imported, outcome));
    EXPECT_EQ(imported.errors, (std::vector<std::string>{
        "line 2: \"nobody\" is not an operator (palvero-office operator add)",
        "line 3: the day \"2026-02-30\" is not a date as YYYY-MM-DD",
        "line 4: the meter ID \"1111000G\" is not up to 8 hexadecimal digits",
        "line 5: the key of meter 11110005 is not 32 hexadecimal digits",
        "line 6: meter 11110001 is on route North twice",
        "line 7: route, operator, day and meter ID expected, then the key and an address",
    }));
    EXPECT_EQ(count("SELECT count(*) FROM route_meters"), 0);
}

TEST_F(CentralDb, ProgressAndExportShowTheDaysReadings)
{
    setUpDatabase("office");
    TempDir folder;
    const auto csv = folder / "routes.csv";
    writeFile(csv, "North;" + anna + ";2026-05-04;11110001;;Main street 1\n"
                   "North;" + anna + ";2026-05-04;11110002;;Main street 3\n"
                   "North;" + anna + ";2026-05-04;11110003;\n");
    auto admin = server->connect(server->adminOf(database));
    RoutesImport imported;
    Outcome outcome;
    ASSERT_TRUE(importRoutes(*admin, csv, ";", kPage, imported, outcome)) << outcome.detail;
    const Day day{2026, 5, 4};
    const std::string noon = std::to_string(static_cast<long long>(day.start() + 12 * 3600));
    ASSERT_TRUE(server->run(database,
        "INSERT INTO readings (reading_id, meter_id, operator_name, heard_at, manufacturer, medium, rssi_dbm,"
        " main_value, unit, additional, decrypted, telegram) VALUES"
        " (gen_random_uuid(), '11110001', '" + anna + "', to_timestamp(" + noon + "), 'KAM', 'Water', -70, '12,500',"
        " 'm3', ARRAY['7,000 m3'], true, '\\x68442d2c010011110111'),"
        " (gen_random_uuid(), '11110002', '" + anna + "', to_timestamp(" + noon + ") + interval '1 minute', 'KAM',"
        " 'Water', NULL, '', '', '{}', false, '\\x68')"));
    std::vector<RouteProgressReport> routes;
    ASSERT_TRUE(routeProgress(*admin, day, routes, outcome)) << outcome.detail;
    FixedFormats formats;
    EXPECT_EQ(progressText(day, routes, formats),
              "Route North (" + anna + ", 2026-05-04): read 1 of 3\n"
              "  11110002  last heard 12:01:00 04.05.2026  Main street 3\n"
              "  11110003  never heard\n");

    ReadingsExport exported;
    ASSERT_TRUE(exportReadings(*admin, day, day, folder / "out.csv", ";", kPage, formats, exported, outcome)) << outcome.detail;
    EXPECT_EQ(exported.rows, 2);
    EXPECT_EQ(readFile(folder / "out.csv"),
              "1;11110001;KAM;;;Water;12,500;m3;-70;12:00:00;04.05.2026;;68 44 2D 2C 01 00 11 11 01 11;17;;"
              "Main street 1;7,000 m3;\r\n"
              "2;11110002;KAM;;;Water;;;;12:01:00;04.05.2026;;68;;;Main street 3;;\r\n");
}

TEST_F(CentralDb, TheOfficeReadsAndWritesTheLaptopsFilesInTheirCodePage)
{
    setUpDatabase("codepage");
    const std::string db = server->adminOf(database);
    TempDir folder;
    FixedFormats formats;
    auto office = [&](std::vector<std::string> args, std::string* err = nullptr) {
        args.insert(args.begin(), {"--db", db, "--code-page"});
        std::ostringstream out, errors;
        EXPECT_EQ(runOffice(args, out, errors, formats, nullptr), 0) << errors.str();
        if (err)
            *err = errors.str();
    };
    // A spreadsheet's routes file in Windows-1251, with a Cyrillic address.
    writeFile(folder / "routes.csv", "North;" + anna + ";2026-05-04;11110001;;\xD3\xEB. \xCB\xE8\xEF\xE0\r\n");
    office({"windows-1251", "routes", "import", (folder / "routes.csv").string()});
    EXPECT_EQ(count("SELECT count(*) FROM meters WHERE address = 'Ул. Липа'"), 1);

    const std::string noon = std::to_string(static_cast<long long>(Day{2026, 5, 4}.start() + 12 * 3600));
    ASSERT_TRUE(server->run(database,
        "INSERT INTO readings (reading_id, meter_id, operator_name, heard_at, additional, decrypted, telegram) VALUES"
        " (gen_random_uuid(), '11110001', '" + anna + "', to_timestamp(" + noon + "), ARRAY['Straße'], true, '\\x68'),"
        " (gen_random_uuid(), 'Л0000002', '" + anna + "', to_timestamp(" + noon + ") + interval '1 minute', '{}',"
        " false, '\\x68')"));
    const std::string first = "1;11110001;;;;;;;;12:00:00;04.05.2026;;68;;;";
    const std::tuple<const char*, std::string, std::string> cases[] = {
        {"Windows-1251", first + "\xD3\xEB. \xCB\xE8\xEF\xE0;Stra?e;\r\n2;\xCB" "0000002;;;;;;;;12:01:00;04.05.2026;;68;;;;;\r\n",
         "palvero-office: 1 character of free texts is not in Windows-1251 and was written as \"?\"\n"},
        // The ID is refused, never written as "?0000002"; the address may take "?".
        {"Windows-1252", first + "??. ????;Stra\xDF" "e;\r\n",
         "palvero-office: 6 characters of free texts are not in Windows-1252 and were written as \"?\"\n"
         "palvero-office: 1 reading was left out: its meter ID is not in Windows-1252\n"},
    };
    for (const auto& [page, file, told] : cases) {
        std::string err;
        office({page, "export", "2026-05-04", "2026-05-04", (folder / "out.csv").string()}, &err);
        EXPECT_EQ(readFile(folder / "out.csv"), file) << page;
        EXPECT_EQ(err, told);
    }
}

TEST_F(CentralDb, TheOfficeToolSaysWhatItDidAndExitsWithItsCode)
{
    setUpDatabase("cli");
    const std::string db = server->adminOf(database);
    TempDir folder;
    writeFile(folder / "routes.csv", "North;" + anna + ";2026-05-04;11110001;\n");
    const std::string routes = (folder / "routes.csv").string();
    struct Case {
        std::vector<std::string> args;
        int code;
        std::string out; // what standard output starts with
        std::string err; // what standard error starts with
    };
    const Case cases[] = {
        {{"--db", db, "schema"}, 0, "schema version " + std::to_string(latestSchemaVersion()) + "\n", ""},
        {{"--db", db, "routes", "import", routes}, 0, "1 line: 1 route, 1 meter imported\n", ""},
        {{"--db", db, "progress", "2026-05-04"}, 0, "Route North (" + anna + ", 2026-05-04): read 0 of 1\n", ""},
        {{"--db", db, "progress", "2026-05-05"}, 0, "No routes on 2026-05-05\n", ""},
        {{"--db", db, "export", "2026-05-04", "2026-05-04", (folder / "out.csv").string()}, 0, "0 readings written", ""},
        {{"--db", server->as(database, anna), "progress"}, 1, "", "palvero-office: the database wants a password"},
        {{"--db", db, "progress", "04.05.2026"}, 2, "", "palvero-office: \"04.05.2026\" is not a day"},
        {{"--db", db, "export", "2026-05-04", (folder / "out.csv").string()}, 2, "", "usage: palvero-office"},
        {{"routes", "export", routes}, 2, "", "usage: palvero-office"},
        {{"--db", db, "--code-page", "Windows-1250", "progress"}, 2, "",
         "palvero-office: the code page is Windows-1251 or Windows-1252, not \"Windows-1250\"\n"},
        {{"--db", db, "routes", "import", folder.path().string()}, 1, "", "palvero-office: Cannot read " + folder.path().string()},
        {{"--help"}, 0, "usage: palvero-office", ""},
    };
    FixedFormats formats;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        std::ostringstream out, err;
        EXPECT_EQ(runOffice(c.args, out, err, formats, nullptr), c.code) << err.str();
        EXPECT_EQ(out.str().substr(0, c.out.size()), c.out);
        EXPECT_EQ(err.str().substr(0, c.err.size()), c.err);
        if (c.out.empty()) {
            EXPECT_EQ(out.str(), "");
        }
    }
}

} // namespace
} // namespace palvero::test
