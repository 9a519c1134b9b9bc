#include "serial_port.h"

#include <gtest/gtest.h>

namespace palvero {
namespace {

TEST(DeviceForPortName, NamesTheDeviceOfThisSystem)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
#ifdef _WIN32
        {"COM3", "\\\\.\\COM3"},
        {"COM12", "\\\\.\\COM12"},
#else
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"COM3", "/dev/COM3"},
        {"/dev/pts/7", "/dev/pts/7"},
        {"/tmp/wmbus-sim/port", "/tmp/wmbus-sim/port"},
        {"serial/by-id/usb-receiver", "serial/by-id/usb-receiver"},
#endif
    };
    for (const auto& [name, device] : cases)
        EXPECT_EQ(deviceForPortName(name), device) << name;
}

} // namespace
} // namespace palvero
