#include "ui/search/filterparser.h"

#include <limits>

namespace {

// Only a whole decimal number counts: the toolkit's reader would also take blanks around it
// (a tab is part of a token here) and those must leave the limit unset like any other junk.
bool IsPlainNumber(const QString& text)
{
    return !text.isEmpty() && !text.front().isSpace() && !text.back().isSpace();
}

// A number that does not read whole counts as 0: the same as no limit.
qint32 ReadInt32(const QString& text)
{
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    return ok && IsPlainNumber(text) ? v : 0;
}

qint64 ReadMegabytes(const QString& text)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (!ok || !IsPlainNumber(text))
        return 0;
    constexpr qint64 kMega = 1000000;
    // Saturate rather than wrap: a huge limit must stay huge, not turn negative.
    if (v > std::numeric_limits<qint64>::max() / kMega)
        return std::numeric_limits<qint64>::max();
    if (v < std::numeric_limits<qint64>::min() / kMega)
        return std::numeric_limits<qint64>::min();
    return v * kMega;
}

bool StartsWith(const QString& piece, const char* prefix, QString& rest)
{
    const QLatin1String p(prefix);
    if (!piece.startsWith(p))
        return false;
    rest = piece.mid(p.size());
    return true;
}

}  // namespace

void FilterParser::Parse(const QString& text)
{
    const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        QString rest;
        if (piece.startsWith(QLatin1Char('-'))) {
            if (piece.size() > 1)
                excludeWords.append(piece.mid(1));
        } else if (piece == QLatin1String("isvbr")) {
            isVbr = hasAttributes = true;
        } else if (piece == QLatin1String("iscbr")) {
            isCbr = hasAttributes = true;
        } else if (StartsWith(piece, "minbitrate:", rest) || StartsWith(piece, "mbr:", rest)) {
            minBitrate = ReadInt32(rest);
            hasAttributes = true;
        } else if (StartsWith(piece, "minfilesize:", rest) || StartsWith(piece, "mfs:", rest)) {
            minFileSize = ReadMegabytes(rest);
            hasAttributes = true;
        } else if (StartsWith(piece, "minfilesinfolder:", rest) || StartsWith(piece, "mfif:", rest)) {
            minFilesInFolder = ReadInt32(rest);
        } else {
            includeWords.append(piece);
        }
    }
}

int FilterParser::IsMatching(const QString& text, FilterParser* rest, ItemPtr file) const
{
    if (rest) {
        rest->includeWords.clear();
        rest->excludeWords.clear();
    }
    if (file) {
        ItemPtr mode = file.HasItem("bitrate_mode");
        const std::string modeText = mode ? mode.AsStdString() : std::string();
        if (isVbr && modeText != "vbr")
            return 2;
        if (isCbr && modeText != "cbr")
            return 2;
        ItemPtr bitrate = file.HasItem("bitrate");
        if ((bitrate ? bitrate.AsInt() : 0) < minBitrate)
            return 2;
        ItemPtr size = file.HasItem("file_size");
        if ((size ? size.AsInt64() : 0) < minFileSize)
            return 2;
    }
    if (rest) {
        rest->isVbr = isVbr;
        rest->isCbr = isCbr;
        rest->minBitrate = minBitrate;
        rest->minFileSize = minFileSize;
        rest->minFilesInFolder = minFilesInFolder;
        rest->hasAttributes = hasAttributes;
    }
    for (const QString& word : excludeWords)
        if (text.contains(word, Qt::CaseInsensitive))
            return 2;
    if (rest)
        rest->excludeWords = excludeWords;
    for (const QString& word : includeWords) {
        if (text.contains(word, Qt::CaseInsensitive))
            continue;
        if (!rest)
            return 1;
        rest->includeWords.append(word);
    }
    return rest && !rest->includeWords.isEmpty() ? 1 : 0;
}
