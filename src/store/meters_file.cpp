#include "meters_file.h"

#include "error_log.h"
#include "fixed_text.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>

namespace palvero {

std::array<std::uint8_t, MeterKeyRecord::kSize> MeterKeyRecord::encode() const
{
    std::array<std::uint8_t, kSize> bytes{};
    writeFixedText(bytes.data() + kIdOffset, kIdCapacity, id);
    writeFixedText(bytes.data() + kKeyOffset, kKeyCapacity, key);
    return bytes;
}

MeterKeyRecord MeterKeyRecord::decode(const std::uint8_t* record)
{
    MeterKeyRecord r;
    r.id = std::string(readFixedText(record + kIdOffset, kIdCapacity));
    r.key = std::string(readFixedText(record + kKeyOffset, kKeyCapacity));
    return r;
}

MetersFile::MetersFile(std::filesystem::path dataFolder, ErrorLogger& log)
    : m_file(dataFolder / kMetersFileName, MeterKeyRecord::kSize)
    , m_log(log)
{
}

namespace {

// Writes through any MetersFile of the program: another window's write within the same
// tick of the file system's clock changes neither size nor time, but this count.
std::uint64_t g_writes = 0;

// A file changed this recently may change again within the same tick of its clock (two
// seconds on the coarsest file systems) without its time showing it: it is read again.
constexpr std::chrono::seconds kSettleTime{2};

} // namespace

void MetersFile::changed()
{
    ++g_writes;
    m_index.valid = false;
}

int MetersFile::search(const std::string& meterId, std::string* key)
{
    std::error_code sizeError, timeError;
    const std::uintmax_t size = std::filesystem::file_size(m_file.path(), sizeError);
    const auto modified = std::filesystem::last_write_time(m_file.path(), timeError);
    const bool same = !sizeError && !timeError && m_index.valid && m_index.size == size
        && m_index.modified == modified && m_index.writes == g_writes;
    if (!same) {
        m_index.valid = false;
        std::vector<std::uint8_t> bytes;
        m_last = m_file.readAll(bytes);
        if (!m_last.ok())
            return -1;
        m_index.first.clear();
        const std::size_t count = bytes.size() / MeterKeyRecord::kSize;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* record = bytes.data() + i * MeterKeyRecord::kSize;
            m_index.first.emplace(std::string(readFixedText(record + MeterKeyRecord::kIdOffset, MeterKeyRecord::kIdCapacity)),
                                  std::make_pair(static_cast<int>(i), std::string(readFixedText(
                                                     record + MeterKeyRecord::kKeyOffset, MeterKeyRecord::kKeyCapacity))));
        }
        const auto now = std::filesystem::file_time_type::clock::now();
        m_index.valid = !sizeError && !timeError && modified + kSettleTime < now;
        m_index.size = size;
        m_index.modified = modified;
        m_index.writes = g_writes;
    } else {
        m_last = FileOutcome{};
    }
    const auto it = m_index.first.find(meterId);
    if (it == m_index.first.end())
        return -1;
    if (key)
        *key = it->second.second;
    return it->second.first;
}

MeterKeyLookup MetersFile::FindMeterKey(const std::string& meterId)
{
    MeterKeyLookup lookup;
    lookup.index = search(meterId, &lookup.key);
    lookup.found = lookup.index >= 0;
    if (m_last.status == FileStatus::Missing)
        m_log.LogErrorCode(logcode::MetersMissing);
    return lookup;
}

int MetersFile::FindMeterIndex(const std::string& meterId)
{
    const int index = search(meterId, nullptr);
    if (m_last.status == FileStatus::Missing)
        m_log.LogErrorCode(logcode::MetersMissingAtLookup);
    return index;
}

int MetersFile::SaveMeter(const std::string& meterId, const std::string& key)
{
    const Writing writing{*this};
    const int index = FindMeterIndex(meterId);
    // A lookup that could not read the file must not lead to a second record for the meter.
    if (m_last.ok()) {
        const auto record = MeterKeyRecord{meterId, key}.encode();
        m_last = index < 0 ? m_file.append(record.data())
                           : m_file.overwrite(static_cast<std::size_t>(index), record.data());
    }
    switch (m_last.status) {
    case FileStatus::Ok:
        return index < 0 ? MeterAdded : MeterUpdated;
    case FileStatus::Missing:
        m_log.LogErrorCode(logcode::MetersMissingAtSave);
        break;
    case FileStatus::IoError:
        m_log.LogErrorText(m_last.error);
        break;
    }
    return SaveFailed;
}

bool MetersFile::DeleteMeter(const std::string& meterId)
{
    const Writing writing{*this};
    const int index = FindMeterIndex(meterId);
    if (m_last.ok()) {
        if (index < 0)
            return false;
        m_last = m_file.remove(static_cast<std::size_t>(index));
    }
    switch (m_last.status) {
    case FileStatus::Ok:
        return true;
    case FileStatus::Missing:
        m_log.LogErrorCode(logcode::MetersMissing);
        break;
    case FileStatus::IoError:
        m_log.LogErrorText(m_last.error);
        break;
    }
    return false;
}

