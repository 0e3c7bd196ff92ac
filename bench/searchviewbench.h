// The search view on its own, as the search benchmarks run it: the engine, the toolbars it
// registers with and the view, shown; and a new result tab for a search.
#pragma once

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "bench/benchutil.h"
#include "model/delayedinvoker.h"
#include "model/sizemanager.h"
#include "ui/search/searchform.h"
#include "ui/search/searchresultsform.h"

#include <QTabWidget>
#include <QTreeWidget>

namespace benchutil {

// The search view over a started engine, shown, before the saved state is loaded into it.
inline SearchForm* NewSearchView(const QTemporaryDir& dir)
{
    StartEngine(dir);
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
    return form;
}

inline SearchForm* StartSearchView(const QTemporaryDir& dir)
{
    SearchForm* form = NewSearchView(dir);
    form->DataLoaded();
    return form;
}

inline SearchResultsForm* OpenSearchTab(SearchForm* form, const QString& text)
{
    const unsigned int token = gp_server->FileSearch(text, false);
    form->CreateSearchForm(token, text, GlobalSearch);
    auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
    return qobject_cast<SearchResultsForm*>(tabs->widget(tabs->count() - 1));
}

// The search request whose replies the tab shows.
inline ItemPtr RequestOfTab(SearchResultsForm* tab)
{
    ItemPtr widget = d.GetType("search_results_widget")->HasItem(Value(tab));
    return widget.GetItems("search_request");
}

inline void CloseSearchTab(SearchForm* form, SearchResultsForm* tab)
{
    auto* tabs = form->findChild<QTabWidget*>("searchTabControl");
    form->OnTabCloseRequested(tabs->indexOf(tab));
}

// One result of a reply, shaped as the peer messenger stores it.
inline void AddResult(ItemPtr results, const QString& name, const QString& folder, long long size, int bitrate)
{
    ItemPtr result = d.GetType("search_result")->NewItem();
    result += results;
    result += d.GetType("search_result_file_name")->GetItem(Value(name));
    result += d.GetType("search_result_file_folder")->GetItem(Value(folder));
    result += d.GetType("file_size")->GetItem(Value(size));
    result += d.GetType("bitrate")->GetItem(Value(bitrate));
}

// Ties a reply, whose results are made, to the search and to user number n: a free slot for every
// third user, the speed and the queue growing with n.
inline ItemPtr FinishReply(ItemPtr results, ItemPtr request, int n)
{
    results += request;
    results += d.GetType("user")->GetItem(Value(QString("user%1").arg(n)));
    results += d.GetType("search_results_user_available")->GetItem(n % 3 ? "no" : "yes");
    results += d.GetType("search_results_user_speed")->GetItem(Value(n * 1000));
    results += d.GetType("search_results_uploads_in_queue")->GetItem(Value(n % 7));
    return results;
}

// The file rows the filter leaves shown.
inline int ShownFiles(QTreeWidget* tree)
{
    int shown = 0;
    for (QTreeWidgetItemIterator it(tree, QTreeWidgetItemIterator::NotHidden); *it; ++it)
        shown += (*it)->childCount() == 0 ? 1 : 0;
    return shown;
}

}  // namespace benchutil
