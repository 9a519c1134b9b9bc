#include "meter_format_search.h"

#include "value_format.h"
#include "vif_tables.h"

#include <algorithm>
#include <map>
#include <set>

namespace palvero {

namespace {

constexpr int kLowestScale = -6;
constexpr int kHighestScale = 6;
// Below this many significant digits over all readings one field alone may fit by chance.
constexpr int kDigitsForUnique = 3;

struct Reading {
    bool negative = false;
    uint64_t digits = 0;
    int decimals = 0;
};

unsigned __int128 power10(int n)
{
    unsigned __int128 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

// The field's value v times 10^scale shows as the reading, rounded or cut at its last digit.
bool fits(int64_t v, int scale, const Reading& r)
{
    if (v == 0 || (v < 0) != r.negative)
        return false;
    const unsigned __int128 magnitude = v < 0 ? static_cast<unsigned __int128>(-(v + 1)) + 1 : static_cast<unsigned __int128>(v);
    const int e = scale + r.decimals;
    if (e >= 0)
        return e <= 20 && magnitude * power10(e) == r.digits;
    if (-e > 38)
        return false;
    const unsigned __int128 p = power10(-e);
    return magnitude / p == r.digits || (magnitude + p / 2) / p == r.digits;
}

int significantDigits(const Reading& r)
{
    std::string d = std::to_string(r.digits);
    while (!d.empty() && d.back() == '0')
        d.pop_back();
    return static_cast<int>(d.size());
}

// The codings searched: every size of each; signed only matters for negative readings.
std::vector<FormatField> codings(bool negative)
{
    std::vector<FormatField> out;
    for (int size = 1; size <= 8; ++size) {
        for (bool be : {false, true}) {
            if (be && size == 1)
                continue;
            FormatField f;
            f.size = size;
            f.bigEndian = be;
            f.coding = negative ? FormatField::Coding::Signed : FormatField::Coding::Unsigned;
            out.push_back(f);
            f.coding = FormatField::Coding::Bcd;
            out.push_back(f);
        }
    }
    return out;
}

// The DIF and VIF (with one VIFE) right before `start`, when they describe a field of this
// coding and size: the pattern that finds the field wherever the records put it.
std::vector<uint8_t> recordHeaderBefore(const std::vector<uint8_t>& data, int start, const FormatField& f)
{
    static const int binarySize[16] = {0, 1, 2, 3, 4, 0, 6, 8, 0, 0, 0, 0, 0, 0, 0, 0};
    static const int bcdSize[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 0, 6, 0};
    if (f.bigEndian)
        return {};
    for (int headerLength : {2, 3}) {
        const int at = start - headerLength;
        if (at < 0)
            continue;
        const uint8_t dif = data[static_cast<size_t>(at)];
        const uint8_t vif = data[static_cast<size_t>(at + 1)];
        if (dif & 0x80)
            continue;
        const int size = f.coding == FormatField::Coding::Bcd ? bcdSize[dif & 0x0F] : binarySize[dif & 0x0F];
        const bool vifChain = headerLength == 2 ? !(vif & 0x80) : (vif & 0x80) && !(data[static_cast<size_t>(at + 2)] & 0x80);
        if (size == f.size && vifChain && vif != 0x7C && vif != 0xFC)
            return std::vector<uint8_t>(data.begin() + at, data.begin() + start);
    }
    return {};
}

// The VIF of a record header says the reading's unit and the candidate's scale.
bool headerConfirms(const std::vector<uint8_t>& header, const FormatField& f, const std::string& unit)
{
    if (header.size() < 2)
        return false;
    const ReceiverFrame vif(header.begin() + 1, header.end());
    const VifInfo info = decodeVif(vif, 0, static_cast<int>(vif.size()));
    return info.unit == unit && info.exponent == f.scale;
}

struct Search {
    const std::vector<const TeachSample*>& samples;
    const std::vector<Reading>& readings;
    char separator;

    // The field gives every sample's reading (a reading of 0 wants a field of 0).
    bool fitsAll(const FormatField& f, std::vector<int>& starts, std::vector<std::string>& values) const
    {
        starts.clear();
        values.clear();
        for (size_t i = 0; i < samples.size(); ++i) {
            const auto& data = samples[i]->data;
            const auto v = readFieldValue(f, data.data(), data.size());
            if (!v)
                return false;
            const bool zero = readings[i].digits == 0;
            if (zero ? *v != 0 : !fits(*v, f.scale, readings[i]))
                return false;
            starts.push_back(fieldStart(f, data.data(), data.size()));
            values.push_back(renderScaled(*v, f.scale, 19, separator));
        }
        return true;
    }
};

} // namespace

bool parseReadingText(const std::string& text, bool& negative, uint64_t& digits, int& decimals)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    negative = i < text.size() && text[i] == '-';
    if (negative)
        ++i;
    digits = 0;
    decimals = -1;
    int count = 0;
    for (; i < text.size() && text[i] != ' '; ++i) {
        const char c = text[i];
        if ((c == '.' || c == ',') && decimals < 0) {
            decimals = 0;
        } else if (c >= '0' && c <= '9') {
            if (++count > 18)
                return false;
            digits = digits * 10 + static_cast<uint64_t>(c - '0');
            if (decimals >= 0)
                ++decimals;
        } else {
            return false;
        }
    }
    while (i < text.size() && text[i] == ' ')
        ++i;
    if (decimals < 0)
        decimals = 0;
    return count > 0 && i == text.size();
}

bool readingFits(int64_t value, int scale, const std::string& reading)
{
    Reading r;
    if (!parseReadingText(reading, r.negative, r.digits, r.decimals))
        return false;
    return r.digits == 0 ? value == 0 : fits(value, scale, r);
}

FormatSearch searchMeterFormat(const std::vector<TeachSample>& all, const std::string& unit, const std::string& name,
                               char separator)
{
    FormatSearch result;
    std::vector<const TeachSample*> samples;
    std::vector<Reading> readings;
    for (size_t i = 0; i < all.size(); ++i) {
        Reading r;
        if (all[i].reading.empty() || !parseReadingText(all[i].reading, r.negative, r.digits, r.decimals))
            continue;
        samples.push_back(&all[i]);
        readings.push_back(r);
        result.used.push_back(static_cast<int>(i));
    }
    if (samples.empty()) {
        result.why = "Type the reading on the meter's display beside a telegram.";
        return result;
    }
    for (const TeachSample* s : samples) {
        if (std::find(s->recordUnits.begin(), s->recordUnits.end(), unit) != s->recordUnits.end()) {
            result.outcome = FormatSearch::Outcome::None;
            result.why = "The telegram's own records hold a value in " + unit
                + ": they say what the table shows, and a meter format would not be used.";
            return result;
        }
    }
    // The search starts from a telegram whose reading is not 0: a field of zeros fits any.
    size_t seed = 0;
    while (seed < samples.size() && readings[seed].digits == 0)
        ++seed;
    if (seed == samples.size()) {
        result.outcome = FormatSearch::Outcome::None;
        result.why = "A reading of 0 fits every empty field: take a telegram whose reading is above 0.";
        return result;
    }

    Search search{samples, readings, separator};
    const auto& seedData = samples[seed]->data;
    const int n = static_cast<int>(seedData.size());
    std::vector<int> starts;
    std::vector<std::string> values;
    std::vector<FormatCandidate> found;
    for (const FormatField& coding : codings(readings[seed].negative)) {
        for (int at = 0; at + coding.size <= n; ++at) {
            FormatField f = coding;
            f.offset = at;
            const auto v = readFieldValue(f, seedData.data(), seedData.size());
            if (!v)
                continue;
            for (int scale = kLowestScale; scale <= kHighestScale; ++scale) {
                if (!fits(*v, scale, readings[seed]))
                    continue;
                f.scale = scale;
                FormatCandidate c;
                bool placed = false;
                // A record header before the field finds it wherever the records put it.
                // Only a header whose VIF says the reading's unit and scale is one: bytes of
                // another field may look like a DIF and a VIF.
                const auto header = recordHeaderBefore(seedData, at, f);
                if (!header.empty() && headerConfirms(header, f, unit)) {
                    FormatField byHeader = f;
                    byHeader.after = header;
                    byHeader.offset = 0;
                    if (fieldStart(byHeader, seedData.data(), seedData.size()) == at
                        && search.fitsAll(byHeader, starts, values)) {
                        c.field = byHeader;
                        c.recordHeader = true;
                        placed = true;
                    }
                }
                if (!placed && search.fitsAll(f, starts, values)) {
                    c.field = f;
                    placed = true;
                }
                // Else the field moves: the bytes before it, found first, tell where it is.
                for (int k : {4, 3, 2, 5, 6}) {
                    if (placed || at - k < 0)
                        continue;
                    FormatField byPattern = f;
                    byPattern.after.assign(seedData.begin() + at - k, seedData.begin() + at);
                    byPattern.offset = 0;
                    if (fieldStart(byPattern, seedData.data(), seedData.size()) == at
                        && search.fitsAll(byPattern, starts, values)) {
                        c.field = byPattern;
                        placed = true;
                    }
                }
                if (!placed)
                    continue;
                c.starts = starts;
                c.values = values;
                found.push_back(std::move(c));
            }
        }
    }

    // Wider fields that give the same values as a narrower one at the same place are one
    // field: keep 4 bytes (8 digits) where they fit, else the widest.
    std::map<std::string, std::vector<size_t>> same;
    for (size_t i = 0; i < found.size(); ++i) {
        const FormatCandidate& c = found[i];
        std::string key = std::to_string(static_cast<int>(c.field.coding)) + (c.field.bigEndian ? "b" : "l")
            + std::to_string(c.field.scale);
        for (size_t s = 0; s < c.starts.size(); ++s)
            key += "," + std::to_string(c.field.bigEndian ? c.starts[s] + c.field.size : c.starts[s]);
        same[key].push_back(i);
    }
    std::set<size_t> keep;
    for (const auto& [key, group] : same) {
        size_t best = group.front();
        for (size_t i : group) {
            const int size = found[i].field.size, bestSize = found[best].field.size;
            if (bestSize != 4 && (size == 4 || size > bestSize))
                best = i;
        }
        keep.insert(best);
    }
    for (size_t i : keep)
        result.candidates.push_back(found[i]);
    std::sort(result.candidates.begin(), result.candidates.end(), [](const auto& a, const auto& b) {
        return a.starts.front() != b.starts.front() ? a.starts.front() < b.starts.front()
                                                    : a.field.size < b.field.size;
    });

    int digits = 0;
    std::set<uint64_t> distinct;
    for (const auto& r : readings)
        if (distinct.insert(r.digits).second)
            digits += significantDigits(r);
    const size_t count = result.candidates.size();
    if (count == 0) {
        result.outcome = FormatSearch::Outcome::None;
        result.why = "No field gives these readings in every telegram: the value may be computed from several "
                     "fields or encrypted by the maker. Nothing was changed.";
        return result;
    }
    if (count > 1 || (digits < kDigitsForUnique && !result.candidates.front().recordHeader)) {
        result.outcome = FormatSearch::Outcome::Several;
        const std::string more = "add a telegram heard after the meter has counted on, with its reading.";
        if (count > 1)
            result.why = std::to_string(count) + " fields give " + (distinct.size() < 2 ? "this reading" : "these readings")
                + " in every telegram: " + more;
        else
            result.why = "One field gives " + std::string(distinct.size() < 2 ? "this reading" : "these readings")
                + ", but so few digits fit bytes by chance: " + more;
        return result;
    }

    result.outcome = FormatSearch::Outcome::Unique;
    const FormatCandidate& c = result.candidates.front();
    MeterFormat& format = result.format;
    format.name = name;
    const FormatTelegram first = samples.front()->header;
    format.manufacturer = first.manufacturer;
    format.linkCi = first.linkCi;
    format.applicationCi = first.applicationCi;
    bool sameVersion = true, sameType = true, sameLength = true;
    for (const auto* s : samples) {
        sameVersion = sameVersion && s->header.version == first.version;
        sameType = sameType && s->header.deviceType == first.deviceType;
        sameLength = sameLength && s->data.size() == samples.front()->data.size();
    }
    if (sameVersion)
        format.version = first.version;
    if (sameType)
        format.deviceType = first.deviceType;
    for (const auto& named : samples.front()->layout) {
        const bool shared = std::all_of(samples.begin(), samples.end(), [&](const TeachSample* s) {
            return std::find(s->layout.begin(), s->layout.end(), named) != s->layout.end();
        });
        if (shared)
            format.fixed.push_back(named);
    }
    // A field at a fixed place belongs to a layout of one length.
    if (c.field.after.empty() && sameLength)
        format.length = samples.front()->data.size();
    format.readings.push_back({c.field, unit, true});
    result.why = "One field gives every reading: " + formatFieldText(c.field) + " " + unit + ".";
    return result;
}

} // namespace palvero
