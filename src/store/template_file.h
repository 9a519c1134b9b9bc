#pragma once

#include "record_file.h"
#include "template_source.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace palvero {

// One template of tmplates.dat: name (length byte and 32 characters), type byte
// (1 export, 0 import), column count and sixteen column type bytes.
struct TemplateRecord {
    static constexpr std::size_t kSize = 51;
    static constexpr std::size_t kNameCapacity = 32;
    static constexpr std::size_t kNameOffset = 0;
    static constexpr std::size_t kTypeOffset = 33;
    static constexpr std::size_t kCountOffset = 34;
    static constexpr std::size_t kTypesOffset = 35;
    static constexpr std::uint8_t kImport = 0;
    static constexpr std::uint8_t kExport = 1;

    TemplateRecord() { columnTypes.fill(columntype::None); }

    std::string name;
    std::uint8_t type = kImport;
    std::uint8_t columnCount = 1;
    std::array<std::uint8_t, columntype::MaxColumns> columnTypes;

    // The column count a reader can rely on: the stored count, at most 16 (a damaged
    // record may claim more, or none).
    int usableColumnCount() const;
    TemplateColumns columns() const;

    // The name cut to 32 characters and the count brought into 1..16, so that a record
    // written by the program is never a damaged one; unused name bytes are zero.
    std::array<std::uint8_t, kSize> encode() const;
    // Reads exactly kSize bytes; a name length above 32 reads as 32; type and count
    // bytes are kept as stored.
    static TemplateRecord decode(const std::uint8_t* record);
};

// The template store tmplates.dat in the template folder. Every operation opens the file,
// works and closes it; the file is never created (a missing file is reported as Missing).
// A trailing partial record is no template: it is never read, and a save that appends
// writes over it. Nothing is logged here; the callers show or log what they met.
class TemplateFile : public TemplateSource {
public:
    explicit TemplateFile(std::filesystem::path templateFolder);

    const std::filesystem::path& path() const { return m_file.path(); }
    // Whether anything is there; what cannot be read as a store shows in the operations.
    bool exists() const;

    // Every template in file order.
    FileOutcome ReadAll(std::vector<TemplateRecord>& records) const;

    // Writes the template over the first one with the same (cut) name, else after the
    // last one. `replaced` tells which. The file is read before anything is written: a
    // read error writes nothing.
    FileOutcome Save(const TemplateRecord& record, bool* replaced = nullptr) const;

    // Removes the first template with this name; the later ones move down in order.
    // `found` is false when there is none (the file is then left untouched).
    FileOutcome Delete(const std::string& name, bool* found = nullptr) const;

    TemplateLookup findTemplate(const std::string& name) override;

private:
    // Index of the first record named `name`, or -1.
    static int firstNamed(const std::vector<std::uint8_t>& bytes, const std::string& name);

    RecordFile m_file;
};

} // namespace palvero
