// The search-token index: every shared file linked to the tokens of its lower-cased full path.

#include "shares/sharedfoldersmanager.h"

#include <vector>

bool SharedFoldersManager::IsSearchTokenSeparator(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
        return false;
    if (u <= 0x7F)
        return true;
    return u > 0xFF;
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    TokenizeSharedFile(file, file["shared_file_folder"].AsString().toLower(), file["shared_file_name"].AsString());
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file, const QString& lowerFolderPath, const QString& name)
{
    // Peers search with backslash paths, so the backslash joins folder and name here too.
    const QString text = lowerFolderPath + QLatin1Char('\\') + name.toLower();
    std::vector<QString> tokens;
    auto take = [&](int start, int end) {
        if (end <= start)
            return;
        QString token = text.mid(start, end - start);
        for (const QString& known : tokens)
            if (known == token)
                return;
        tokens.push_back(std::move(token));
    };
    // Fine tokens: runs of letters and digits (Latin-1 letters count as such).
    int start = 0;
    for (int k = 0; k < text.size(); ++k) {
        if (IsSearchTokenSeparator(text[k])) {
            take(start, k);
            start = k + 1;
        }
    }
    take(start, text.size());
    // Coarse tokens: whole words between spaces and path separators.
    start = 0;
    for (int k = 0; k < text.size(); ++k) {
        const QChar c = text[k];
        if (c == QLatin1Char(' ') || c == QLatin1Char('/') || c == QLatin1Char('\\')) {
            take(start, k);
            start = k + 1;
        }
    }
    take(start, text.size());
    for (const QString& token : tokens)
        file += mp_tokenType->GetItem(Value(token));
}
