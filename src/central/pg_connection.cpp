#include "pg_connection.h"

#include <libpq-fe.h>

#include <cstdlib>

namespace palvero::central {

namespace {

std::string trimmed(std::string_view s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(first, last - first + 1));
}

std::string withoutLineEnd(std::string text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

void ignoreNotice(void*, const char*) {}

} // namespace

std::string connectionString(std::string_view setting)
{
    std::string text = trimmed(setting);
    if (text.empty())
        return text;
    if (text.find('=') != std::string::npos || text.rfind("postgresql://", 0) == 0 || text.rfind("postgres://", 0) == 0)
        return text;
    return "service=" + text;
}

bool namesPassword(const std::string& conninfo)
{
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    if (error)
        PQfreemem(error);
    if (!options)
        return false; // libpq says what is wrong with it when connecting
    bool found = false;
    for (PQconninfoOption* o = options; o->keyword; ++o)
        if (std::string_view(o->keyword) == "password" && o->val && *o->val)
            found = true;
    PQconninfoFree(options);
    return found;
}

PgResult::PgResult(pg_result* r)
    : m_result(r)
{
}

PgResult::~PgResult()
{
    if (m_result)
        PQclear(m_result);
}

PgResult::PgResult(PgResult&& o) noexcept
    : m_result(o.m_result)
{
    o.m_result = nullptr;
}

PgResult& PgResult::operator=(PgResult&& o) noexcept
{
    if (this != &o) {
        if (m_result)
            PQclear(m_result);
        m_result = o.m_result;
        o.m_result = nullptr;
    }
    return *this;
}

bool PgResult::ok() const
{
    if (!m_result)
        return false;
    const ExecStatusType s = PQresultStatus(m_result);
    return s == PGRES_COMMAND_OK || s == PGRES_TUPLES_OK || s == PGRES_COPY_IN;
}

int PgResult::rows() const
{
    return m_result ? PQntuples(m_result) : 0;
}

bool PgResult::isNull(int row, int column) const
{
    return !m_result || row >= rows() || column >= PQnfields(m_result) || PQgetisnull(m_result, row, column);
}

std::string PgResult::text(int row, int column) const
{
    if (isNull(row, column))
        return {};
    return std::string(PQgetvalue(m_result, row, column), static_cast<size_t>(PQgetlength(m_result, row, column)));
}

long PgResult::affected() const
{
    return m_result ? std::strtol(PQcmdTuples(m_result), nullptr, 10) : 0;
}

std::string PgResult::command() const
{
    return m_result ? PQcmdStatus(m_result) : "";
}

std::string PgResult::sqlState() const
{
    const char* s = m_result ? PQresultErrorField(m_result, PG_DIAG_SQLSTATE) : nullptr;
    return s ? s : "";
}

std::string PgResult::errorText() const
{
    if (!m_result)
        return "no result from the server";
    const char* primary = PQresultErrorField(m_result, PG_DIAG_MESSAGE_PRIMARY);
    return withoutLineEnd(primary ? primary : PQresultErrorMessage(m_result));
}

PgConnection::PgConnection(pg_conn* c)
    : m_conn(c)
{
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
}

PgConnection::~PgConnection()
{
    PQfinish(m_conn);
}

std::unique_ptr<PgConnection> PgConnection::open(const std::string& conninfo, const std::string& password,
                                                 Outcome& outcome)
{
    if (conninfo.empty()) {
        outcome = Outcome::failed(Outcome::Kind::NotConfigured, "no central database is set");
        return nullptr;
    }
    // Time-outs first, so that those of the connection text win: without a network the
    // laptop waits seconds, not minutes, at a Stop. The password last, so that an asked
    // one wins over a stale one.
    std::vector<const char*> keys{"connect_timeout", "tcp_user_timeout", "fallback_application_name", "dbname"};
    std::vector<const char*> values{"5", "20000", "palvero", conninfo.c_str()};
    if (!password.empty()) {
        keys.push_back("password");
        values.push_back(password.c_str());
    }
    keys.push_back(nullptr);
    values.push_back(nullptr);
    pg_conn* c = PQconnectdbParams(keys.data(), values.data(), 1);
    if (!c) {
        outcome = Outcome::failed(Outcome::Kind::Unreachable, "out of memory");
        return nullptr;
    }
    if (PQstatus(c) == CONNECTION_OK) {
        outcome = {};
        return std::unique_ptr<PgConnection>(new PgConnection(c));
    }
    const std::string detail = withoutLineEnd(PQerrorMessage(c));
    if (PQconnectionNeedsPassword(c))
        outcome = Outcome::failed(Outcome::Kind::NeedsPassword, detail);
    else if (PQconnectionUsedPassword(c) && detail.find("authentication failed") != std::string::npos)
        outcome = Outcome::failed(Outcome::Kind::WrongPassword, detail);
    else
        outcome = Outcome::failed(Outcome::Kind::Unreachable, detail);
    PQfinish(c);
    return nullptr;
}

PgResult PgConnection::exec(const std::string& sql)
{
    return PgResult(PQexec(m_conn, sql.c_str()));
}

PgResult PgConnection::exec(const std::string& sql, const std::vector<std::optional<std::string>>& params)
{
    std::vector<const char*> values;
    values.reserve(params.size());
    for (const auto& p : params)
        values.push_back(p ? p->c_str() : nullptr);
    return PgResult(PQexecParams(m_conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                 nullptr, nullptr, 0));
}

bool PgConnection::copyIn(const std::string& copySql, std::string_view data, std::string& error)
{
    PgResult start = exec(copySql);
    if (!start.ok()) {
        error = start.errorText();
        return false;
    }
    constexpr size_t kPiece = 1 << 16;
    for (size_t at = 0; at < data.size(); at += kPiece) {
        const size_t n = std::min(kPiece, data.size() - at);
        if (PQputCopyData(m_conn, data.data() + at, static_cast<int>(n)) != 1) {
            error = withoutLineEnd(PQerrorMessage(m_conn));
            return false;
        }
    }
    if (PQputCopyEnd(m_conn, nullptr) != 1) {
        error = withoutLineEnd(PQerrorMessage(m_conn));
        return false;
    }
    bool ok = true;
    while (pg_result* r = PQgetResult(m_conn)) {
        PgResult result(r);
        if (!result.ok() && ok) {
            ok = false;
            error = result.errorText();
        }
    }
    return ok;
}

Outcome PgConnection::failure(const PgResult& r) const
{
    const std::string state = r.sqlState();
    if (!connected() || state.rfind("08", 0) == 0 || state.rfind("57P", 0) == 0)
        return failure(r.errorText());
    if (state == "42501")
        return Outcome::failed(Outcome::Kind::Refused, r.errorText());
    if (state == "23503" && r.errorText().find("operator") != std::string::npos)
        return Outcome::failed(Outcome::Kind::NotAnOperator, r.errorText());
    if (state == "42P01" || state == "42703")
        return Outcome::failed(Outcome::Kind::NotSetUp, r.errorText());
    return Outcome::failed(Outcome::Kind::ServerError, r.errorText());
}

Outcome PgConnection::failure(const std::string& detail) const
{
    if (!connected()) {
        const std::string lost = withoutLineEnd(PQerrorMessage(m_conn));
        return Outcome::failed(Outcome::Kind::Unreachable, lost.empty() ? detail : lost);
    }
    return Outcome::failed(Outcome::Kind::ServerError, detail);
}

bool PgConnection::connected() const
{
    return PQstatus(m_conn) == CONNECTION_OK;
}

std::string PgConnection::user() const
{
    const char* u = PQuser(m_conn);
    return u ? u : "";
}

int PgConnection::serverPid() const
{
    return PQbackendPID(m_conn);
}

PgTransaction::PgTransaction(PgConnection& c)
    : m_conn(c)
{
}

PgTransaction::~PgTransaction()
{
    if (m_open && m_conn.connected())
        m_conn.exec("ROLLBACK");
}

bool PgTransaction::begin(Outcome& outcome)
{
    PgResult r = m_conn.exec("BEGIN");
    if (!r.ok()) {
        outcome = m_conn.failure(r);
        return false;
    }
    m_open = true;
    return true;
}

bool PgTransaction::commit(Outcome& outcome)
{
    PgResult r = m_conn.exec("COMMIT");
    m_open = false;
    if (!r.ok()) {
        outcome = m_conn.failure(r);
        return false;
    }
    if (r.command() != "COMMIT") {
        outcome = m_conn.failure("the server rolled the transaction back");
        return false;
    }
    return true;
}

} // namespace palvero::central
