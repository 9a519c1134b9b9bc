#include "vif_tables.h"

#include "transport_layer.h"

#include <array>
#include <charconv>
#include <iterator>

namespace palvero {

namespace {

constexpr VifRow kPrimary[] = {
    {0x00, 0x07, "kWh", "", -6, 1},
    {0x08, 0x0D, "kJ", "", -3, 1},
    {0x0E, 0x0F, "MJ", "", 0, 1},
    {0x10, 0x17, "m3", "", -6, 1},
    {0x20, 0x20, "On Time", "seconds", 0, 0},
    {0x21, 0x21, "On Time", "minutes", 0, 0},
    {0x22, 0x22, "On Time", "hours", 0, 0},
    {0x23, 0x23, "On Time", "days", 0, 0},
    {0x24, 0x24, "Operating Time", "seconds", 0, 0},
    {0x25, 0x25, "Operating Time", "minutes", 0, 0},
    {0x26, 0x26, "Operating Time", "hours", 0, 0},
    {0x27, 0x27, "Operating Time", "days", 0, 0},
    {0x28, 0x2D, "W", "", -3, 1},
    {0x2E, 0x2F, "kW", "", 0, 1},
    {0x30, 0x36, "J/h", "", 0, 1},
    {0x38, 0x3F, "l/h", "Debit", -3, 1},
    {0x58, 0x5B, "deg. C", "Flow Temp.", -3, 1},
    {0x5C, 0x5F, "deg. C", "Return Temp.", -3, 1},
    {0x60, 0x63, "deg. K", "TDiff", -3, 1},
    {0x64, 0x67, "deg. C", "External Temperature", -3, 1},
    {0x68, 0x6A, "mbar", "", 0, 1},
    {0x6C, 0x6C, "Time point", "Date (dd.mm.yyyy)", 0, 0},
    {0x6D, 0x6D, "Time point", "Date and time (hh:mm, dd.mm.yyyy)", 0, 0},
    {0x6E, 0x6E, "N/A", "", 0, 0},
    {0x70, 0x70, "Average duration", "", 0, 0},
    {0x74, 0x74, "Actuality Duration", "", 0, 0},
    {0x78, 0x78, "Fabr. No.", "", 0, 0},
};

constexpr VifRow kFb[] = {
    {0x00, 0x01, "kWh", "", 2, 1},
    {0x02, 0x07, "Reserved", "", 0, 0},
    {0x08, 0x09, "GJ", "", -1, 1},
    {0x0A, 0x0F, "Reserved", "", 0, 0},
    {0x10, 0x11, "m3", "", 2, 1},
    {0x12, 0x27, "VIF not supported", "", 0, 0},
    {0x28, 0x29, "kW", "", 2, 1},
    {0x2A, 0x2F, "Reserved", "", 0, 0},
    {0x30, 0x57, "VIF not supported", "", 0, 0},
    {0x58, 0x5A, "Flow Temperature, deg. F", "", -3, 1},
    {0x5B, 0x5B, "Flow Temperature, F", "", 0, 0},
    {0x5C, 0x5E, "Return Temperature, deg. F", "", -3, 1},
    {0x5F, 0x5F, "Return Temperature, deg. F", "", 0, 0},
    {0x60, 0x62, "Temp. difference, deg. F", "", -3, 1},
    {0x63, 0x63, "Temp. difference, F", "", 0, 0},
    {0x64, 0x66, "External temperature, deg. F", "", -3, 1},
    {0x67, 0x67, "External temperature, deg. F", "", 0, 0},
    {0x68, 0x6F, "Reserved", "", 0, 0},
    {0x70, 0x7F, "VIF not supported", "", 0, 0},
};

// Units only; the voltage and current rows carry their exponent in the text alone.
constexpr VifRow kFd[] = {
    {0x00, 0x03, "Credit in currency units", "", 0, 0},
    {0x04, 0x07, "Debit in currency units", "", 0, 0},
    {0x08, 0x08, "Access Number", "", 0, 0},
    {0x09, 0x09, "Medium", "", 0, 0},
    {0x0A, 0x0A, "Manufacturer", "", 0, 0},
    {0x0B, 0x0B, "Enhanced identification", "", 0, 0},
    {0x0C, 0x0C, "Model/Version", "", 0, 0},
    {0x0D, 0x0D, "Hardware version No.", "", 0, 0},
    {0x0E, 0x0E, "Firmware version No.", "", 0, 0},
    {0x0F, 0x0F, "Software version No.", "", 0, 0},
    {0x10, 0x10, "Customer location", "", 0, 0},
    {0x11, 0x11, "Customer", "", 0, 0},
    {0x12, 0x12, "Access code user", "", 0, 0},
    {0x13, 0x13, "Access code operator", "", 0, 0},
    {0x14, 0x15, "VIF not supported", "", 0, 0},
    {0x16, 0x16, "Password", "", 0, 0},
    {0x17, 0x17, "Error flags", "", 0, 0},
    {0x18, 0x18, "Error mask", "", 0, 0},
    {0x19, 0x19, "Reserved", "", 0, 0},
    {0x1A, 0x1A, "Digitial Output (binary)", "", 0, 0},
    {0x1B, 0x1B, "Digitial Input (binary)", "", 0, 0},
    {0x1C, 0x1C, "Baudrate", "", 0, 0},
    {0x1D, 0x1D, "Response Delay time", "", 0, 0},
    {0x1E, 0x1E, "Retry", "", 0, 0},
    {0x1F, 0x1F, "Reserved", "", 0, 0},
    {0x20, 0x39, "VIF not supported", "", 0, 0},
    {0x3A, 0x3A, "Dimensionless", "", 0, 0},
    {0x3B, 0x3F, "VIF not supported", "", 0, 0},
    {0x40, 0x4F, "Volts, 10^", "", -9, 1},
    {0x50, 0x55, "Ampers, 10^", "", -12, 1},
    {0x56, 0x7F, "VIF not supported", "", 0, 0},
};

// The row of every code from 0 to 127, -1 for none: one look instead of a search per record.
template <size_t N>
constexpr std::array<int8_t, 128> rowsByCode(const VifRow (&rows)[N])
{
    std::array<int8_t, 128> index{};
    for (auto& i : index)
        i = -1;
    for (size_t r = N; r-- > 0;)
        for (int code = rows[r].first; code <= rows[r].last && code < 128; ++code)
            index[static_cast<size_t>(code)] = static_cast<int8_t>(r);
    return index;
}

constexpr auto kPrimaryByCode = rowsByCode(kPrimary);
constexpr auto kFbByCode = rowsByCode(kFb);
constexpr auto kFdByCode = rowsByCode(kFd);

template <size_t N>
const VifRow* rowOf(const VifRow (&rows)[N], const std::array<int8_t, 128>& index, uint8_t code)
{
    const int r = code < 128 ? index[code] : -1;
    return r < 0 ? nullptr : &rows[r];
}

int exponentOf(const VifRow& r, uint8_t code)
{
    return r.exponent + r.step * (code - r.first);
}

void apply(VifMeaning& m, const VifRow& r, uint8_t code, bool setDescription)
{
    m.unit = r.unit;
    if (setDescription && !r.description.empty())
        m.description = r.description;
    m.exponent = exponentOf(r, code);
    m.factor = powerOfTen(m.exponent);
}

// The characters of a plain-text unit, cut where the frame ends.
void appendPlainText(std::string& text, const ReceiverFrame& f, int lengthAt)
{
    int len = byteAt(f, lengthAt);
    for (int i = 1; i <= len && static_cast<size_t>(lengthAt + i) < f.size(); ++i)
        text += printableCellChar(f[static_cast<size_t>(lengthAt + i)]);
}

} // namespace

const VifTables& vifTables()
{
    static const VifTables t = {kPrimary, static_cast<int>(std::size(kPrimary)), kFb,
        static_cast<int>(std::size(kFb)), kFd, static_cast<int>(std::size(kFd))};
    return t;
}

double powerOfTen(int exponent)
{
    static const double powers[] = {1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6};
    if (exponent >= -6 && exponent <= 6)
        return powers[exponent + 6];
    double v = 1.0;
    for (int i = 0; i < exponent; ++i)
        v *= 10.0;
    for (int i = 0; i > exponent; --i)
        v /= 10.0;
    return v;
}

int plainTextUnitLengthOffset(uint8_t vif, int v, int d)
{
    if (vif == 0x7C)
        return v + 1;
    if (vif == 0xFC)
        return d;
    return -1;
}

namespace {

// What a VIF means where its byte alone says it (every VIF but the plain-text units and
// the extensions FB and FD), worked out once for all 256.
struct SingleByteMeanings {
    std::array<VifMeaning, 256> meaning;
    std::array<bool, 256> single{};
};

void describeSingleByte(uint8_t vif, VifMeaning& m)
{
    if (vif == 0x7F || vif == 0xFF)
        m.unit = "Manufacturer specific";
    if (vif == 0x7E || vif == 0xFE)
        m.unit = "Readout - not supported for now";
    if (vif < 0xF0) {
        const uint8_t key = vif & 0x7F;
        if (const VifRow* r = rowOf(kPrimary, kPrimaryByCode, key))
            apply(m, *r, key, true);
    }
}

const SingleByteMeanings& singleByteMeanings()
{
    static const SingleByteMeanings table = [] {
        SingleByteMeanings t;
        for (int vif = 0; vif < 256; ++vif) {
            const bool single = vif != 0x7C && vif != 0xFC && vif != 0xFB && vif != 0xFD;
            t.single[static_cast<size_t>(vif)] = single;
            if (single)
                describeSingleByte(static_cast<uint8_t>(vif), t.meaning[static_cast<size_t>(vif)]);
        }
        return t;
    }();
    return table;
}

} // namespace

void describeVif(const ReceiverFrame& f, int v, int d, VifMeaning& m, std::string& ownUnit)
{
    const uint8_t vif = byteAt(f, v);
    const SingleByteMeanings& table = singleByteMeanings();
    if (table.single[vif]) {
        m = table.meaning[vif];
        return;
    }
    m = VifMeaning{};

    if (vif == 0x7C || vif == 0xFC) {
        int lengthAt = plainTextUnitLengthOffset(vif, v, d);
        if (byteAt(f, lengthAt) > 0) {
            ownUnit.assign(vif == 0x7C ? "" : "VIF is user ASCII string: ");
            appendPlainText(ownUnit, f, lengthAt);
            m.ownUnit = true;
            m.description = "text";
        }
        return;
    }
    if (vif == 0xFD) {
        const uint8_t code = byteAt(f, v + 1) & 0x7F;
        if (const VifRow* r = rowOf(kFd, kFdByCode, code)) {
            m.unit = r->unit;
            if (r->step != 0) {
                char number[8];
                const auto end = std::to_chars(number, number + sizeof number, exponentOf(*r, code)).ptr;
                ownUnit.assign(r->unit).append(number, end);
                m.ownUnit = true;
            }
        }
        return;
    }
    if (vif == 0xFB) {
        const uint8_t code = byteAt(f, v + 1) & 0x7F;
        if (const VifRow* r = rowOf(kFb, kFbByCode, code))
            apply(m, *r, code, false);
        return;
    }
}

void decodeVif(const ReceiverFrame& f, int v, int d, VifInfo& info)
{
    VifMeaning m;
    describeVif(f, v, d, m, info.unit);
    if (!m.ownUnit)
        info.unit.assign(m.unit);
    info.description.assign(m.description);
    info.exponent = m.exponent;
    info.factor = m.factor;
}

VifInfo decodeVif(const ReceiverFrame& f, int v, int d)
{
    VifInfo info;
    decodeVif(f, v, d, info);
    return info;
}

} // namespace palvero