bool MetersFile::Truncate()
{
    const Writing writing{*this};
    m_last = m_file.truncate();
    return m_last.ok();
}

bool MetersFile::SaveMeters(const std::vector<MeterKeyRecord>& meters, SaveCount* count)
{
    const Writing writing{*this};
    SaveCount counted;
    std::vector<std::uint8_t> bytes;
    m_last = m_file.readAll(bytes);
    if (m_last.status == FileStatus::Missing) {
        m_log.LogErrorCode(logcode::MetersMissingAtLookup);
        m_log.LogErrorCode(logcode::MetersMissingAtSave);
        return false;
    }
    if (!m_last.ok()) {
        m_log.LogErrorText(m_last.error);
        return false;
    }
    // The first record of each ID is the one every lookup finds.
    std::unordered_map<std::string, std::size_t> firstOf;
    const std::size_t stored = bytes.size() / MeterKeyRecord::kSize;
    for (std::size_t i = stored; i-- > 0;)
        firstOf[std::string(readFixedText(bytes.data() + i * MeterKeyRecord::kSize + MeterKeyRecord::kIdOffset,
                                          MeterKeyRecord::kIdCapacity))] = i;
    for (const MeterKeyRecord& m : meters) {
        const std::string id = m.id.substr(0, MeterKeyRecord::kIdCapacity);
        const auto found = firstOf.find(id);
        if (found == firstOf.end()) {
            firstOf.emplace(id, bytes.size() / MeterKeyRecord::kSize);
            const auto record = MeterKeyRecord{id, m.key}.encode();
            bytes.insert(bytes.end(), record.begin(), record.end());
            ++counted.added;
            continue;
        }
        std::uint8_t* at = bytes.data() + found->second * MeterKeyRecord::kSize;
        const std::string_view key = readFixedText(at + MeterKeyRecord::kKeyOffset, MeterKeyRecord::kKeyCapacity);
        if (m.key.empty()) {
            ++counted.keysKept;
        } else if (key == std::string_view(m.key).substr(0, MeterKeyRecord::kKeyCapacity)) {
            ++counted.unchanged;
        } else {
            writeFixedText(at + MeterKeyRecord::kKeyOffset, MeterKeyRecord::kKeyCapacity, m.key);
            ++counted.keysChanged;
        }
    }
    // The whole file anew: all of the import or none of it.
    if (counted.added > 0 || counted.keysChanged > 0)
        m_last = m_file.replaceAll(bytes);
    if (!m_last.ok()) {
        m_log.LogErrorText(m_last.error);
        return false;
    }
    if (count)
        *count = counted;
    return true;
}

bool MetersFile::DeleteMeters(const std::vector<std::string>& meterIds, int* removed)
{
    const Writing writing{*this};
    if (removed)
        *removed = 0;
    std::vector<std::uint8_t> bytes;
    m_last = m_file.readAll(bytes);
    if (m_last.status == FileStatus::Missing) {
        m_log.LogErrorCode(logcode::MetersMissingAtLookup);
        m_log.LogErrorCode(logcode::MetersMissing);
        return false;
    }
    if (!m_last.ok()) {
        m_log.LogErrorText(m_last.error);
        return false;
    }
    std::unordered_map<std::string, int> toRemove;
    for (const std::string& id : meterIds)
        ++toRemove[id];
    std::vector<std::uint8_t> kept;
    kept.reserve(bytes.size());
    int gone = 0;
    for (std::size_t at = 0; at < bytes.size(); at += MeterKeyRecord::kSize) {
        const std::string_view id = readFixedText(bytes.data() + at + MeterKeyRecord::kIdOffset, MeterKeyRecord::kIdCapacity);
        const auto listed = toRemove.find(std::string(id));
        if (listed != toRemove.end() && listed->second > 0) {
            --listed->second;
            ++gone;
            continue;
        }
        kept.insert(kept.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                    bytes.begin() + static_cast<std::ptrdiff_t>(at + MeterKeyRecord::kSize));
    }
    if (gone > 0)
        m_last = m_file.replaceAll(kept);
    if (!m_last.ok()) {
        m_log.LogErrorText(m_last.error);
        return false;
    }
    if (removed)
        *removed = gone;
    return true;
}

std::vector<MeterKeyRecord> MetersFile::ReadAll()
{
    std::vector<std::uint8_t> bytes;
    m_last = m_file.readAll(bytes);
    std::vector<MeterKeyRecord> records;
    records.reserve(bytes.size() / MeterKeyRecord::kSize);
    for (std::size_t at = 0; at + MeterKeyRecord::kSize <= bytes.size(); at += MeterKeyRecord::kSize)
        records.push_back(MeterKeyRecord::decode(bytes.data() + at));
    return records;
}

} // namespace palvero
