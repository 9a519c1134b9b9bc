#pragma once

#include "pg_connection.h"

#include <memory>
#include <string>

namespace palvero::test {

// The PostgreSQL server that pg_server.sh started for this test run (its state folder is
// in PALVERO_TEST_PG_STATE). Each test gets a database of its own; roles are made with a
// name of their own, since a server's roles are shared by all its databases.
class TestServer {
public:
    // Nothing, with `why` set, when there is no server to test against.
    static TestServer* get(std::string& why);

    // A new empty database; its connection text for the administrator.
    std::string newDatabase(const std::string& name);
    // The same database as another role, with a password (or none).
    std::string as(const std::string& database, const std::string& role) const;
    std::string adminOf(const std::string& database) const;
    // A login role with a password, member of palvero_operator, listed among the operators.
    std::string addOperator(const std::string& database, const std::string& name, const std::string& password);

    // A connection that must work; the test fails otherwise.
    std::unique_ptr<central::PgConnection> connect(const std::string& conninfo, const std::string& password = "");
    // One statement as the administrator of the database; false (and a test failure) on error.
    bool run(const std::string& database, const std::string& sql);

    const std::string& socket() const { return m_socket; }

private:
    std::string m_socket;
    int m_counter = 0;
};

} // namespace palvero::test
