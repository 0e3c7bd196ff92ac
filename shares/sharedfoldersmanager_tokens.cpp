// The search-token index: every shared file linked to the tokens of its lower-cased full path.

#include "shares/sharedfoldersmanager.h"

#include <algorithm>
#include <string_view>

namespace {

bool IsCoarseSeparator(char c)
{
    return c == ' ' || c == '/' || c == '\\';
}

void Take(const char* text, size_t start, size_t end, std::vector<std::string_view>& tokens)
{
    if (end <= start)
        return;
    const std::string_view token(text + start, end - start);
    for (const std::string_view& known : tokens)
        if (known == token)
            return;
    tokens.push_back(token);
}

// The length of the UTF-8 sequence a lead byte starts.
size_t SequenceLength(unsigned char lead)
{
    return lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
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
// whole words between spaces and path separators. Both kinds, each once, as views into the text.
// The text is split as UTF-8, the form the token items hold, so that no token needs a conversion
// of its own: a Latin-1 letter is a two-byte sequence led by 0xC2 or 0xC3, every longer or other
// sequence is a character above Latin-1, and the coarse separators are single bytes that no
// sequence contains.
void SharedFoldersManager::SplitTokens(std::string_view utf8, std::vector<std::string_view>& tokens)
{
    const char* text = utf8.data();
    const size_t size = utf8.size();
    size_t start = 0;
    for (size_t k = 0; k < size;) {
        const unsigned char b = static_cast<unsigned char>(text[k]);
        const size_t length = std::min(SequenceLength(b), size - k);
        const bool separator = b < 0x80 ? IsSearchTokenSeparator(QChar(static_cast<ushort>(b))) : (b != 0xC2 && b != 0xC3);
        if (separator) {
            Take(text, start, k, tokens);
            start = k + length;
        }
        k += length;
    }
    Take(text, start, size, tokens);
    start = 0;
    for (size_t k = 0; k < size; ++k) {
        if (IsCoarseSeparator(text[k])) {
            Take(text, start, k, tokens);
            start = k + 1;
        }
    }
    Take(text, start, size, tokens);
}

void SharedFoldersManager::AppendTokenItems(std::string_view utf8, std::vector<std::string_view>& tokens,
                                            std::vector<ItemPtr>& out)
{
    tokens.clear();
    SplitTokens(utf8, tokens);
    for (const std::string_view& token : tokens)
        out.push_back(mp_tokenType->GetItem(Value(std::string(token))));
}

std::vector<ItemPtr> SharedFoldersManager::TokenItems(const QString& lowerText)
{
    const std::string utf8 = lowerText.toUtf8().toStdString();
    std::vector<std::string_view> tokens;
    std::vector<ItemPtr> items;
    AppendTokenItems(utf8, tokens, items);
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
// The files are linked in identity order, the order of the tokens' neighbour sets, and each file
// to its tokens in identity order, the order of its own set: every link then lands at the end of
// both sets, with no search. The folder's tokens are the same few for all its files, so their sets
// stay in the cache from one file to the next.
void SharedFoldersManager::TokenizeSharedFiles(const QString& lowerFolder,
                                               const std::vector<std::pair<Item*, std::string_view>>& files)
{
    if (files.empty())
        return;
    std::vector<ItemPtr> folderTokens = TokenItems(lowerFolder);
    std::sort(folderTokens.begin(), folderTokens.end());
    std::vector<std::pair<Item*, std::string_view>> byFile(files);
    std::sort(byFile.begin(), byFile.end(), [](const auto& a, const auto& b) {
        return std::less<Item*>()(a.first, b.first);
    });

    std::vector<std::string_view> tokens;
    std::vector<ItemPtr> own;  // one file's tokens, the folder's among them
    const auto inFolder = [&folderTokens](const ItemPtr& token) {
        return std::binary_search(folderTokens.begin(), folderTokens.end(), token);
    };
    for (const auto& file : byFile) {
        own.assign(folderTokens.begin(), folderTokens.end());
        AppendTokenItems(file.second, tokens, own);
        own.erase(std::remove_if(own.begin() + static_cast<std::ptrdiff_t>(folderTokens.size()), own.end(), inFolder),
                  own.end());
        std::sort(own.begin(), own.end());
        // The file has none of its token links yet: room for all of them in one allocation.
        file.first->ReserveLinks(mp_tokenType, own.size());
        ItemPtr f(file.first);
        for (const ItemPtr& token : own)
            f += token;
    }
}
