#pragma once

#include "central_outcome.h"
#include "code_page.h"
#include "outbox.h"

#include <functional>
#include <string>
#include <vector>

namespace palvero::central {

class PgConnection;

// The COPY text of one reading: the row the server stages before adding it to readings.
// Texts cross into UTF-8 here, read in `page`; an RSSI cell that is no number is sent as no
// RSSI.
std::string copyLine(const OutboxReading& r, CodePage page);

// Sends the readings waiting in the outbox in batches, one transaction each, as the
// connected operator. A batch's readings are confirmed in the outbox only after the
// server committed them; a reading the server holds already (sent before, its
// confirmation lost) is left as it is, so every reading is stored exactly once however
// often it is sent. The cells' texts are read in `page`. The caller drives it a batch at a
// time, so that it can show progress and stop between batches.
class ReadingSender {
public:
    ReadingSender(PgConnection& db, Outbox& outbox, CodePage page, int batchSize = 500);

    // Checks the schema and takes the readings waiting now; those heard meanwhile wait
    // for the next send.
    bool begin(Outcome& outcome);
    // One batch; false when it failed (nothing of it is confirmed then).
    bool step(Outcome& outcome);
    bool done() const { return m_next >= m_readings.size(); }
    // Writes the outbox anew without the confirmed readings; after a failure too.
    bool finish(Outcome& outcome);

    int total() const { return static_cast<int>(m_readings.size()); }
    int confirmed() const { return m_confirmed; }
    // Of the confirmed readings, those the server did not have yet.
    int added() const { return m_added; }

    // Between the batch's insert and its commit, and between the commit and its
    // confirmation in the outbox: where a connection may drop or the laptop die.
    std::function<void(int batch)> beforeCommit;
    std::function<void(int batch)> afterCommit;

private:
    PgConnection& m_db;
    Outbox& m_outbox;
    CodePage m_page;
    int m_batchSize;
    std::vector<OutboxReading> m_readings;
    size_t m_next = 0;
    int m_batch = 0;
    int m_confirmed = 0;
    int m_added = 0;
};

} // namespace palvero::central
