#include "compact_formats.h"

#include "crc16.h"
#include "receiver_frame.h"
#include "value_format.h"

#include <algorithm>

namespace palvero {

namespace {

// Length of the data field of a record with this DIF whose data start at data[at].
// -1 when a variable-length field's length byte is missing.
int fieldLength(uint8_t dif, const uint8_t* data, size_t n, size_t at)
{
    if ((dif & 0x0F) != 0x0D)
        return difDataLength(dif & 0x0F);
    if (at >= n)
        return -1;
    const uint8_t lvar = data[at];
    const int chars = lvar <= 0xBF ? lvar : lvar <= 0xFA ? (lvar & 0x0F) : 0;
    return chars + 1;
}

// End of a chain of bytes continued by bit 7, starting at `at`; n when it runs out.
size_t chainEnd(const std::vector<uint8_t>& bytes, size_t at)
{
    while (at < bytes.size() && (bytes[at] & 0x80))
        ++at;
    return at < bytes.size() ? at + 1 : bytes.size() + 1;
}

} // namespace

uint16_t compactFormatSignature(const std::vector<uint8_t>& headers)
{
    return crc16En13757(headers.data(), headers.size());
}

bool rebuildCompactRecords(const std::vector<uint8_t>& headers, const uint8_t* data, size_t n,
                           std::vector<uint8_t>& out)
{
    out.clear();
    size_t h = 0, d = 0;
    while (h < headers.size()) {
        const uint8_t dif = headers[h];
        const size_t vif = chainEnd(headers, h);
        const size_t next = vif < headers.size() ? chainEnd(headers, vif) : headers.size() + 1;
        if (next > headers.size())
            return false;
        const int length = fieldLength(dif, data, n, d);
        if (length < 0 || d + static_cast<size_t>(length) > n)
            return false;
        out.insert(out.end(), headers.begin() + static_cast<long>(h), headers.begin() + static_cast<long>(next));
        out.insert(out.end(), data + d, data + d + length);
        h = next;
        d += static_cast<size_t>(length);
    }
    return true;
}

CompactFormats::CompactFormats(bool withKnownTable)
{
    if (!withKnownTable)
        return;
    size_t count = 0;
    const KnownCompactFormat* known = knownCompactFormats(&count);
    for (size_t i = 0; i < count; ++i)
        m_formats.emplace(known[i].signature,
                          std::vector<uint8_t>(known[i].headers, known[i].headers + known[i].length));
}

const std::vector<uint8_t>* CompactFormats::find(uint16_t signature) const
{
    auto it = m_formats.find(signature);
    return it == m_formats.end() ? nullptr : &it->second;
}

CompactFormats::Learned CompactFormats::learn(const std::vector<uint8_t>& headers)
{
    return add(compactFormatSignature(headers), headers) ? Learned::New : Learned::AlreadyKnown;
}

bool CompactFormats::add(uint16_t signature, const std::vector<uint8_t>& headers)
{
    // Looked up first: a format heard before costs no copy of its bytes.
    if (m_formats.count(signature) || !m_formats.emplace(signature, headers).second)
        return false;
    m_learned.emplace(signature, true);
    return true;
}

std::vector<std::pair<uint16_t, std::vector<uint8_t>>> CompactFormats::learnedFormats() const
{
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> out;
    for (const auto& [signature, learned] : m_learned)
        if (learned)
            out.emplace_back(signature, m_formats.at(signature));
    std::sort(out.begin(), out.end());
    return out;
}

std::string compactFormatLine(uint16_t signature, const std::vector<uint8_t>& headers)
{
    std::string line = hexByte(static_cast<uint8_t>(signature >> 8)) + hexByte(static_cast<uint8_t>(signature));
    for (uint8_t b : headers)
        line += " " + hexByte(b);
    return line;
}

bool parseCompactFormatLine(const std::string& line, uint16_t& signature, std::vector<uint8_t>& headers)
{
    // The signature's four digits, then the DIF and VIF bytes of its records.
    headers.clear();
    if (!parseHexBytes(line, headers) || headers.size() < 3)
        return false;
    signature = static_cast<uint16_t>(headers[0] << 8 | headers[1]);
    headers.erase(headers.begin(), headers.begin() + 2);
    return compactFormatSignature(headers) == signature;
}

} // namespace palvero
