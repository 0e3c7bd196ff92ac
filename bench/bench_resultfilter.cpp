// The filter and the order of one large result tab: 50,000 file rows from 100 users, each with 20
// folders of 25 files. Timed: one filter change each for words, an excluded word, a bitrate limit
// (which looks up every file's item) and clearing, then the sort by free slot.
#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "bench/benchutil.h"
#include "model/delayedinvoker.h"
#include "model/sizemanager.h"
#include "ui/search/searchform.h"
#include "ui/search/searchresultsform.h"

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
        for (int k = 0; k < kFiles; ++k) {
            ItemPtr result = d.GetType("search_result")->NewItem();
            result += results;
            result += d.GetType("search_result_file_name")->GetItem(
                Value(QString(k % 5 ? "rock track %1.mp3" : "rock demo %1.mp3").arg(k)));
            result += d.GetType("search_result_file_folder")->GetItem(Value(folder));
            result += d.GetType("file_size")->GetItem(Value(static_cast<long long>(4000000 + k * 1000)));
            result += d.GetType("bitrate")->GetItem(Value(128 + 64 * (k % 4)));
        }
    }
    results += request;
    results += d.GetType("user")->GetItem(Value(QString("user%1").arg(user)));
    results += d.GetType("search_results_user_available")->GetItem(user % 3 ? "no" : "yes");
    results += d.GetType("search_results_user_speed")->GetItem(Value(user * 1000));
    results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(user % 7));
    return results;
}

int ShownFiles(QTreeWidget* tree)
{
    int shown = 0;
    for (QTreeWidgetItemIterator it(tree, QTreeWidgetItemIterator::NotHidden); *it; ++it)
        shown += (*it)->childCount() == 0 ? 1 : 0;
    return shown;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir;
    benchutil::StartEngine(dir);
    Type* wish = d.NewType("wish_list_item", PrimacyRoot, false, true);
    wish->RelateToType(d.NewType("wish_list_item_enabled", PrimacyLeaf, true, true), Many, One, false);
    new ActionSetToolBar();
    new EventToolBar(nullptr);
    new SizeManager();
    new DelayedInvoker();
    auto* form = new SearchForm();
    form->Init();
    form->resize(1200, 800);
    form->show();
    form->DataLoaded();

    const unsigned int token = gp_server->FileSearch("rock", false);
    form->CreateSearchForm(token, "rock", GlobalSearch);
    auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
    auto* tab = qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
    ItemPtr request = d.GetType("search_request")->HasItem(Value(token));
    for (int u = 0; u < kUsers; ++u)
        form->OnUserSearchResults(MakeReply(request, u));
    app.processEvents();
    QTreeWidget* tree = tab->searchResults();
    std::printf("%d file rows from %d users, %d folders of %d files each\n", ShownFiles(tree), kUsers, kFolders,
                kFiles);

    QElapsedTimer t;
    for (const char* filter : {"rock live", "-demo", "mbr:320", ""}) {
        t.start();
        tab->filterEdit()->setText(filter);
        app.processEvents();
        const double ms = Ms(t);
        std::printf("  filter %-12s %8.1f ms (%d files shown)\n", filter[0] ? filter : "cleared", ms, ShownFiles(tree));
    }
    t.start();
    tree->sortItems(1, Qt::DescendingOrder);
    app.processEvents();
    std::printf("  sortItems on column 1: %8.1f ms\n", Ms(t));
    form->OnTabCloseRequested(tabs->indexOf(tab));
    return 0;
}
