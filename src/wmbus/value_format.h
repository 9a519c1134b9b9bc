#pragma once

#include "receiver_frame.h"
#include "vif_tables.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace palvero {

// Renders digits × 10^exponent (digits: a decimal integer text) rounded to at most
// `precision` significant digits and `decimals` decimal places, written with exactly
// `decimals` digits after `separator` and no thousands separator. When the integer part
// has more digits than `precision`, the exponent form "1.2345679E+15" is written instead.
// Rounding is decimal and exact, halves away from zero.
void renderDecimalTo(std::string& out, bool negative, std::string_view digits, int exponent, int precision,
                     int decimals, char separator);
// The same for an integer value scaled by 10^exponent.
std::string renderScaled(int64_t value, int exponent, int precision, char separator, int decimals = 3);
void renderScaledTo(std::string& out, int64_t value, int exponent, int precision, char separator, int decimals = 3);
// The same for a binary floating-point value (its shortest round-trip decimal digits).
std::string renderDouble(double value, int precision, int decimals, char separator);
void renderDoubleTo(std::string& out, double value, int precision, int decimals, char separator);

// A decoded data field: the value text and the field's length in bytes (the LVAR rule
// replaces the DIF's length). `overrun` tells that the field would run past the frame;
// its text is then "Exception ".
struct DataField {
    std::string text;
    int length = 0;
    bool overrun = false;
};

// Where a data field ends: its length in bytes, and whether it would run past the frame.
struct FieldExtent {
    int length = 0;
    bool overrun = false;
};

// Data length in bytes of a DIF coding (low nibble); variable length counts 0 here.
int difDataLength(uint8_t difLowNibble);

// Where the data field at offset `d` ends, by the DIF's coding (a variable-length field by
// its length byte; a date VIF keeps the DIF's length), without reading it.
FieldExtent dataFieldExtent(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif);
// Writes the value text of the data field at `d` into `text` (whose buffer is reused):
// the DIF's coding, the VIF, and its scale 10^exponent (`factor` as the nearest double).
FieldExtent renderDataField(std::string& text, const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif,
                            int exponent, double factor, char separator);

// The number a data field holds, where it holds one: an integer times 10^exponent (BCD
// digits read as such), or a real. Dates, fabrication numbers, texts and fields that run
// past the frame hold none.
struct FieldNumber {
    enum class Kind : uint8_t { None, Integer, Real };
    Kind kind = Kind::None;
    int64_t integer = 0;
    double real = 0;
};
// `wide` reads a 64-bit integer as the number it is; `extent` is the field's, as
// dataFieldExtent() gives it.
FieldNumber dataFieldNumber(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif, double factor, bool wide,
                            const FieldExtent& extent);

// Decodes the data field at offset `d` by the DIF's coding, the VIF and its scale.
DataField decodeDataField(const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif, const VifInfo& info,
                          char separator);
// The same, writing the value text into `text` (whose buffer is reused).
FieldExtent decodeDataField(std::string& text, const ReceiverFrame& f, int d, uint8_t dif, uint8_t vif,
                            const VifInfo& info, char separator);

// The two date layouts: "d.m.y" for 2 bytes, "h:mm, d.m.y" for 4 bytes.
std::string formatDate(uint8_t b0, uint8_t b1);
std::string formatDateTime(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3);

} // namespace palvero
