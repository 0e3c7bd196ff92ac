// The page of one search: its result tree, the related searches beside it and the filter bar.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

class QLineEdit;
class QShowEvent;
class QTreeWidget;
class Ui_SearchResultsForm;

class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    SearchResultsForm(QString searchText, bool isWish, QWidget* parent = nullptr);
    ~SearchResultsForm() override;

    // Called by the creator once the page is set up.
    void Init();

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;

    void SetSortingParamters(int column, Qt::SortOrder order);
    int SortColumn() const { return m_sortColumn; }
    Qt::SortOrder SortOrder() const { return m_sortOrder; }
    const QString& SearchText() const { return m_searchText; }
    bool IsWish() const { return m_isWish; }

    // The tab has been closed: calls still on their way find the page closed and do nothing.
    void MarkClosed() { m_closed = true; }
    bool IsClosed() const { return m_closed; }

    // Refills the related searches from the graph.
    void PopulateCorrelations();

public slots:
    void Sort();
    void OnSearchCorrelations(QString i_searchText);
    void OnFilterHelpClicked();
    void OnFilterTextChanged(QString i_text);
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int i_index);
    void OnClearFilterClicked();
    void OnDefaultFilterBoxToggled(bool i_checked);

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    // Saved filters are shared by every page: each page's list follows the items.
    void OnSavedFilterAdded(ItemPtr i_filter);
    void OnSavedFilterRemoved(ItemPtr i_filter);

    Ui_SearchResultsForm* ui;
    int m_sortColumn = 1;
    Qt::SortOrder m_sortOrder = Qt::DescendingOrder;
    QString m_searchText;
    bool m_isWish;
    bool m_closed = false;
};
