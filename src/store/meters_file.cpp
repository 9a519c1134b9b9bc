#include "meters_file.h"

#include "error_log.h"
#include "fixed_text.h"

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
