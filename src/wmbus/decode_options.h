#pragma once

#include <string>

namespace palvero {

// What reading a telegram needs to know beyond its bytes: where the receiver's frame ends
// (RSSI byte, CRC bytes) and whether a private application layer is left undecoded. The
// fields carry the names of the settings they come from, so that the reading settings
// extend this record and pass for it.
struct DecodeOptions {
    bool DecodeQundis = false;         // "Decode QDS mfr specific"
    std::string Protocol = "MORVANE";  // "MORVANE" or "MORVANE with CRC"
    bool RSSI = true;                  // v1: frames carry an RSSI byte
    bool RSSI_v2 = true;               // v2: frames carry an RSSI byte
    bool V1 = false;

    // The receiver appends an RSSI byte: "RSSI" for a v1 receiver, "RSSI On/Off" otherwise.
    bool framesCarryRssi() const { return V1 ? RSSI : RSSI_v2; }
    // Each frame ends in two CRC bytes: only a v1 receiver with "MORVANE with CRC".
    bool framesCarryCrc() const { return V1 && Protocol == "MORVANE with CRC"; }
};

} // namespace palvero
