#pragma once

#include "error_logger.h"
#include "meter_key_source.h"
#include "record_file.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace palvero {

inline constexpr char kMetersFileName[] = "meters.mrv";

// One meter of meters.mrv: the ID text (at most 8 characters) and the AES-128 key text
// (at most 32), each stored as a length byte and a fixed-capacity character field.
struct MeterKeyRecord {
    static constexpr std::size_t kSize = 42;
    static constexpr std::size_t kIdCapacity = 8;
    static constexpr std::size_t kKeyCapacity = 32;
    static constexpr std::size_t kIdOffset = 0;
    static constexpr std::size_t kKeyOffset = 9;

    std::string id;
    std::string key;

    // Texts cut to their capacity, unused bytes zero.
    std::array<std::uint8_t, kSize> encode() const;
    // Reads exactly kSize bytes from `record`; length bytes above the capacity are clamped.
    static MeterKeyRecord decode(const std::uint8_t* record);

    bool operator==(const MeterKeyRecord& o) const { return id == o.id && key == o.key; }
};

// The meters-and-keys file meters.mrv in the data folder. Each operation opens the file,
// works and closes it; the file and its folder are never created. A meter is identified by
// its exact stored ID text (byte-wise, case-sensitive); lookups take the first match.
// Failures go to the error log and the detailed log; nothing is shown to the operator.
// Lookups read the file again only when it changed (its size or modification time, or a
// write through any MetersFile of the program), so that a key added by another window is
// found at once and a walk past ten thousand meters does not read the file per telegram.
// After every operation lastOutcome() tells what it met (the meters window picks its own
// codes and error texts from it).
class MetersFile : public MeterKeySource {
public:
    enum SaveResult : int { SaveFailed = 0, MeterAdded = 1, MeterUpdated = 2 };

    MetersFile(std::filesystem::path dataFolder, ErrorLogger& log);

    std::filesystem::path path() const { return m_file.path(); }

    // Index of the first record with this ID, whether it was found, and its key. A missing
    // file logs code 41; a missing file, a read error or an unknown ID give -1 and no key.
    MeterKeyLookup FindMeterKey(const std::string& meterId);
    MeterKeyLookup findMeterKey(const std::string& meterId) override { return FindMeterKey(meterId); }

    // The same search giving only the index; a missing file logs code 63.
    int FindMeterIndex(const std::string& meterId);

    // Overwrites the meter's record in place (MeterUpdated) or writes a new one after the last
    // whole record (MeterAdded). A missing file logs 63 and 61; an I/O error, the lookup's read
    // included, logs its text to the detailed log; both give SaveFailed.
    int SaveMeter(const std::string& meterId, const std::string& key);

    // Removes the meter's record, keeping the order of the others. False when the ID is not
    // stored; a missing file logs 63 and 41; an I/O error, the lookup's read included, logs its
    // text to the detailed log.
    bool DeleteMeter(const std::string& meterId);

    // Cuts the file to zero records. False on a missing file or an I/O error; nothing is
    // logged, the caller reports.
    bool Truncate();

    // What SaveMeters did.
    struct SaveCount {
        int added = 0;       // new meters, after the last record
        int keysChanged = 0; // stored meters that took another key
        int keysKept = 0;    // stored meters given no key: the stored key stays
        int unchanged = 0;   // stored meters given the key they have
    };
    // Many meters at once, in one read and one write of the file: a meter stored already
    // (its first record) takes the given key, or keeps its own when the given key is empty;
    // any other meter is added after the last record. The file is written only when
    // something changed. A missing file logs 63 and 61, an I/O error logs its text, and
    // nothing is written then.
    bool SaveMeters(const std::vector<MeterKeyRecord>& meters, SaveCount* count = nullptr);

    // Removes, for every listed ID, the first record with that ID still there (an ID
    // listed twice removes two), keeping the order of the rest, in one read and one write.
    // `removed` gives how many went. A missing file logs 63 and 41; an I/O error logs its
    // text (lastOutcome() holds it too).
    bool DeleteMeters(const std::vector<std::string>& meterIds, int* removed = nullptr);

    // Every record in file order; empty on a missing file or a read error, nothing logged.
    std::vector<MeterKeyRecord> ReadAll();

    const FileOutcome& lastOutcome() const { return m_last; }

private:
    int search(const std::string& meterId, std::string* key);
    void changed();
    // Marks the index stale when a writing operation ends, whatever it met.
    struct Writing {
        MetersFile& file;
        ~Writing() { file.changed(); }
    };

    // The first record of every ID, as the file stood when it was last read.
    struct KeyIndex {
        bool valid = false;
        std::uintmax_t size = 0;
        std::filesystem::file_time_type modified{};
        std::uint64_t writes = 0;
        std::unordered_map<std::string, std::pair<int, std::string>> first;
    };
    KeyIndex m_index;

    RecordFile m_file;
    ErrorLogger& m_log;
    FileOutcome m_last;
};

} // namespace palvero
