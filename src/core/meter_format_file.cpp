#include "meter_format_file.h"

#include <algorithm>
#include <fstream>
#include <sstream>

namespace palvero {

bool readMeterFormatsFile(const std::filesystem::path& file, std::vector<MeterFormat>& formats,
                          std::vector<FormatTextError>* errors)
{
    formats.clear();
    std::error_code ec;
    if (!std::filesystem::exists(file, ec))
        return !ec;
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream text;
    text << in.rdbuf();
    formats = parseMeterFormats(text.str(), errors);
    // A model taught again is saved under its name again: the later format replaces it.
    for (size_t i = formats.size(); i-- > 0;) {
        const std::string& name = formats[i].name;
        const bool replaced = std::any_of(formats.begin() + static_cast<long>(i) + 1, formats.end(),
                                          [&](const MeterFormat& later) { return later.name == name; });
        if (replaced)
            formats.erase(formats.begin() + static_cast<long>(i));
    }
    return !in.bad();
}

bool appendMeterFormat(const std::filesystem::path& file, const MeterFormat& format)
{
    std::error_code ec;
    if (!std::filesystem::is_directory(file.parent_path().empty() ? "." : file.parent_path(), ec))
        return false;
    const bool fresh = !std::filesystem::exists(file, ec);
    std::ofstream out(file, std::ios::app | std::ios::binary);
    if (!out)
        return false;
    out << (fresh ? "# Meter formats: where each model's readings lie in its telegrams\n" : "") << "\n"
        << meterFormatText(format);
    out.flush();
    return static_cast<bool>(out);
}

} // namespace palvero
