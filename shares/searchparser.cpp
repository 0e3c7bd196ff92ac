#include "shares/searchparser.h"

#include <QByteArray>

#include <cstring>

bool SearchParser::SetSearchText(const QString& text)
{
    return Tokenize(text);
}

bool SearchParser::Tokenize(const QString& text)
{
    const QByteArray bytes = text.toLower().toUtf8();
    const char* const separators = Whitespace();
    auto isSeparator = [&](char c) { return c != '\0' && std::strchr(separators, c) != nullptr; };
    const int length = bytes.size();
    int position = 0;
    for (;;) {
        while (position < length && isSeparator(bytes[position]))
            ++position;
        if (position >= length)
            return !m_includedTokenSet.empty() || !m_includedPartTokenSet.empty();

        // One prefix byte only: "-*abc" excludes "*abc".
        std::set<QString>* target = &m_includedTokenSet;
        if (bytes[position] == '-' || bytes[position] == '*') {
            target = bytes[position] == '-' ? &m_excludedTokenSet : &m_includedPartTokenSet;
            if (++position >= length)
                return false;
        }

        int start = position;
        int end;
        bool closed = false;
        if (bytes[position] == '"') {
            start = position + 1;
            end = bytes.indexOf('"', start);
            closed = end >= 0;
            if (!closed)
                end = length;
        } else {
            end = start;
            while (end < length && !isSeparator(bytes[end]))
                ++end;
        }

        const QString token = QString::fromUtf8(bytes.constData() + start, end - start);
        if (token.isEmpty() || token.contains(QLatin1Char('"')))
            return false;
        target->insert(token);
        position = closed ? end + 1 : end;
    }
}

bool SearchParser::IsMatch(const QString& path) const
{
    const QString lower = path.toLower();
    for (const QString& token : m_includedTokenSet)
        if (!lower.contains(token))
            return false;
    for (const QString& token : m_includedPartTokenSet)
        if (!lower.contains(token))
            return false;
    for (const QString& token : m_excludedTokenSet)
        if (lower.contains(token))
            return false;
    return true;
}
