// The three shared repeating timers that carry all periodic work.
#pragma once

#include <QTimer>

class TimerManager
{
public:
    TimerManager();
    ~TimerManager();
    TimerManager(const TimerManager&) = delete;
    TimerManager& operator=(const TimerManager&) = delete;

    QTimer* everyHalfMinute() { return &m_halfMinute; }
    QTimer* everyFiveMinutes() { return &m_fiveMinutes; }
    QTimer* everyHour() { return &m_hour; }

private:
    QTimer m_halfMinute;
    QTimer m_fiveMinutes;
    QTimer m_hour;
};

extern TimerManager* timerManager;
