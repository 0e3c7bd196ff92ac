// A search text as three sets of lower-case tokens: whole words, parts ("*word") and excluded
// words ("-word"); a double-quoted text is one token. Used by both the answering and the
// searching side. One parser per text: a second text adds to the first one's sets.
#pragma once

#include <QString>

#include <set>

class SearchParser
{
public:
    // Whether the text is a usable search: at least one whole or part token, nothing malformed.
    bool SetSearchText(const QString& text);
    bool Tokenize(const QString& text);

    const std::set<QString>& GetIncludedTokenSet() const { return m_includedTokenSet; }
    const std::set<QString>& GetIncludedPartTokenSet() const { return m_includedPartTokenSet; }
    const std::set<QString>& GetExcludedTokenSet() const { return m_excludedTokenSet; }

    // Every whole and part token occurs in the path, no excluded one does (letter case ignored).
    bool IsMatch(const QString& path) const;

    // The characters that separate tokens.
    static const char* Whitespace() { return " \t"; }

private:
    std::set<QString> m_includedTokenSet;
    std::set<QString> m_includedPartTokenSet;
    std::set<QString> m_excludedTokenSet;
};
