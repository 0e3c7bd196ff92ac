// The one clock of the chat views: the times of chat lines, of activity periods and of sent
// private messages are read from it, so that tests can stand it where they need.
#pragma once

#include <QDateTime>

#include <functional>

QDateTime ChatClockNow();
// Replaces the clock; an empty function restores the system clock.
void SetChatClock(std::function<QDateTime()> clock);
