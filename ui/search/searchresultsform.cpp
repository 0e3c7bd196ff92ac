#include "ui/search/searchresultsform.h"

#include "app/focus.h"
#include "server/server.h"
#include "ui/search/filterhelpdialog.h"

#include "ui_searchresultsform.h"

#include <QHeaderView>

SearchResultsForm::SearchResultsForm(QString searchText, bool isWish, QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SearchResultsForm)
    , m_searchText(std::move(searchText))
    , m_isWish(isWish)
{
    ui->setupUi(this);
    // Rows are ordered only on request: a tree that sorted itself on every added row would
    // crawl under a stream of replies.
    ui->searchResultsTreeWidget->setSortingEnabled(false);
    ui->correlationsWidget->hide();
    ui->correlationsWidget->setHeaderLabels({"related searches"});
    connect(ui->pushButton, &QPushButton::clicked, this, &SearchResultsForm::OnFilterHelpClicked);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &SearchResultsForm::OnClearFilterClicked);
    if (!m_isWish) {
        PopulateCorrelations();
        if (gp_server)
            connect(gp_server, &Server::SearchCorrelations, this, &SearchResultsForm::OnSearchCorrelations);
    }
}

SearchResultsForm::~SearchResultsForm()
{
    delete ui;
}

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(ui->searchResultsTreeWidget, 2);
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return ui->filterEdit;
}

QTreeWidget* SearchResultsForm::CorrelationsWidget() const
{
    return ui->correlationsWidget;
}

void SearchResultsForm::SetSortingParamters(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_sortOrder = order;
}

void SearchResultsForm::Sort()
{
    if (m_closed)
        return;
    ui->searchResultsTreeWidget->sortByColumn(m_sortColumn, m_sortOrder);
}

void SearchResultsForm::PopulateCorrelations()
{
    ui->correlationsWidget->clear();
    ui->correlationsWidget->hide();
    ItemPtr text = d.GetType("search_request_text")->HasItem(Value(m_searchText));
    if (!text)
        return;
    const std::list<ItemPtr> sorted = text.GetItems("search_correlation").SortNumericBy("correlation_rank", false);
    if (sorted.empty())
        return;
    for (const ItemPtr& correlation : sorted) {
        auto* row = new QTreeWidgetItem(ui->correlationsWidget);
        row->setText(0, correlation["correlation_text"].AsString());
    }
    ui->correlationsWidget->show();
    ui->splitter->setSizes({width() - 150, 150});
}

void SearchResultsForm::OnSearchCorrelations(QString i_searchText)
{
    if (i_searchText == m_searchText)
        PopulateCorrelations();
}

void SearchResultsForm::OnFilterHelpClicked()
{
    if (!filterHelpDialog)
        new FilterHelpDialog(this);
    filterHelpDialog->show();
}

void SearchResultsForm::OnClearFilterClicked()
{
    ui->filterEdit->clear();
}
