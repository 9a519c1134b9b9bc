#include "thread_sleeper.h"

#include <chrono>
#include <thread>

namespace palvero {

void ThreadSleeper::sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace palvero
