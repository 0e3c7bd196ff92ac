#include "server/wishlistsearcher.h"

#include "model/data.h"
#include "model/log.h"
#include "model/settings.h"
#include "server/server.h"

#include <list>

WishListSearcher* wishListSearcher = nullptr;

namespace {
// The largest period a QTimer can hold, in seconds; a longer one is cut to it.
const uint kMaxWaitSeconds = 2147483;
}

WishListSearcher::WishListSearcher(QObject* ip_parent) : QObject(ip_parent)
{
    wishListSearcher = this;
    connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    SetVSetting("wish_list_search_index", Value("0"));
    connect(&m_searchTimer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

void WishListSearcher::OnWishListWait(uint i_waitPeriod)
{
    // A zero period would fire at every pass of the event loop and flood the server with
    // searches; the previous period stays in force instead, and so does its record.
    if (i_waitPeriod == 0) {
        Log("Wish List", 1, "Ignoring a wish list wait period of 0 seconds");
        return;
    }
    SetVSetting("wish_list_wait", Value(i_waitPeriod));
    m_searchTimer.stop();
    const uint interval = qMin(i_waitPeriod, kMaxWaitSeconds) * 1000u;
    Log("Wish List", 1, QString("Wish list wait period set to %1 milliseconds").arg(interval));
    m_searchTimer.setInterval(static_cast<int>(interval));
    m_searchTimer.setSingleShot(false);
    m_searchTimer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    const int stored = GetVSetting("wish_list_search_index").toInt();
    const unsigned int index = stored > 0 ? static_cast<unsigned int>(stored) : 0u;
    ItemSet enabled = g("wish_list_item_enabled").GetItems("wish_list_item");
    std::list<ItemPtr> entries = enabled.SortAlphabetic(true);
    if (entries.empty())
        return;

    auto chosen = entries.begin();
    std::advance(chosen, index % entries.size());
    const QString text = chosen->AsString();
    gp_server->FileSearch(text, true);
    Log("Wish List", 1, QString("Sent wish list search: %1").arg(text));

    unsigned int next = index + 1;
    if (next >= entries.size())
        next = 0;
    SetVSetting("wish_list_search_index", Value(next));
}
