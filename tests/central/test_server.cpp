#include "test_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace palvero::test {

using central::Outcome;
using central::PgConnection;

TestServer* TestServer::get(std::string& why)
{
    static std::unique_ptr<TestServer> server;
    static std::string reason;
    static bool looked = false;
    if (!looked) {
        looked = true;
        const char* state = std::getenv("PALVERO_TEST_PG_STATE");
        std::string socket;
        if (!state) {
            reason = "PALVERO_TEST_PG_STATE is not set: run the tests through ctest, which starts the server";
        } else if (std::ifstream skip(std::string(state) + "/skip"); skip && std::getline(skip, reason)) {
            // pg_server.sh found no server to start.
        } else if (std::ifstream in(std::string(state) + "/socket"); !(in && std::getline(in, socket))) {
            reason = std::string("no PostgreSQL server was started in ") + state;
        } else {
            server.reset(new TestServer);
            server->m_socket = socket;
            // No password file of the machine's user comes into the tests.
            setenv("PGPASSFILE", "/nonexistent/palvero-test-pgpass", 1);
        }
    }
    why = reason;
    return server.get();
}

std::string TestServer::adminOf(const std::string& database) const
{
    return "host=" + m_socket + " dbname=" + database + " user=palvero_admin";
}

std::string TestServer::as(const std::string& database, const std::string& role) const
{
    return "host=" + m_socket + " dbname=" + database + " user=" + role;
}

std::unique_ptr<PgConnection> TestServer::connect(const std::string& conninfo, const std::string& password)
{
    Outcome outcome;
    auto c = PgConnection::open(conninfo, password, outcome);
    EXPECT_TRUE(c) << conninfo << ": " << outcome.detail;
    return c;
}

bool TestServer::run(const std::string& database, const std::string& sql)
{
    auto c = connect(adminOf(database));
    if (!c)
        return false;
    central::PgResult r = c->exec(sql);
    EXPECT_TRUE(r.ok()) << sql << ": " << r.errorText();
    return r.ok();
}

std::string TestServer::newDatabase(const std::string& name)
{
    const std::string database = "t" + std::to_string(++m_counter) + "_" + name;
    run("postgres", "DROP DATABASE IF EXISTS " + database);
    run("postgres", "CREATE DATABASE " + database);
    return database;
}

std::string TestServer::addOperator(const std::string& database, const std::string& name, const std::string& password)
{
    const std::string role = database + "_" + name;
    run(database, "DROP ROLE IF EXISTS " + role);
    run(database, "CREATE ROLE " + role + " LOGIN PASSWORD '" + password + "' IN ROLE palvero_operator");
    run(database, "INSERT INTO operators (name) VALUES ('" + role + "')");
    return role;
}

} // namespace palvero::test
