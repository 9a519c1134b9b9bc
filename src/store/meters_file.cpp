#include "meters_file.h"

#include "error_log.h"
#include "fixed_text.h"

#include <algorithm>
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

int MetersFile::search(const std::string& meterId, std::string* key)
{
    // The file is small and a lookup may run for every telegram: one read, no cache.
    std::vector<std::uint8_t> bytes;
    m_last = m_file.readAll(bytes);
    if (!m_last.ok())
        return -1;
    const std::size_t count = bytes.size() / MeterKeyRecord::kSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = bytes.data() + i * MeterKeyRecord::kSize;
        if (readFixedText(record + MeterKeyRecord::kIdOffset, MeterKeyRecord::kIdCapacity) == meterId) {
            if (key)
                *key = std::string(readFixedText(record + MeterKeyRecord::kKeyOffset, MeterKeyRecord::kKeyCapacity));
            return static_cast<int>(i);
        }
    }
    return -1;
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

void MetersFile::logFailure(int missingCode)
{
    if (m_last.status == FileStatus::Missing)
        m_log.LogErrorCode(missingCode);
    else if (m_last.status == FileStatus::IoError)
        m_log.LogErrorText(m_last.error);
}

bool MetersFile::readForChange(std::vector<std::uint8_t>& bytes, int missingCode)
{
    // Logged as the lookup before a single change and the change itself would log it.
    m_last = m_file.readAll(bytes);
    if (m_last.status == FileStatus::Missing)
        m_log.LogErrorCode(logcode::MetersMissingAtLookup);
    if (!m_last.ok())
        logFailure(missingCode);
    return m_last.ok();
}

std::vector<int> MetersFile::SaveMeters(const std::vector<MeterKeyRecord>& meters)
{
    std::vector<int> results(meters.size(), SaveFailed);
    std::vector<std::uint8_t> bytes;
    if (!readForChange(bytes, logcode::MetersMissingAtSave))
        return results;
    const std::size_t stored = bytes.size() / MeterKeyRecord::kSize;
    std::unordered_map<std::string, std::size_t> index; // first record of each ID
    for (std::size_t i = stored; i-- > 0;)
        index[std::string(readFixedText(bytes.data() + i * MeterKeyRecord::kSize + MeterKeyRecord::kIdOffset,
                                        MeterKeyRecord::kIdCapacity))] = i;
    bool updated = false;
    std::vector<std::size_t> recordOf(meters.size());
    for (std::size_t m = 0; m < meters.size(); ++m) {
        const auto record = meters[m].encode();
        // Looked up as SaveMeter looks it up: by the whole text, so an ID longer than the
        // field is never found and is added again, cut.
        auto found = index.find(meters[m].id);
        if (found == index.end()) {
            recordOf[m] = bytes.size() / MeterKeyRecord::kSize;
            bytes.insert(bytes.end(), record.begin(), record.end());
            index.emplace(std::string(readFixedText(record.data() + MeterKeyRecord::kIdOffset, MeterKeyRecord::kIdCapacity)),
                          recordOf[m]);
            results[m] = MeterAdded;
        } else {
            recordOf[m] = found->second;
            std::copy(record.begin(), record.end(),
                      bytes.begin() + static_cast<std::ptrdiff_t>(recordOf[m] * MeterKeyRecord::kSize));
            updated |= recordOf[m] < stored;
            results[m] = MeterUpdated;
        }
    }
    // Only new meters: appended in place. Else the whole file anew, all or nothing.
    std::size_t kept = stored;
    if (updated) {
        m_last = m_file.replaceAll(bytes);
    } else if (bytes.size() > stored * MeterKeyRecord::kSize) {
        std::size_t appended = 0;
        m_last = m_file.appendMany(bytes.data() + stored * MeterKeyRecord::kSize,
                                   bytes.size() / MeterKeyRecord::kSize - stored, &appended);
        kept += appended;
    }
    if (!m_last.ok()) {
        logFailure(logcode::MetersMissingAtSave);
        // An append cut short keeps the meters that reached the file.
        for (std::size_t m = 0; m < meters.size(); ++m)
            if (updated || recordOf[m] >= kept)
                results[m] = SaveFailed;
    }
    return results;
}

int MetersFile::DeleteMeters(const std::vector<std::string>& meterIds)
{
    std::vector<std::uint8_t> bytes;
    if (!readForChange(bytes, logcode::MetersMissing))
        return -1;
    const std::size_t count = bytes.size() / MeterKeyRecord::kSize;
    std::unordered_map<std::string, std::vector<std::size_t>> records; // of each ID, in file order
    for (std::size_t i = 0; i < count; ++i)
        records[std::string(readFixedText(bytes.data() + i * MeterKeyRecord::kSize + MeterKeyRecord::kIdOffset,
                                          MeterKeyRecord::kIdCapacity))].push_back(i);
    std::vector<bool> removed(count, false);
    std::unordered_map<std::string, std::size_t> taken;
    int removals = 0;
    for (const std::string& id : meterIds) {
        auto it = records.find(id);
        if (it == records.end())
            continue;
        std::size_t& next = taken[id];
        if (next < it->second.size()) {
            removed[it->second[next++]] = true;
            ++removals;
        }
    }
    if (removals == 0)
        return 0;
    std::vector<std::uint8_t> kept;
    kept.reserve(bytes.size() - static_cast<std::size_t>(removals) * MeterKeyRecord::kSize);
    for (std::size_t i = 0; i < count; ++i)
        if (!removed[i])
            kept.insert(kept.end(), bytes.begin() + static_cast<std::ptrdiff_t>(i * MeterKeyRecord::kSize),
                        bytes.begin() + static_cast<std::ptrdiff_t>((i + 1) * MeterKeyRecord::kSize));
    m_last = m_file.replaceAll(kept);
    if (!m_last.ok()) {
        logFailure(logcode::MetersMissing);
        return -1;
    }
    return removals;
}

bool MetersFile::Truncate()
{
    m_last = m_file.truncate();
    return m_last.ok();
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
