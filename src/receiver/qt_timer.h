#pragma once

#include "timer.h"

#include <QTimer>

namespace palvero {

// The Timer interface over a QTimer that its window owns and connects.
class QtTimer : public Timer {
public:
    explicit QtTimer(QTimer& timer)
        : m_timer(timer)
    {
    }
    void start(int intervalMs) override { m_timer.start(intervalMs); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer& m_timer;
};

} // namespace palvero
