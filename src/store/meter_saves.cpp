#include "meter_saves.h"

#include "error_log.h"
#include "meter_table.h"

#include <unordered_set>

namespace palvero {

bool SaveMeterFromTable(MetersFile& meters, ErrorLogger& log, const std::string& meterId, const std::string& key)
{
    // Cut to the file's 8 characters it would be another meter, and never found again.
    if (meterId.size() > MeterKeyRecord::kIdCapacity)
        return false;
    const MeterKeyLookup lookup = meters.FindMeterKey(meterId);
    FileOutcome outcome = meters.lastOutcome();
    if (outcome.status == FileStatus::Missing)
        return false; // FindMeterKey has logged it
    if (outcome.ok()) {
        const RecordFile file(meters.path(), MeterKeyRecord::kSize);
        const auto record = MeterKeyRecord{meterId, key}.encode();
        outcome = lookup.found ? file.overwrite(static_cast<std::size_t>(lookup.index), record.data())
                               : file.append(record.data());
    }
    if (!outcome.ok())
        log.LogErrorText(outcome.error);
    return outcome.ok();
}

NewMetersSave SaveNewMeters(MetersFile& meters, ErrorLogger& log, const TextGrid& table)
{
    NewMetersSave result;
    const std::vector<MeterKeyRecord> stored = meters.ReadAll();
    const FileOutcome read = meters.lastOutcome();
    // The file keeps IDs of at most 8 characters: a longer one is not stored (cut, it would
    // name another meter, and be added again at every exit).
    std::unordered_set<std::string> known;
    for (const MeterKeyRecord& r : stored)
        known.insert(r.id);
    std::vector<std::uint8_t> records;
    for (int row = 1; row < table.rowCount(); ++row) {
        const std::string& id = table.cell(row, col::MeterId);
        if (id.empty() || id.size() > MeterKeyRecord::kIdCapacity || !known.insert(id).second)
            continue;
        const auto record = MeterKeyRecord{id, table.cell(row, col::EncryptionKey)}.encode();
        records.insert(records.end(), record.begin(), record.end());
    }
    const int wanted = static_cast<int>(records.size() / MeterKeyRecord::kSize);

    FileOutcome outcome = read;
    std::size_t appended = 0;
    if (read.ok() && wanted > 0)
        outcome = RecordFile(meters.path(), MeterKeyRecord::kSize).appendMany(records.data(), static_cast<std::size_t>(wanted), &appended);
    result.added = static_cast<int>(appended);
    result.status = outcome.status;
    result.cause = outcome.cause;
    result.error = outcome.error;
    if (outcome.ok())
        return result;
    // Without a readable file nothing is known, so every meter of the table counts.
    result.notSaved = wanted - result.added;
    if (outcome.status == FileStatus::Missing) {
        log.LogErrorCode(logcode::MetersMissingAtExit);
        log.LogErrorText(kMetersFileMissingText);
    } else {
        log.LogErrorCode(logcode::MetersGrid);
        log.LogErrorText(outcome.error);
    }
    return result;
}

} // namespace palvero
