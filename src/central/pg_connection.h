#pragma once

#include "central_outcome.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct pg_conn;
struct pg_result;

namespace palvero::central {

// The connection text of the settings: a libpq service name ("palvero"), or a connection
// string ("host=db.example.com dbname=meters sslmode=verify-full", "postgresql://...").
// Empty when nothing is set.
std::string connectionString(std::string_view setting);

// True when the connection text itself holds a password, which the settings file must
// never keep.
bool namesPassword(const std::string& conninfo);

// One statement's result; owns the libpq result.
class PgResult {
public:
    PgResult() = default;
    explicit PgResult(pg_result* r);
    ~PgResult();
    PgResult(PgResult&& o) noexcept;
    PgResult& operator=(PgResult&& o) noexcept;

    // True for a command or a query that went through.
    bool ok() const;
    int rows() const;
    bool isNull(int row, int column) const;
    std::string text(int row, int column) const;
    // Rows the command changed ("INSERT 0 7" gives 7).
    long affected() const;
    // The command's tag: "COMMIT", or "ROLLBACK" for a commit of a failed transaction.
    std::string command() const;
    // The five-character SQLSTATE, empty when there is none.
    std::string sqlState() const;
    std::string errorText() const;

private:
    pg_result* m_result = nullptr;
};

// A connection to the central database. Notices are not printed; every call reports.
class PgConnection {
public:
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Connects with the connection text and, when not empty, the password (otherwise libpq
    // takes it from its password file). A server asking for a password that was not given
    // gives NeedsPassword; a refused one WrongPassword; anything else Unreachable.
    static std::unique_ptr<PgConnection> open(const std::string& conninfo, const std::string& password,
                                              Outcome& outcome);

    PgResult exec(const std::string& sql);
    PgResult exec(const std::string& sql, const std::vector<std::optional<std::string>>& params);
    // COPY ... FROM STDIN with `data` in COPY's text form; false with `error` set.
    bool copyIn(const std::string& copySql, std::string_view data, std::string& error);

    // The outcome of a failed statement: a lost connection is Unreachable, row-level
    // security and privileges Refused, a reading whose operator is unknown NotAnOperator.
    Outcome failure(const PgResult& r) const;
    Outcome failure(const std::string& detail) const;

    bool connected() const;
    std::string user() const;
    int serverPid() const;

private:
    explicit PgConnection(pg_conn* c);
    pg_conn* m_conn;
};

// A transaction that rolls back unless committed.
class PgTransaction {
public:
    explicit PgTransaction(PgConnection& c);
    ~PgTransaction();
    bool begin(Outcome& outcome);
    bool commit(Outcome& outcome);

private:
    PgConnection& m_conn;
    bool m_open = false;
};

} // namespace palvero::central
