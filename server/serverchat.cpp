// Private chat, searches passed on by the server, the wish-list period and search correlations.
#include "server/server.h"

#include "model/data.h"
#include "server/serveritems.h"

#include <utility>
#include <vector>

using namespace serveritems;

void Server::HandlePrivateChat(MemStream& body)
{
    uint32_t id = 0;
    int32_t time = 0;
    QString user, text;
    uint8_t spontaneous = 0;
    body.Read(id);
    body.Read(time);
    body.Read(user);
    body.Read(text);
    body.Read(spontaneous);

    MemStream ack;
    ack.Write(uint32_t(23));
    ack.Write(id);

    ItemPtr sender = d.GetType("user")->HasItem(Value(user));
    if (!sender || !sender.IsConnected("is_ignored"))
        emit PrivateChat(user, text, static_cast<time_t>(time), spontaneous != 0);
    // The server keeps offering a message until it is acknowledged, ignored sender or not.
    SendMessage(ack, false);
    // The server announces changes of our privileges in a private message.
    if (text.contains(QLatin1String("privileges"), Qt::CaseSensitive))
        GetOwnPrivilegesStatus();
}

void Server::HandleFileSearch(MemStream& body)
{
    QString user, text;
    uint32_t token = 0;
    body.Read(user);
    body.Read(token);
    body.Read(text);
    emit DirectFileSearch(user, token, text);
}

void Server::HandleSearchCorrelations(MemStream& body)
{
    QString text;
    body.Read(text);
    std::vector<std::pair<QString, int32_t>> entries;
    ReadSignedCountedEntries(body, [&](int64_t k) {
        std::pair<QString, int32_t> entry;
        if (!body.Read(entry.first) || !body.Read(entry.second))
            return false;
        if (k < static_cast<int64_t>(kMaxStreamCount))
            entries.push_back(std::move(entry));
        return true;
    });

    ItemPtr textItem = d.GetType("search_request_text")->GetItem(Value(text));
    textItem.GetItems("search_correlation").Remove();
    Type* correlationText = d.GetType("correlation_text");
    Type* correlationRank = d.GetType("correlation_rank");
    for (const auto& entry : entries) {
        ItemPtr correlation = textItem.NewItem("search_correlation");
        correlation.Connect(correlationText->GetItem(Value(entry.first)));
        correlation.Connect(correlationRank->GetItem(Value(static_cast<int>(entry.second))));
    }
    emit SearchCorrelations(text);
}
