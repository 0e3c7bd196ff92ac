// The filter language of every narrowable file tree: words, excluded words, attribute tokens.
#pragma once

#include "model/data.h"

#include <QString>
#include <QStringList>

class FilterParser
{
public:
    FilterParser() = default;

    // Adds the tokens of the text; does not reset what an earlier call stored.
    void Parse(const QString& text);
    // 0 match, 1 include words missing, 2 rejected. With a rest filter, the words not found
    // here and the limits are handed on for the next level down.
    int IsMatching(const QString& text, FilterParser* rest = nullptr, ItemPtr file = ItemPtr()) const;

    bool HasAttributes() const { return hasAttributes; }
    int MinFilesInFolder() const { return minFilesInFolder; }
    void SetMinFilesInFolder(int count) { minFilesInFolder = count; }

    QStringList includeWords;
    QStringList excludeWords;
    qint32 minBitrate = 0;
    bool isVbr = false;
    bool isCbr = false;
    qint64 minFileSize = 0;
    qint32 minFilesInFolder = 0;
    bool hasAttributes = false;
};
