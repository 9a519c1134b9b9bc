#pragma once

#include "serial_port.h"

#include <optional>
#include <string>

namespace palvero {

// How the texts of the port settings become line settings. The reading opens the port
// with one pair of fallbacks, the commands of the Settings window with another.
struct LineFallback {
    int baudRate;
    Parity parity;
};

// Start and "Send data": a speed outside the list opens at 2400, an unknown parity is even.
inline constexpr LineFallback kReadingFallback{2400, Parity::Even};
// The receiver commands of the Settings window: 19200 and no parity.
inline constexpr LineFallback kCommandFallback{19200, Parity::None};

// A whole decimal number with an optional sign and nothing around it; nothing for any
// other text ("fast", "9600.0", "96 00", a number beyond int).
std::optional<long> wholeNumber(const std::string& text);

// The baud rate for a speed number: the number itself when it is one of the nine speeds
// of the list (300 ... 115200), the fallback otherwise.
int baudRateFor(long speed, const LineFallback& fallback);

// "None", "Even", "Odd", "Mark", "Space" as written; the fallback for any other text.
Parity parityFor(const std::string& text, const LineFallback& fallback);

// The reader-log line for a port that could not be probed: a device that is not there
// is told apart from one that another program holds.
std::string probeFailureText(const std::string& name, bool deviceExists);

// Why the port could not be opened, for the operator.
struct OpenFailure {
    enum class Cause {
        None,
        Missing,  // the device is not there
        Refused,  // it is there, but the probe could not take it (held, or no rights)
        BadSpeed, // the speed is not a whole number
        OpenError // the probe took it, the open with the line settings failed
    };
    Cause cause = Cause::None;
    std::string detail; // the system's words, when it gave any
};

// The box shown when Start cannot open the port: the port, the cause, and where another
// port is chosen.
std::string startFailureText(const std::string& name, const std::string& speed, const OpenFailure& failure);

// The reader-log line for output that a stuck port did not send within its time-out.
std::string drainTimeoutText(const std::string& name);

} // namespace palvero
