#pragma once

#include "serial_port.h"

namespace palvero {

// The program's waits: blocks the calling thread for the given time. The receiver
// exchanges wait on the user-interface thread on purpose; their waits are short.
class ThreadSleeper : public Sleeper {
public:
    void sleepMs(int ms) override;
};

} // namespace palvero
