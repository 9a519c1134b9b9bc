#pragma once

namespace palvero {

// A timer of the user-interface thread, as the receiver commands need it: started with
// an interval, stopped, asked whether it runs. Its owner delivers the ticks; tests pass a
// fake that only records starts and stops.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void start(int intervalMs) = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
};

} // namespace palvero
