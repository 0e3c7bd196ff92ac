// Answering other users' searches from the token index.
#include "shares/sharedfoldersmanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/searchparser.h"
#include "shares/sharedfileitems.h"
#include "transfers/transferqueuemanager.h"

#include <algorithm>
#include <map>
#include <vector>

namespace {

// More matches than this and the search is too broad to answer at all.
const size_t kMaxSearchReplyFiles = 200;
// Every token is tested against every candidate's name: a text of thousands of exclusions and
// one word that every file holds would hold the window for seconds, a frame of them for hours.
// No honest search comes near these.
const int kMaxSearchTextBytes = 4096;
const size_t kMaxSearchTokens = 64;

}  // namespace

void SharedFoldersManager::OnDirectFileSearch(QString i_user, quint32 i_req, QString i_search)
{
    if (i_user == GetSetting("username"))
        return;
    ProcessSearch(i_user, i_req, i_search);
}

void SharedFoldersManager::OnDNetSearchRequest(QString i_user, quint32 i_req, QString i_searchText)
{
    if (i_user == GetSetting("username"))
        return;
    ProcessSearch(i_user, i_req, i_searchText);
}

void SharedFoldersManager::ProcessSearch(const QString& user, unsigned int token, const QString& text)
{
    MemStream message = BuildSearchReply(user, token, text);
    if (message.GetWriteIndex() == 0)
        return;
    Log("Search", 1, QString("Sending search results to user %1 for search string %2").arg(user, text));
    if (peerMessenger)
        peerMessenger->SendMessage(user, message);
}

MemStream SharedFoldersManager::BuildSearchReply(const QString& user, unsigned int token, const QString& text)
{
    MemStream none;
    const int bytes = text.toUtf8().size();
    if (bytes > kMaxSearchTextBytes) {
        Log("Search", 1,
            QString("Not answering search from user %1: %2 bytes of search text, more than %3")
                .arg(user)
                .arg(bytes)
                .arg(kMaxSearchTextBytes));
        return none;
    }
    SearchParser parser;
    if (!parser.SetSearchText(text))
        return none;
    const size_t tokens = parser.GetIncludedTokenSet().size() + parser.GetIncludedPartTokenSet().size() +
                          parser.GetExcludedTokenSet().size();
    if (tokens > kMaxSearchTokens) {
        Log("Search", 1,
            QString("Not answering search from user %1: %2 search tokens, more than %3")
                .arg(user)
                .arg(tokens)
                .arg(kMaxSearchTokens));
        return none;
    }
    const std::set<QString>& included = parser.GetIncludedTokenSet();
    if (included.empty())
        return none;

    // Every whole word must be a token of the index; the candidates are the files linked to all
    // of them. Walk the smallest token's files and test membership in the others, rather than
    // copying every set: a word found in every file would otherwise cost a copy of the index.
    const SharedFileTypes t;
    Type* tokenType = d.GetType("search_token");
    std::vector<const NeighbourSet*> tokenFiles;
    for (const QString& word : included) {
        ItemPtr item = tokenType->HasItem(word);
        const NeighbourSet* files = item ? item->Links(t.file) : nullptr;
        if (!files)
            return none;
        tokenFiles.push_back(files);
    }
    std::sort(tokenFiles.begin(), tokenFiles.end(),
              [](const NeighbourSet* a, const NeighbourSet* b) { return a->size() < b->size(); });

    const ItemSet visible = GetUserSharedFolders(user);
    if (visible.empty())
        return none;
    const std::set<QString>& parts = parser.GetIncludedPartTokenSet();
    const std::set<QString>& excluded = parser.GetExcludedTokenSet();

    std::vector<Item*> kept;
    for (const ItemPtr& candidate : *tokenFiles.front()) {
        bool inAll = true;
        for (size_t k = 1; k < tokenFiles.size() && inAll; ++k)
            inAll = tokenFiles[k]->count(candidate) != 0;
        if (!inAll)
            continue;
        // Parts and exclusions look at the file name only, not at the folders above it.
        if (!parts.empty() || !excluded.empty()) {
            const Item* nameItem = FirstNeighbour(candidate.get(), t.name);
            const QString name = nameItem ? QString::fromStdString(nameItem->GetValue().str()).toLower() : QString();
            bool pass = true;
            for (const QString& word : excluded)
                if (name.contains(word)) {
                    pass = false;
                    break;
                }
            for (const QString& part : parts)
                if (pass && !name.contains(part))
                    pass = false;
            if (!pass)
                continue;
        }
        const Item* directory = FirstNeighbour(candidate.get(), t.folder);
        const NeighbourSet* owners = directory ? directory->Links(t.sharedFolder) : nullptr;
        if (!owners)
            continue;
        bool seen = false;
        for (const ItemPtr& owner : *owners)
            if (visible.count(owner)) {
                seen = true;
                break;
            }
        if (!seen)
            continue;
        kept.push_back(candidate.get());
        // A search this broad gets no answer at all; no need to look further.
        if (kept.size() > kMaxSearchReplyFiles)
            return none;
    }
    if (kept.empty())
        return none;

    // Full paths with backslashes, in byte order; two files giving one path make one record.
    std::map<std::string, FileInfo> records;
    for (Item* file : kept) {
        const Item* directory = FirstNeighbour(file, t.folder);
        const Item* name = FirstNeighbour(file, t.name);
        std::string path = (directory ? directory->GetValue().str() : std::string()) + "/" +
                           (name ? name->GetValue().str() : std::string());
        std::replace(path.begin(), path.end(), '/', '\\');
        FileInfo info = MakeFileInfo(t, file, path, true);
        records[path] = std::move(info);
    }

    MemStream body;
    body.Write(GetSetting("username"));
    body.Write(uint32_t(token));
    body.Write(uint32_t(records.size()));
    for (const auto& record : records)
        body.Write(record.second);
    const bool freeSlot = transferQueueManager && transferQueueManager->IsFreeToUpload();
    body.Write(uint8_t(freeSlot ? 1 : 0));
    body.Write(uint32_t(GetSettingInt("upload_speed")));
    body.Write(uint32_t(transferQueueManager ? transferQueueManager->QueuedUploadCount() : 0));
    body.Write(uint32_t(0));

    MemStream message;
    MakeCompressedMessage(9, body, message, "Search");
    return message;
}
