#include "compact_formats_file.h"

#include <fstream>
#include <string>

namespace palvero {

KeptCompactFormats& KeptCompactFormats::operator=(CompactFormats formats)
{
    CompactFormats::operator=(std::move(formats));
    m_file.clear();
    m_skipped = 0;
    return *this;
}

void KeptCompactFormats::useFile(const std::filesystem::path& file)
{
    m_file = file;
    m_skipped = 0;
    std::ifstream in(file);
    std::string line;
    std::vector<uint8_t> headers;
    while (std::getline(in, line)) {
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        uint16_t signature = 0;
        if (!parseCompactFormatLine(line, signature, headers)) {
            ++m_skipped;
            continue;
        }
        add(signature, headers);
    }
}

CompactFormats::Learned KeptCompactFormats::learn(const std::vector<uint8_t>& headers)
{
    const Learned learned = CompactFormats::learn(headers);
    if (learned != Learned::New || m_file.empty())
        return learned;
    return append(compactFormatSignature(headers), headers) ? Learned::New : Learned::NewNotSaved;
}

bool KeptCompactFormats::append(uint16_t signature, const std::vector<uint8_t>& headers)
{
    // Only the folder's existence is checked: the file itself is ours to create.
    std::error_code ec;
    if (!std::filesystem::is_directory(m_file.parent_path().empty() ? "." : m_file.parent_path(), ec))
        return false;
    const bool fresh = !std::filesystem::exists(m_file, ec);
    std::ofstream out(m_file, std::ios::app | std::ios::binary);
    if (!out)
        return false;
    if (fresh)
        out << "# Compact frame formats heard: the signature, then the DIF and VIF bytes of its records\n";
    out << compactFormatLine(signature, headers) << "\n";
    out.flush();
    return static_cast<bool>(out);
}

} // namespace palvero
