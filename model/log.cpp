#include "model/log.h"

#include "model/diagnosticsform.h"

#include <QDateTime>
#include <QLocale>

namespace {
// Callers use levels 1 to 3; the cap only keeps a wild level from building a huge line.
const int kMaxIndentLevel = 32;
}

void Log(const QString& category, int level, const QString& text, ItemPtr item)
{
    if (!diagnosticsForm)
        return;
    // Lines of our own are far shorter; what runs longer carries a name or a text from the
    // network, which may be 128 KiB, and one such line per received message adds up.
    if (text.size() > kMaxLogTextLength)
        diagnosticsForm->Log(category, level,
                             text.left(kMaxLogTextLength) +
                                 QString("... (%1 more characters)").arg(text.size() - kMaxLogTextLength),
                             item);
    else
        diagnosticsForm->Log(category, level, text, item);
}

QString FormatLogLine(const QDateTime& when, int level, const QString& text)
{
    // The C locale gives the fixed English names of Qt's text date form
    // ("Sat Dec 5 19:31:47 2026") even where the system locale is another.
    const QString stamp = QLocale::c().toString(when, QStringLiteral("ddd MMM d hh:mm:ss yyyy"));
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
