#include "serial_port.h"

namespace palvero {

std::string deviceForPortName(const std::string& name)
{
#ifdef _WIN32
    return "\\\\.\\" + name;
#else
    if (name.find('/') != std::string::npos)
        return name;
    return "/dev/" + name;
#endif
}

} // namespace palvero
