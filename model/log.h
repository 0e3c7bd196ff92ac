// Diagnostics: time-stamped, indented lines in the diagnostics window, one page per category.
#pragma once

#include "model/data.h"

#include <QString>

class QDateTime;

// Text past this many characters is cut, with a note of how much was left out.
constexpr int kMaxLogTextLength = 1000;

// Safe to call before the diagnostics window exists or after it is gone: the line is dropped.
void Log(const QString& category, int level, const QString& text, ItemPtr item = ItemPtr());

// "[" + time stamp + "] " + three blanks per level above 1 + text. The time stamp is
// always in English, whatever the user's locale, so lines read the same on every machine.
QString FormatLogLine(const QDateTime& when, int level, const QString& text);
// The same with a time stamp already written out.
QString FormatLogLine(const QString& stamp, int level, const QString& text);
