// The search view: search tabs, their results and the wish list.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QPoint>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <vector>

class QTabWidget;
class QTreeWidgetItem;
class SearchResultsForm;
class Ui_SearchForm;

enum SearchType { GlobalSearch = 0, WishListSearch = 1, UserListSearch = 2, RoomSearch = 3 };

class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;

    // Start-up step, once the peer messenger, the transfer engine and the context toolbar exist.
    void Init();
    // Runs once the save file is loaded.
    void DataLoaded() override;

    // Opens the result tab of a search already sent; a wish's searches share one tab.
    void CreateSearchForm(unsigned int token, QString text, SearchType type);
    // The result tab on show in the visible one of the two tab widgets, or null.
    SearchResultsForm* GetCurrentSearchResultsForm();

    // Result rows (the tab's record is `widget`); returns the user row.
    QTreeWidgetItem* AddSearchResult(ItemPtr widget, ItemPtr result);
    // The user row above a row, or the row itself.
    QTreeWidgetItem* GetNodeUserNode(QTreeWidgetItem* row);
    // True when result a comes before result b in a download batch.
    static bool CompareSearchResults(ItemPtr a, ItemPtr b);
    // Queues the download of one result, ties it to the search text and marks its file row.
    static ItemPtr DownloadResult(ItemPtr result, ItemPtr searchText);

    // Wish rows.
    void OnWishListItemAdded(ItemPtr wish);

public slots:
    void OnSearchEntered();
    void OnTabCloseRequested(int index);
    void OnWishTabCloseRequested(int index);
    void OnWishListItemCheckStateChanged(int state);
    void OnCorrelationClicked(QTreeWidgetItem* item, int column);
    void OnCorrelationDoubleClicked(QTreeWidgetItem* item, int column);
    void OnActionBarTriggered(QWidget* widget, QString action);
    void OnFilterTextChanged(QString text);
    void OnUserSearchResults(ItemPtr searchResults);
    void OnResultDoubleClicked(QTreeWidgetItem* row, int column);
    void OnSearchResultsContextMenuRequested(QPoint point);
    void OnSearchRequested(uint token, QString text, bool wishList);

private:
    // Graph handlers.
    void OnWishListItemRemoved(ItemPtr wish);
    void OnEnteredRoom(ItemPtr room);
    void OnLeftRoom(ItemPtr room);

    void DeclareTypes();
    // False, and says so under the search box, while a search cannot reach the server.
    bool SearchCanGoOut();
    void CloseTab(QTabWidget* tabs, int index);
    // Hides the rows of one user that the tab's filter rejects, as results arrive.
    void FilterUserRows(SearchResultsForm* tab, QTreeWidgetItem* userRow);
    // Filters every row of the tab.
    void FilterTab(SearchResultsForm* tab, const QString& text);
    void RaiseWishAlert(ItemPtr widget, SearchResultsForm* tab);
    void ToggleExpand(SearchResultsForm* tab, const char* type, const char* action, const QString& label, bool users);
    // The record of a tab, null once its tab is closed.
    static ItemPtr WidgetItem(SearchResultsForm* tab);
    static SearchResultsForm* TabOf(QObject* child);

    // Makes the rows of up to `count` wishes of the saved list; the rest follow in later passes
    // of the event loop, and the list sorts itself again once all are made.
    void AddPendingWishRows(int count);

    Ui_SearchForm* ui;
    // Texts of the saved wishes in the list's order, and the next one still without a row.
    QStringList m_pendingWishes;
    int m_nextPendingWish = 0;
};

extern SearchForm* searchForm;
