#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace palvero {

// The name of the file beside the meters file that keeps the compact frame formats heard
// on earlier walks: one format a line, its signature in hex and the DIF/VIF bytes of its
// records (the reading keeps it; nothing here touches a file).
inline constexpr char kCompactFormatsFileName[] = "compact-formats.txt";

// A format signature: CRC-16/EN-13757 over the DIF, DIFE, VIF and VIFE bytes of all
// records of the full frame that declares the format.
uint16_t compactFormatSignature(const std::vector<uint8_t>& headers);

// One format of the table compiled into the program.
struct KnownCompactFormat {
    uint16_t signature;
    const uint8_t* headers;
    size_t length;
};
// The compiled-in table, in signature order.
const KnownCompactFormat* knownCompactFormats(size_t* count);

// Rebuilds the full records of a compact frame: the format's DIF/VIF bytes with the
// data fields from `data` (a variable-length field takes its length byte from there).
// Bytes after the last field are left out. False when the data run out first.
bool rebuildCompactRecords(const std::vector<uint8_t>& headers, const uint8_t* data, size_t n,
                           std::vector<uint8_t>& out);

// The formats the reader knows: the compiled-in table and the ones learned from full
// frames or given from a store of formats heard before.
class CompactFormats {
public:
    // NewNotSaved: a store above this table could not keep the new format.
    enum class Learned { AlreadyKnown, New, NewNotSaved };

    explicit CompactFormats(bool withKnownTable = true);

    // The DIF/VIF bytes of the format with this signature; nothing when it is unknown.
    const std::vector<uint8_t>* find(uint16_t signature) const;
    // Takes the format of a full frame (its records' DIF/VIF bytes, in order).
    Learned learn(const std::vector<uint8_t>& headers);
    // Takes a format learned on an earlier walk; false when its signature is known already.
    bool add(uint16_t signature, const std::vector<uint8_t>& headers);

    // The learned formats (not the compiled-in table), in signature order.
    std::vector<std::pair<uint16_t, std::vector<uint8_t>>> learnedFormats() const;
    size_t size() const { return m_formats.size(); }

private:
    std::unordered_map<uint16_t, std::vector<uint8_t>> m_formats;
    std::unordered_map<uint16_t, bool> m_learned; // learned here, not compiled in
};

// A format as the formats file writes it: "C412 02 FF 20 04 13".
std::string compactFormatLine(uint16_t signature, const std::vector<uint8_t>& headers);
// Reads such a line; false when it gives no valid format (its signature must be that of
// its bytes).
bool parseCompactFormatLine(const std::string& line, uint16_t& signature, std::vector<uint8_t>& headers);

} // namespace palvero
