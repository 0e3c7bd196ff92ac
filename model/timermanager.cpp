#include "model/timermanager.h"

TimerManager* timerManager = nullptr;

TimerManager::TimerManager()
{
    timerManager = this;
    m_halfMinute.setSingleShot(false);
    m_fiveMinutes.setSingleShot(false);
    m_hour.setSingleShot(false);
    m_halfMinute.start(30000);
    m_fiveMinutes.start(300000);
    m_hour.start(3600000);
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
