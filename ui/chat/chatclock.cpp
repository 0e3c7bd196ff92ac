#include "ui/chat/chatclock.h"

namespace {

std::function<QDateTime()>& Clock()
{
    static std::function<QDateTime()> clock;
    return clock;
}

}  // namespace

QDateTime ChatClockNow()
{
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}

void SetChatClock(std::function<QDateTime()> clock)
{
    Clock() = std::move(clock);
}
