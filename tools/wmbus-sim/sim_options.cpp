#include "sim_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace palvero::sim {

const char* const kUsage =
    "usage: wmbus-sim [--rate FRAMES_PER_SECOND] [--loop] [--link PATH] [--protocol plain|crc]\n"
    "                 [--no-rssi] [--log FILE] [--start-delay MS] [--count N] [--vary-id N]\n"
    "                 [--close-after N] CAPTURE\n"
    "       wmbus-sim --frames [--protocol plain|crc] [--no-rssi] CAPTURE\n"
    "\n"
    "Plays a capture as a wireless M-Bus receiver on a pseudo-terminal and prints the port's path.\n"
    "Frames flow only while a program holds the port; the v1 command bytes and the v2 text\n"
    "commands are answered, and frames wait while an exchange is under way.\n"
    "\n"
    "  --rate R          frames per second (default 4; 0 = as fast as the port takes them)\n"
    "  --loop            play the capture again and again\n"
    "  --link PATH       make PATH a symbolic link to the port while running\n"
    "  --protocol P      plain (default) or crc: frame telegram lines with two CRC bytes\n"
    "  --no-rssi         frame telegram lines without the signal strength byte\n"
    "  --log FILE        append every byte received from the program to FILE\n"
    "  --start-delay MS  wait MS milliseconds after the port is opened (default 300)\n"
    "  --count N         stop after N frames\n"
    "  --vary-id N       give the frames N different meter IDs in turn (00000001 upwards)\n"
    "  --close-after N   after N frames pull the receiver out: close the port and stop\n"
    "  --frames          print the receiver frames of the capture, one per line in hexadecimal\n"
    "                    (as palvero-replay --hex reads them), and stop\n"
    "\n"
    "CAPTURE is a text file of hexadecimal bytes, one receiver frame or one telegram (from its\n"
    "L field on) per line; '#' starts a comment; a telegram line may end in rssi=NN.\n";

namespace {

bool toLong(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool toRate(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    double v = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(v) || v < 0 || v > 100000)
        return false;
    out = v;
    return true;
}

} // namespace

ParsedOptions parseOptions(int argc, char** argv)
{
    ParsedOptions parsed;
    SimOptions& o = parsed.options;
    auto fail = [&parsed](const std::string& why) {
        parsed.error = why;
        return parsed;
    };

    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::string value;
        bool inlineValue = false;
        if (arg.rfind("--", 0) == 0) {
            if (auto eq = arg.find('='); eq != std::string::npos) {
                value = arg.substr(eq + 1);
                arg.erase(eq);
                inlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= argc)
                return false;
            value = argv[++i];
            return true;
        };
        auto flag = [&]() { return !inlineValue; };
        long number = 0;

        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--loop" && flag()) {
            o.loop = true;
        } else if (arg == "--frames" && flag()) {
            o.printFrames = true;
        } else if (arg == "--no-rssi" && flag()) {
            o.shape.withRssi = false;
        } else if (arg == "--rate") {
            if (!takeValue() || !toRate(value, o.rate))
                return fail("--rate needs a number of frames per second, 0 or more");
        } else if (arg == "--link") {
            if (!takeValue() || value.empty())
                return fail("--link needs a path");
            o.link = value;
        } else if (arg == "--protocol") {
            if (!takeValue() || (value != "plain" && value != "crc"))
                return fail("--protocol is plain or crc");
            o.shape.protocol = value == "crc" ? Protocol::WithCrc : Protocol::Plain;
        } else if (arg == "--log") {
            if (!takeValue() || value.empty())
                return fail("--log needs a file");
            o.logPath = value;
        } else if (arg == "--start-delay") {
            if (!takeValue() || !toLong(value, 0, 3600000, number))
                return fail("--start-delay needs milliseconds, 0 or more");
            o.startDelayMs = number;
        } else if (arg == "--count" || arg == "--close-after") {
            if (!takeValue() || !toLong(value, 1, 1000000000, number))
                return fail(arg + " needs a number of frames, 1 or more");
            (arg == "--count" ? o.count : o.closeAfter) = number;
        } else if (arg == "--vary-id") {
            // IDs are 8 BCD digits
            if (!takeValue() || !toLong(value, 1, 99999999, number))
                return fail("--vary-id needs a number of meters from 1 to 99999999");
            o.varyId = number;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return fail("unknown option " + std::string(argv[i]));
        } else if (o.capturePath.empty()) {
            o.capturePath = arg;
        } else {
            return fail("only one capture file, not also " + arg);
        }
    }
    if (!o.help && o.capturePath.empty())
        return fail("no capture file given");
    return parsed;
}

} // namespace palvero::sim
