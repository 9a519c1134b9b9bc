#pragma once

#include "reading_settings.h"
#include "receiver_frame.h"

#include <string>
#include <string_view>

namespace palvero {

// Why a typed or pasted telegram cannot be decoded.
enum class TelegramTextError {
    None,
    Empty,          // no hexadecimal digit at all
    NotHex,         // a character that is neither a hex digit nor white space
    OddDigits,      // one digit left over
    TooShort,       // fewer bytes than a telegram up to its CI field
    FrameLength,    // 0x68 ... 0x16 whose length byte does not fit the bytes given
    NoStopByte,     // 0x68 and a fitting length byte, but not ending in 0x16
    TelegramLength, // the L field does not match the bytes that follow it
    TooLong,        // a telegram whose receiver frame would need a length byte over 255
};

// A telegram read from text: the receiver frame to decode, or what is wrong with the text.
struct TelegramText {
    TelegramTextError error = TelegramTextError::None;
    ReceiverFrame frame;
    std::string message; // the operator's explanation when error is not None

    bool ok() const { return error == TelegramTextError::None; }
};

// Reads hexadecimal text, two digits per byte in either case, white space anywhere
// ignored. Text that starts with 0x68, ends with 0x16 and whose second byte is the count
// of the bytes between it and the last one is a whole receiver frame and is kept as it
// is. Any other text is a telegram from its L field on; it is wrapped as the receiver
// would deliver it under these settings: 0x68, the length byte, the telegram from its
// C field on, an RSSI byte of 0 when frames carry one, two 0 CRC bytes for the CRC
// protocol, 0x16. Nothing is decoded here.
TelegramText readTelegramText(std::string_view text, const ReadingSettings& settings);

} // namespace palvero
