#include "template_file.h"

#include "fixed_text.h"

#include <algorithm>
#include <cstring>

namespace palvero {

int TemplateRecord::usableColumnCount() const
{
    return std::min<int>(columnCount, columntype::MaxColumns);
}

TemplateColumns TemplateRecord::columns() const
{
    TemplateColumns c;
    c.count = usableColumnCount();
    c.types = columnTypes;
    return c;
}

std::array<std::uint8_t, TemplateRecord::kSize> TemplateRecord::encode() const
{
    std::array<std::uint8_t, kSize> bytes{};
    writeFixedText(bytes.data() + kNameOffset, kNameCapacity, name);
    bytes[kTypeOffset] = type;
    bytes[kCountOffset] = static_cast<std::uint8_t>(std::clamp<int>(columnCount, 1, columntype::MaxColumns));
    std::memcpy(bytes.data() + kTypesOffset, columnTypes.data(), columnTypes.size());
    return bytes;
}

TemplateRecord TemplateRecord::decode(const std::uint8_t* record)
{
    TemplateRecord r;
    r.name = std::string(readFixedText(record + kNameOffset, kNameCapacity));
    r.type = record[kTypeOffset];
    r.columnCount = record[kCountOffset];
    std::memcpy(r.columnTypes.data(), record + kTypesOffset, r.columnTypes.size());
    return r;
}

TemplateFile::TemplateFile(std::filesystem::path templateFolder)
    : m_file(templateFolder / kTemplateFileName, TemplateRecord::kSize)
{
}

bool TemplateFile::exists() const
{
    std::error_code ec;
    return std::filesystem::exists(m_file.path(), ec);
}

FileOutcome TemplateFile::ReadAll(std::vector<TemplateRecord>& records) const
{
    records.clear();
    std::vector<std::uint8_t> bytes;
    FileOutcome outcome = m_file.readAll(bytes);
    records.reserve(bytes.size() / TemplateRecord::kSize);
    for (std::size_t at = 0; at + TemplateRecord::kSize <= bytes.size(); at += TemplateRecord::kSize)
        records.push_back(TemplateRecord::decode(bytes.data() + at));
    return outcome;
}

int TemplateFile::firstNamed(const std::vector<std::uint8_t>& bytes, const std::string& name)
{
    const std::size_t count = bytes.size() / TemplateRecord::kSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = bytes.data() + i * TemplateRecord::kSize;
        if (readFixedText(record + TemplateRecord::kNameOffset, TemplateRecord::kNameCapacity) == name)
            return static_cast<int>(i);
    }
    return -1;
}

FileOutcome TemplateFile::Save(const TemplateRecord& record, bool* replaced) const
{
    if (replaced)
        *replaced = false;
    std::vector<std::uint8_t> bytes;
    FileOutcome outcome = m_file.readAll(bytes);
    if (!outcome.ok())
        return outcome;
    // Stored names are cut, so a longer name is looked up as it will be stored.
    const int index = firstNamed(bytes, record.name.substr(0, TemplateRecord::kNameCapacity));
    const auto encoded = record.encode();
    outcome = index < 0 ? m_file.append(encoded.data())
                        : m_file.overwrite(static_cast<std::size_t>(index), encoded.data());
    if (outcome.ok() && replaced)
        *replaced = index >= 0;
    return outcome;
}

FileOutcome TemplateFile::Delete(const std::string& name, bool* found) const
{
    if (found)
        *found = false;
    std::vector<std::uint8_t> bytes;
    FileOutcome outcome = m_file.readAll(bytes);
    if (!outcome.ok())
        return outcome;
    const int index = firstNamed(bytes, name);
    if (index < 0)
        return outcome;
    outcome = m_file.remove(static_cast<std::size_t>(index));
    if (outcome.ok() && found)
        *found = true;
    return outcome;
}

TemplateLookup TemplateFile::findTemplate(const std::string& name)
{
    TemplateLookup lookup;
    std::vector<TemplateRecord> records;
    const FileOutcome outcome = ReadAll(records);
    switch (outcome.status) {
    case FileStatus::Missing:
        lookup.status = TemplateLookup::Status::Missing;
        lookup.error = outcome.error;
        return lookup;
    case FileStatus::IoError:
        lookup.status = TemplateLookup::Status::Error;
        lookup.error = outcome.error;
        return lookup;
    case FileStatus::Ok:
        break;
    }
    for (const TemplateRecord& r : records) {
        if (r.name != name)
            continue;
        lookup.status = TemplateLookup::Status::Found;
        lookup.columns = r.columns();
    }
    return lookup;
}

} // namespace palvero
