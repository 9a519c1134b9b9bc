#pragma once

#include "operator.h"
#include "reading_control.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace palvero {

// The parameters that the v1 receiver keeps in its permanent memory, by their numbers.
// Each has a Set button in the Settings window.
enum class V1Parameter : uint8_t {
    RFPower = 0x01,     // Combo_RFPower, "1" to "5"
    Mode = 0x03,        // Combo_RCmode, the radio mode table
    Rssi = 0x05,        // Check_setRSSI, 1 ticked, 0 clear
    NetworkType = 0x12, // Combo_RCtype, "MASTER" 1, "REPEATER" 2
    InstallMode = 0x3D, // Combo_installMode, "Normal" 0, "Accept All" 2
    Protocol = 0x36,    // Combo_protocol, "MORVANE" 4, "MORVANE with CRC" 12
};

// The v1 receiver's configuration commands over the reading port: a parameter written
// into the receiver's memory (the Set buttons) and a value set in its RAM (Start). Both
// share the reading control's port and its open flag; a command that finds the port
// closed opens it with the fallbacks of the Settings window (19200 baud, no parity).
// The outcome goes to the Settings window through the callbacks.
class V1Commands {
public:
    // The result lamp LED_success.
    enum class Lamp { Idle, Success, Failure };

    V1Commands(ReadingControl& reading, Operator& op);

    // The value a Set button sends for the chosen item of its control; nothing when the
    // text matches no item (the Rssi parameter takes "1" and "0").
    static std::optional<uint8_t> valueFor(V1Parameter parameter, const std::string& choice);

    // A Set button: clears the result text, writes the parameter when there is a value,
    // then discards what the port holds and closes it. A reading that runs keeps its port
    // open and goes on receiving.
    void pressSet(V1Parameter parameter, std::optional<uint8_t> value);

    // The memory command: 0x00 and "M", each answered ">", then the parameter number, the
    // value, and always 0xFF and "X". Shows its result text and lamp; true on success.
    bool SetParameter(uint8_t number, uint8_t value);
    // The RAM command, the exchange of the reading's Start; the port stays open and the
    // result text and lamp are not touched.
    bool SetInRam(uint8_t command, uint8_t value);

    // Status panel 1 of the Settings window.
    std::function<void(const std::string& text)> onResultText;
    // The lamp turns teal or red after each exchange; the window returns it to idle.
    std::function<void(Lamp lamp)> onLamp;

private:
    void resultText(const std::string& text);

    ReadingControl& m_reading;
    Operator& m_operator;
};

} // namespace palvero
