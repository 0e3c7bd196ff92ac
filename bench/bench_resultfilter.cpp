// The filter and the order of one large result tab: 50,000 file rows from 100 users, each with 20
// folders of 25 files. Timed: one filter change each for words, an excluded word, a bitrate limit
// (which looks up every file's item) and clearing, then the sort by free slot.
#include "bench/searchviewbench.h"

#include <QApplication>
#include <QLineEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>

namespace {

const int kUsers = 100;
const int kFolders = 20;
const int kFiles = 25;

double Ms(QElapsedTimer& t) { return t.nsecsElapsed() / 1e6; }

ItemPtr MakeReply(ItemPtr request, int user)
{
    ItemPtr results = d.GetType("search_results")->NewItem();
    for (int f = 0; f < kFolders; ++f) {
        // A quarter of the folders are live recordings; every fifth file is a demo.
        const QString folder = QString("\\music\\artist %1\\%2 %3").arg(user).arg(f % 4 ? "album" : "live").arg(f);
        for (int k = 0; k < kFiles; ++k)
            benchutil::AddResult(results, QString(k % 5 ? "rock track %1.mp3" : "rock demo %1.mp3").arg(k), folder,
                                 4000000 + k * 1000, 128 + 64 * (k % 4));
    }
    return benchutil::FinishReply(results, request, user);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    SearchForm* form = benchutil::StartSearchView(dir);
    SearchResultsForm* tab = benchutil::OpenSearchTab(form, "rock");
    ItemPtr request = benchutil::RequestOfTab(tab);
    for (int u = 0; u < kUsers; ++u)
        form->OnUserSearchResults(MakeReply(request, u));
    app.processEvents();
    QTreeWidget* tree = tab->searchResults();
    std::printf("%d file rows from %d users, %d folders of %d files each\n", benchutil::ShownFiles(tree), kUsers, kFolders,
                kFiles);

    QElapsedTimer t;
    for (const char* filter : {"rock live", "-demo", "mbr:320", ""}) {
        t.start();
        tab->filterEdit()->setText(filter);
        app.processEvents();
        const double ms = Ms(t);
        std::printf("  filter %-12s %8.1f ms (%d files shown)\n", filter[0] ? filter : "cleared", ms, benchutil::ShownFiles(tree));
    }
    t.start();
    tree->sortItems(1, Qt::DescendingOrder);
    app.processEvents();
    std::printf("  sortItems on column 1: %8.1f ms\n", Ms(t));
    benchutil::CloseSearchTab(form, tab);
    return 0;
}
