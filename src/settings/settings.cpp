#include "settings.h"

#include <algorithm>

namespace palvero {

void setUseMaster(Settings& s, bool on)
{
    s.UseMaster = on;
    if (on)
        s.UseDBMeters = false;
}

void setUseDBMeters(Settings& s, bool on)
{
    s.UseDBMeters = on;
    if (on)
        s.UseMaster = false;
}

void setV1(Settings& s, bool on)
{
    s.V1 = on;
    s.V2 = !on;
}

void setV2(Settings& s, bool on)
{
    s.V2 = on;
    s.V1 = !on;
}

void setAES128_5(Settings& s, bool on)
{
    s.AES128_5 = on;
    s.AES128_1 = !on;
}

int clampedCount(int count)
{
    return std::clamp(count, 0, kMaxAdditionalValues);
}

int clampedFontSize(int size)
{
    return std::clamp(size, kMinFontSize, kMaxFontSize);
}

} // namespace palvero
