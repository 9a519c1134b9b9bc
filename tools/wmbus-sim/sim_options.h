#pragma once

#include "capture.h"

#include <optional>
#include <string>

namespace palvero::sim {

struct SimOptions {
    double rate = 4.0; // frames per second; 0 = as fast as the line takes them
    bool loop = false;
    std::string link;
    FrameShape shape;
    std::string logPath;
    long startDelayMs = 300;
    std::optional<long> count;
    std::optional<long> varyId;
    std::optional<long> closeAfter;
    std::string capturePath;
    bool printFrames = false; // print the receiver frames as hexadecimal text and stop
    bool help = false;
};

struct ParsedOptions {
    SimOptions options;
    std::string error; // empty when the command line was understood
};

ParsedOptions parseOptions(int argc, char** argv);

extern const char* const kUsage;

} // namespace palvero::sim
