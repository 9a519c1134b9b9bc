#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace palvero {

// The template store in the template folder.
inline constexpr char kTemplateFileName[] = "tmplates.dat";

// The column types of import and export templates. A template column holds a code 1..16
// naming a meter-table column, or 255 for a column without a type. Import templates use
// only the first four codes.
namespace columntype {
constexpr std::uint8_t None = 255;
constexpr int Count = 16;
constexpr int ImportCount = 4;
constexpr int MaxColumns = 16; // template columns, and type bytes kept per template

// Type names in code order (code = index + 1).
inline constexpr std::array<const char*, Count> kNames = {
    "Meter ID", "AES-128 key", "Free text", "Manufacturer", "Value",   "Unit",    "Time",    "Date",
    "Other 1",  "Other 2",     "Other 3",   "Other 4",      "Other 5", "Other 6", "Other 7", "Other 8",
};

// The name of a code, or an empty text for 255 and any code outside 1..16.
inline const char* name(int code)
{
    return code >= 1 && code <= Count ? kNames[static_cast<std::size_t>(code - 1)] : "";
}
} // namespace columntype

// The columns of a saved template as the CSV exchange applies them: `count` positions
// (0..16), each with its column type code.
struct TemplateColumns {
    int count = 0;
    std::array<std::uint8_t, columntype::MaxColumns> types{};
};

// What a lookup of a template by name met.
struct TemplateLookup {
    enum class Status {
        Found,    // `columns` holds the template
        NotFound, // the store has no template of that name
        Missing,  // there is no template store at all
        Error,    // the store could not be read; `error` says why
    };
    Status status = Status::NotFound;
    TemplateColumns columns;
    std::string error;
};

// Where the CSV exchange finds the template the operator chose. Templates are named
// exactly (byte-wise, case-sensitive); of several with one name the last one counts,
// whatever its type.
class TemplateSource {
public:
    virtual ~TemplateSource() = default;
    virtual TemplateLookup findTemplate(const std::string& name) = 0;
};

} // namespace palvero
