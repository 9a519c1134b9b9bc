#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace palvero {

// Where a model's readings lie in its telegram when no standard record says so, and how
// they are written. Plain values only: the unit knows nothing of the meter table, the
// settings or files, so that a reader of any telegram source can use it.

// The telegram as a meter format looks at it: the link layer's fields and the
// application data (after the transport header, decrypted where the reading decrypted it).
struct FormatTelegram {
    uint16_t manufacturer = 0; // M field, least significant byte first on the air
    uint8_t version = 0;
    uint8_t deviceType = 0;
    uint8_t linkCi = 0;        // the CI after the link layer
    uint8_t applicationCi = 0; // the CI that tells the layout of the application data
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// One field of a reading: its place and its coding.
struct FormatField {
    enum class Coding { Unsigned, Signed, Bcd };
    // At `offset` from the start of the application data; with a pattern, `offset` bytes
    // after the end of the pattern's first occurrence.
    int offset = 0;
    std::vector<uint8_t> after;
    Coding coding = Coding::Unsigned;
    int size = 4;          // bytes: 1-8
    bool bigEndian = false;
    int scale = 0;         // the value is the field times 10^scale

    bool operator==(const FormatField& o) const
    {
        return offset == o.offset && after == o.after && coding == o.coding && size == o.size
            && bigEndian == o.bigEndian && scale == o.scale;
    }
};

struct FormatReading {
    FormatField field;
    std::string unit;
    bool main = false;
};

// A meter format: which telegrams it applies to and its readings. A match field that is
// not set matches anything.
struct MeterFormat {
    std::string name;
    std::optional<uint16_t> manufacturer;
    std::optional<uint8_t> version;
    std::optional<uint8_t> deviceType;
    std::optional<uint8_t> linkCi;
    std::optional<uint8_t> applicationCi;
    std::optional<size_t> length; // bytes of application data
    struct FixedBytes {
        int offset = 0;
        std::vector<uint8_t> bytes;
        bool operator==(const FixedBytes& o) const { return offset == o.offset && bytes == o.bytes; }
    };
    std::vector<FixedBytes> fixed;
    std::vector<FormatReading> readings;

    bool matches(const FormatTelegram& t) const;
    const FormatReading* mainReading() const;
};

// Where a field lies in the data: its first byte, or -1 when it falls outside them or its
// pattern is not there.
int fieldStart(const FormatField& field, const uint8_t* data, size_t size);
// The field's integer value (before its scale). Nothing when the field falls outside the
// data, a BCD digit is above 9, or the value does not fit 64 bits with its sign.
std::optional<int64_t> readFieldValue(const FormatField& field, const uint8_t* data, size_t size);

// The manufacturer code of three letters ("KAM" gives 0x2C2D); nothing for other text.
std::optional<uint16_t> manufacturerCode(const std::string& letters);

// One reading of a telegram as the table shows it.
struct FormatValue {
    std::string value; // fixed-point, three decimals, with the decimal separator
    std::string unit;
    bool main = false;
};

// The formats in force: the operator's first, then the compiled-in ones; the first that
// matches a telegram reads it.
class MeterFormats {
public:
    MeterFormats() = default;
    explicit MeterFormats(std::vector<MeterFormat> formats);

    // The first format that matches and whose main reading is there; nullptr when none.
    const MeterFormat* find(const FormatTelegram& t) const;
    // The readings of `format` in `t`: every reading whose field is there; empty when the
    // main reading is not.
    static std::vector<FormatValue> read(const MeterFormat& format, const FormatTelegram& t, char separator);

    const std::vector<MeterFormat>& formats() const { return m_formats; }
    // The operator's formats before those already here.
    void putFirst(std::vector<MeterFormat> formats);
    bool empty() const { return m_formats.empty(); }

private:
    std::vector<MeterFormat> m_formats;
};

// The compiled-in formats, parsed once.
const std::vector<MeterFormat>& knownMeterFormats();
// Their text, as the tool that finds them wrote it.
const char* knownMeterFormatsText();

// The text form, a block per format:
//   format NAME
//     manufacturer KAM
//     version 1B
//     device 16
//     ci 8D 79
//     length 27
//     bytes 0 2F 2F
//     main at 25 uint 4 scale -3 m3
//     value after 04 13 +0 bcd 8 be scale -3 m3
// Lines starting with '#' and empty lines are skipped.
struct FormatTextError {
    int line = 0;
    std::string text;
};
std::vector<MeterFormat> parseMeterFormats(const std::string& text, std::vector<FormatTextError>* errors = nullptr);
std::string meterFormatText(const MeterFormat& format);
std::string meterFormatsText(const std::vector<MeterFormat>& formats);
// One reading line without its keyword: "at 25 uint 4 scale -3 m3".
std::string formatFieldText(const FormatField& field);

} // namespace palvero
