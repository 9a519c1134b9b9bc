#pragma once

#include "safe_file.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_set>
#include <vector>

namespace palvero::central {

inline constexpr char kOutboxFileName[] = "outbox.txt";

// One telegram read on the laptop, as the table showed it: texts are the cells' own
// single-byte text, the telegram the receiver frame as it arrived (before decryption).
struct OutboxReading {
    std::string id;      // made when heard: a random UUID, lower case
    std::string heardAt; // UTC, "2026-05-04T09:30:00.123Z"
    std::string laptop;
    std::string meterId;
    std::string manufacturer;
    std::string medium;
    std::string rssi; // "RSSI, dBm" cell
    std::string mainValue;
    std::string unit;
    std::vector<std::string> additional;
    bool decrypted = false;
    std::vector<uint8_t> telegram;

    bool operator==(const OutboxReading& o) const;
};

// A new reading ID: a version 4 UUID from the system's random source.
std::string newReadingId();
// "2026-05-04T09:30:00.123Z"
std::string utcTimestamp(std::chrono::system_clock::time_point t);

// The readings heard and not yet confirmed by the central database, in outbox.txt in the
// data folder. Each reading is one line, added and synced to the disk at once; a reading the
// server confirmed gets a line of its own, so that nothing is rewritten while a send runs;
// compact() then writes the file anew with the readings still waiting. Every line carries a
// check sum: a line cut short by a crash, or damaged otherwise, is never sent and never
// dropped. The file is made on the first reading; the data folder never is.
class Outbox {
public:
    explicit Outbox(std::filesystem::path dataFolder);

    const std::filesystem::path& path() const { return m_path; }

    // Reads the file again; a missing file is an empty outbox.
    bool load(std::string& error);
    int waitingCount() const { return static_cast<int>(m_waiting.size()); }
    int damagedCount() const { return m_damaged; }
    bool hasConfirmations() const { return m_confirmations > 0; }

    // The reading on the disk; after a failure (a full disk, say) the next reading still
    // starts a line of its own.
    WriteOutcome add(const OutboxReading& reading);
    // The readings waiting now, in the order they were heard (read from the file).
    bool waitingReadings(std::vector<OutboxReading>& readings, std::string& error);
    // The server holds these readings; they no longer wait.
    WriteOutcome confirm(const std::vector<std::string>& ids);
    // Writes the file anew without the confirmed readings; damaged lines are kept. A failure
    // leaves the file as it was.
    WriteOutcome compact();

    // One reading as its line (without the line end), and back; false for a damaged line.
    static std::string encode(const OutboxReading& reading);
    static bool decode(std::string_view line, OutboxReading& reading);

private:
    struct Scan;
    bool scan(Scan& result, std::string& error) const;
    WriteOutcome append(const std::string& lines);

    std::filesystem::path m_path;
    std::unordered_set<std::string> m_waiting;
    int m_damaged = 0;
    int m_confirmations = 0;
    bool m_endsInsideLine = false;
};

} // namespace palvero::central
