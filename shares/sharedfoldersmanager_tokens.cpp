// The search-token index: every shared file linked to the tokens of its lower-cased full path.

#include "shares/sharedfoldersmanager.h"

#include <algorithm>

namespace {

bool IsCoarseSeparator(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('/') || c == QLatin1Char('\\');
}

void Take(const QString& text, int start, int end, std::vector<QString>& tokens)
{
    if (end <= start)
        return;
    QString token = text.mid(start, end - start);
    for (const QString& known : tokens)
        if (known == token)
            return;
    tokens.push_back(std::move(token));
}

} // namespace

bool SharedFoldersManager::IsSearchTokenSeparator(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z'))
        return false;
    if (u <= 0x7F)
        return true;
    return u > 0xFF;
}

// Fine tokens are runs of letters and digits (Latin-1 letters count as such); coarse tokens are
// whole words between spaces and path separators. Both kinds, each once.
void SharedFoldersManager::SplitTokens(const QString& lowerText, std::vector<QString>& tokens)
{
    int start = 0;
    for (int k = 0; k < lowerText.size(); ++k) {
        if (IsSearchTokenSeparator(lowerText[k])) {
            Take(lowerText, start, k, tokens);
            start = k + 1;
        }
    }
    Take(lowerText, start, lowerText.size(), tokens);
    start = 0;
    for (int k = 0; k < lowerText.size(); ++k) {
        if (IsCoarseSeparator(lowerText[k])) {
            Take(lowerText, start, k, tokens);
            start = k + 1;
        }
    }
    Take(lowerText, start, lowerText.size(), tokens);
}

std::vector<ItemPtr> SharedFoldersManager::TokenItems(const QString& lowerText)
{
    std::vector<QString> tokens;
    SplitTokens(lowerText, tokens);
    std::vector<ItemPtr> items;
    items.reserve(tokens.size());
    for (const QString& token : tokens)
        items.push_back(mp_tokenType->GetItem(Value(token)));
    return items;
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr file)
{
    // Peers search with backslash paths, so the backslash joins folder and name here too.
    const QString text = file["shared_file_folder"].AsString() + QLatin1Char('\\') + file["shared_file_name"].AsString();
    for (const ItemPtr& token : TokenItems(text.toLower()))
        file += token;
}

// The files of one folder, tokenised together. The backslash between folder and name separates
// tokens of both kinds, so the folder's tokens, the same for every file in it, are looked up once.
// The links are made token by token and, within a token, in the order of its neighbour set: the
// part of the set each link walks is then still in the cache from the link before.
void SharedFoldersManager::TokenizeSharedFiles(const QString& lowerFolder,
                                               const std::vector<std::pair<ItemPtr, QString>>& files)
{
    if (files.empty())
        return;
    const std::vector<ItemPtr> folderTokens = TokenItems(lowerFolder);
    std::vector<std::pair<ItemPtr, ItemPtr>> links;  // token, file
    links.reserve(files.size() * (folderTokens.size() + 8));
    for (const auto& file : files) {
        for (const ItemPtr& token : folderTokens)
            links.emplace_back(token, file.first);
        for (const ItemPtr& token : TokenItems(file.second.toLower()))
            links.emplace_back(token, file.first);
    }
    std::sort(links.begin(), links.end());
    for (auto& link : links)
        link.second += link.first;
}
