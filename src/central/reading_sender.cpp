#include "reading_sender.h"

#include "cell_codec.h"
#include "pg_connection.h"
#include "schema.h"

#include <charconv>

namespace palvero::central {

namespace {

constexpr char kHex[] = "0123456789abcdef";

constexpr char kStagingTable[] =
    "CREATE TEMP TABLE IF NOT EXISTS palvero_incoming ("
    " reading_id uuid, meter_id text, laptop text, heard_at timestamptz, manufacturer text, medium text,"
    " rssi_dbm smallint, main_value text, unit text, additional text[], decrypted boolean, telegram bytea)"
    " ON COMMIT DELETE ROWS";
constexpr char kCopy[] =
    "COPY palvero_incoming (reading_id, meter_id, laptop, heard_at, manufacturer, medium, rssi_dbm,"
    " main_value, unit, additional, decrypted, telegram) FROM STDIN";
constexpr char kAdd[] =
    "INSERT INTO readings (reading_id, meter_id, operator_name, laptop, heard_at, manufacturer, medium, rssi_dbm,"
    " main_value, unit, additional, decrypted, telegram)"
    " SELECT reading_id, meter_id, current_user, laptop, heard_at, manufacturer, medium, rssi_dbm,"
    " main_value, unit, additional, decrypted, telegram FROM palvero_incoming"
    " ON CONFLICT (reading_id) DO NOTHING";

// COPY's text form: backslash escapes for the characters that end fields and rows.
void copyField(std::string& out, std::string_view text)
{
    for (char c : text) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        default: out += c;
        }
    }
}

// An array literal of quoted elements: {"a","b \"c\""}.
std::string arrayLiteral(const std::vector<std::string>& values, CodePage page)
{
    std::string out = "{";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i)
            out += ',';
        out += '"';
        for (char c : databaseText(values[i], page)) {
            if (c == '"' || c == '\\')
                out += '\\';
            out += c;
        }
        out += '"';
    }
    out += '}';
    return out;
}

std::string rssiField(const std::string& cell)
{
    int value = 0;
    const char* end = cell.data() + cell.size();
    const auto parsed = std::from_chars(cell.data(), end, value);
    if (cell.empty() || parsed.ec != std::errc() || parsed.ptr != end || value < -32768 || value > 32767)
        return "\\N";
    return cell;
}

} // namespace

std::string copyLine(const OutboxReading& r, CodePage page)
{
    std::string line;
    auto text = [&line, page](std::string_view cell) {
        copyField(line, databaseText(cell, page));
        line += '\t';
    };
    text(r.id);
    text(r.meterId);
    text(r.laptop);
    text(r.heardAt);
    text(r.manufacturer);
    text(r.medium);
    line += rssiField(r.rssi);
    line += '\t';
    text(r.mainValue);
    text(r.unit);
    copyField(line, arrayLiteral(r.additional, page));
    line += r.decrypted ? "\tt\t\\\\x" : "\tf\t\\\\x";
    for (uint8_t b : r.telegram) {
        line += kHex[b >> 4];
        line += kHex[b & 0x0F];
    }
    line += '\n';
    return line;
}

ReadingSender::ReadingSender(PgConnection& db, Outbox& outbox, CodePage page, int batchSize)
    : m_db(db)
    , m_outbox(outbox)
    , m_page(page)
    , m_batchSize(batchSize > 0 ? batchSize : 500)
{
}

bool ReadingSender::begin(Outcome& outcome)
{
    int version = 0;
    if (!schemaVersion(m_db, version, outcome))
        return false;
    if (version < kLaptopSchemaVersion) {
        outcome = Outcome::failed(Outcome::Kind::NotSetUp, "schema version " + std::to_string(version)
                                      + ", version " + std::to_string(kLaptopSchemaVersion) + " or later needed");
        return false;
    }
    PgResult staging = m_db.exec(kStagingTable);
    if (!staging.ok()) {
        outcome = m_db.failure(staging);
        return false;
    }
    std::string error;
    if (!m_outbox.waitingReadings(m_readings, error)) {
        outcome = Outcome::failed(Outcome::Kind::FileError, error);
        return false;
    }
    m_next = 0;
    outcome = {};
    return true;
}

bool ReadingSender::step(Outcome& outcome)
{
    if (done())
        return true;
    const size_t end = std::min(m_readings.size(), m_next + static_cast<size_t>(m_batchSize));
    std::string data;
    std::vector<std::string> ids;
    for (size_t i = m_next; i < end; ++i) {
        data += copyLine(m_readings[i], m_page);
        ids.push_back(m_readings[i].id);
    }
    ++m_batch;

    PgTransaction t(m_db);
    if (!t.begin(outcome))
        return false;
    std::string error;
    if (!m_db.copyIn(kCopy, data, error)) {
        outcome = m_db.failure(error);
        return false;
    }
    PgResult added = m_db.exec(kAdd);
    if (!added.ok()) {
        outcome = m_db.failure(added);
        return false;
    }
    if (beforeCommit)
        beforeCommit(m_batch);
    if (!t.commit(outcome))
        return false;
    if (afterCommit)
        afterCommit(m_batch);

    if (const WriteOutcome confirmed = m_outbox.confirm(ids); !confirmed) {
        // On the server, not yet off the laptop: the next send finds them there.
        outcome = Outcome::fileFailed(confirmed);
        return false;
    }
    m_added += static_cast<int>(added.affected());
    m_confirmed += static_cast<int>(ids.size());
    m_next = end;
    outcome = {};
    return true;
}

bool ReadingSender::finish(Outcome& outcome)
{
    if (!m_outbox.hasConfirmations())
        return true;
    if (const WriteOutcome compacted = m_outbox.compact(); !compacted) {
        outcome = Outcome::fileFailed(compacted);
        return false;
    }
    return true;
}

} // namespace palvero::central
