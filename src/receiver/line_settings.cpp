#include "line_settings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace palvero {

namespace {

constexpr std::array<int, 9> kBaudRates = {300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct ParityName {
    const char* text;
    Parity parity;
};
constexpr std::array<ParityName, 5> kParities = {{
    {"None", Parity::None},
    {"Even", Parity::Even},
    {"Odd", Parity::Odd},
    {"Mark", Parity::Mark},
    {"Space", Parity::Space},
}};

} // namespace

std::optional<long> wholeNumber(const std::string& text)
{
    size_t i = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    if (i == text.size())
        return std::nullopt;
    for (size_t j = i; j < text.size(); ++j)
        if (!std::isdigit(static_cast<unsigned char>(text[j])))
            return std::nullopt;
    errno = 0;
    long value = std::strtol(text.c_str(), nullptr, 10);
    if (errno == ERANGE || value > INT_MAX || value < INT_MIN)
        return std::nullopt;
    return value;
}

int baudRateFor(long speed, const LineFallback& fallback)
{
    if (std::find(kBaudRates.begin(), kBaudRates.end(), speed) != kBaudRates.end())
        return static_cast<int>(speed);
    return fallback.baudRate;
}

Parity parityFor(const std::string& text, const LineFallback& fallback)
{
    for (const auto& p : kParities)
        if (text == p.text)
            return p.parity;
    return fallback.parity;
}

std::string probeFailureText(const std::string& name, bool deviceExists)
{
    if (!deviceExists)
        return "The selected serial port (" + name + ") does not exist!";
    return "The selected serial port (" + name + ") is in use by another program!";
}

std::string startFailureText(const std::string& name, const std::string& speed, const OpenFailure& failure)
{
    const std::string port = "the serial port " + name;
    const std::string detail = failure.detail.empty() ? std::string() : " (" + failure.detail + ")";
    const std::string where = "choose the receiver's port under Tools \xE2\x80\xBA Settings.";
    switch (failure.cause) {
    case OpenFailure::Cause::Missing:
        return "Reading cannot start: " + port + " does not exist.\nIs the receiver plugged in? Plug it in, or "
            + where;
    case OpenFailure::Cause::Refused:
        return "Reading cannot start: " + port + " is in use by another program or may not be opened" + detail
            + ".\nClose the other program, check your rights on the port, or " + where;
    case OpenFailure::Cause::BadSpeed:
        return "Reading cannot start: the speed \"" + speed + "\" of " + port
            + " is not a number.\nChoose a speed under Tools \xE2\x80\xBA Settings.";
    case OpenFailure::Cause::OpenError:
        return "Reading cannot start: " + port + " cannot be opened" + detail + ".\nCheck the receiver, or " + where;
    case OpenFailure::Cause::None:
        break;
    }
    return {};
}

std::string drainTimeoutText(const std::string& name)
{
    return "The serial port (" + name + ") did not send its data within 1000 ms; the rest was discarded!";
}

} // namespace palvero
