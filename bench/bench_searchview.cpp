// The search view under a stream of replies: 10,000 results from 500 users (20 each, in two
// folders) go into one tab. Timed: adding them all, the deferred sort, one filter keystroke and
// closing the tab with the collection of its records. Then the same replies arrive paced at 1,000
// results a second through the event loop, and the longest stall of a 2 ms heartbeat is reported.
#include "bench/searchviewbench.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

const int kUsers = 500;
const int kPerUser = 20;

double Ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

// One stored reply, shaped as the peer messenger stores it.
ItemPtr MakeReply(ItemPtr request, int user)
{
    ItemPtr results = d.GetType("search_results")->NewItem();
    for (int k = 0; k < kPerUser; ++k)
        benchutil::AddResult(results, QString("abc track %1.mp3").arg(k),
                             QString("\\music\\artist %1\\album %2").arg(user).arg(k % 2), 1000000 + user * 100 + k,
                             128 + 32 * (k % 6));
    return benchutil::FinishReply(results, request, user);
}

std::vector<ItemPtr> Replies(SearchResultsForm* tab)
{
    ItemPtr request = benchutil::RequestOfTab(tab);
    std::vector<ItemPtr> replies;
    for (int u = 0; u < kUsers; ++u)
        replies.push_back(MakeReply(request, u));
    return replies;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    SearchForm* form = benchutil::StartSearchView(dir);

    // Everything at once.
    SearchResultsForm* tab = benchutil::OpenSearchTab(form, "abc");
    std::vector<ItemPtr> replies = Replies(tab);
    QElapsedTimer t;
    t.start();
    for (ItemPtr reply : replies)
        form->OnUserSearchResults(reply);
    const double add = Ms(t);
    app.processEvents();
    t.restart();
    tab->Sort();
    app.processEvents();
    const double sort = Ms(t);
    t.restart();
    tab->filterEdit()->setText("abc track 1");
    app.processEvents();
    const double filter = Ms(t);
    const int visible = benchutil::ShownFiles(tab->searchResults());
    t.restart();
    benchutil::CloseSearchTab(form, tab);
    app.processEvents();
    const double close = Ms(t);
    std::printf("10,000 results from %d users into one tab\n", kUsers);
    std::printf("  add all replies:        %8.1f ms\n", add);
    std::printf("  deferred sort:          %8.1f ms\n", sort);
    std::printf("  one filter keystroke:   %8.1f ms (%d files left shown)\n", filter, visible);
    std::printf("  close tab and collect:  %8.1f ms\n", close);

    // Paced: one reply of 20 results every 20 ms, the deferred sort running as it does.
    tab = benchutil::OpenSearchTab(form, "abc");
    replies = Replies(tab);
    size_t next = 0;
    double worst = 0;
    double worstReply = 0;
    QElapsedTimer beat;
    beat.start();
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        worst = std::max(worst, Ms(beat));
        beat.restart();
    });
    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        if (next < replies.size()) {
            QElapsedTimer one;
            one.start();
            form->OnUserSearchResults(replies[next++]);
            worstReply = std::max(worstReply, Ms(one));
        } else
            app.quit();
    });
    heartbeat.start(2);
    feeder.start(20);
    QTimer::singleShot(1500, [&] { worst = 0; beat.restart(); });  // past start-up
    app.exec();
    // Let the last deferred sort run too.
    QTimer::singleShot(1200, &app, &QApplication::quit);
    app.exec();
    std::printf("paced at 1,000 results/s: longest event-loop stall %.1f ms (heartbeat 2 ms), longest reply %.1f ms\n",
                worst, worstReply);
    benchutil::CloseSearchTab(form, tab);
    return 0;
}
