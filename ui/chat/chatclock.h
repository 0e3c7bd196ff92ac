// The chat views' clock lives with the chat display.
#pragma once

#include "ui/chat/chatdisplay.h"

inline QDateTime ChatClockNow()
{
    return ChatNow();
}
