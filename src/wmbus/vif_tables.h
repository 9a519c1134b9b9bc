#pragma once

#include "receiver_frame.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace palvero {

// What a record's VIF means: the unit text (or the quantity's name), a description and
// the decimal scale. The scale is always a power of ten, 10^exponent, so integer and BCD
// values are scaled exactly; `factor` is the same power as the nearest double.
struct VifInfo {
    std::string unit = "Not supported";
    std::string description;
    int exponent = 0;
    double factor = 1.0;
};

// One row of a VIF table: codes first..last share a unit and description; the exponent
// is `exponent` for the first code and grows by `step` per code.
struct VifRow {
    uint8_t first;
    uint8_t last;
    std::string_view unit;
    std::string_view description;
    int exponent;
    int step;
};

struct VifTables {
    const VifRow* primary;
    int primaryCount;
    const VifRow* fb;
    int fbCount;
    const VifRow* fd;
    int fdCount;
};
const VifTables& vifTables();

double powerOfTen(int exponent);

// What a record's VIF means, without a copy of any text: the unit and description come
// from the tables, except where the unit is made from the record's bytes (a plain-text
// unit, the voltage and current exponents); that unit is written into a buffer of the
// caller's, and `ownUnit` says so.
struct VifMeaning {
    std::string_view unit = "Not supported";
    bool ownUnit = false;
    std::string_view description;
    int exponent = 0;
    double factor = 1.0;
};
void describeVif(const ReceiverFrame& f, int v, int d, VifMeaning& meaning, std::string& ownUnit);

// Decodes the VIF at offset `v` of the frame. `d` is the offset after the VIFE chain,
// where a plain-text unit of VIF 0xFC keeps its length byte. Bytes outside the frame
// are never read: a plain-text unit is cut at the frame's end.
VifInfo decodeVif(const ReceiverFrame& f, int v, int d);
// The same into `info`, whose text buffers are reused.
void decodeVif(const ReceiverFrame& f, int v, int d, VifInfo& info);

// Offset of a plain-text unit's length byte for a record with this VIF, or -1 when the
// VIF has no plain-text unit. The characters follow the length byte.
int plainTextUnitLengthOffset(uint8_t vif, int v, int d);

} // namespace palvero
