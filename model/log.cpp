#include "model/log.h"

#include "model/diagnosticsform.h"
#include "model/itemlog.h"

#include <QDateTime>
#include <QLocale>

namespace {
// Callers use levels 1 to 3; the cap only keeps a wild level from building a huge line.
const int kMaxIndentLevel = 32;
}

void Log(const QString& category, int level, const QString& text, ItemPtr item)
{
    if (!diagnosticsForm && !item)
        return;
    // Lines of our own are far shorter; what runs longer carries a name or a text from the
    // network, which may be 128 KiB, and one such line per received message adds up.
    const QString kept = text.size() > kMaxLogTextLength
        ? text.left(kMaxLogTextLength) + QString("... (%1 more characters)").arg(text.size() - kMaxLogTextLength)
        : text;
    RecordItemLog(category, level, kept, item);
    if (diagnosticsForm)
        diagnosticsForm->Log(category, level, kept, item);
}

QString FormatLogLine(const QDateTime& when, int level, const QString& text)
{
    // The C locale gives the fixed English names of Qt's text date form
    // ("Sat Dec 5 19:31:47 2026") even where the system locale is another.
    return FormatLogLine(QLocale::c().toString(when, QStringLiteral("ddd MMM d hh:mm:ss yyyy")), level, text);
}

QString FormatLogLine(const QString& stamp, int level, const QString& text)
{
    const int indent = level > 1 ? 3 * (qMin(level, kMaxIndentLevel) - 1) : 0;
    QString line;
    line.reserve(stamp.size() + 3 + indent + text.size());
    line += QLatin1Char('[');
    line += stamp;
    line += QLatin1String("] ");
    line += QString(indent, QLatin1Char(' '));
    line += text;
    return line;
}
