#include "ui/search/searchresultsform.h"

#include "app/eventtoolbar.h"
#include "app/focus.h"
#include "model/settings.h"
#include "server/server.h"
#include "ui/search/filterhelpdialog.h"

#include "ui_searchresultsform.h"

#include <QHeaderView>

namespace {

// The saved filter a filter text stands for: blanks made single and trimmed, lower case.
ItemPtr SavedFilter(const QString& text)
{
    return d.GetType("saved_filter")->HasItem(Value(text.simplified().toLower()));
}

}  // namespace

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
    connect(ui->savedFiltersBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &SearchResultsForm::OnSavedFiltersBoxIndexChanged);
    connect(ui->filterEdit, &QLineEdit::textChanged, this, &SearchResultsForm::OnFilterTextChanged);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &SearchResultsForm::OnClearFilterClicked);
    connect(ui->saveFilterButton, &QPushButton::clicked, this, &SearchResultsForm::OnSaveFilterClicked);
    connect(ui->defaultFilterBox, &QCheckBox::clicked, this, &SearchResultsForm::OnDefaultFilterBoxToggled);
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
    Type* savedFilters = d.GetType("saved_filter");
    for (Item* filter : savedFilters->ItemsInOrder())
        ui->savedFiltersBox->addItem(ItemPtr(filter).AsString());
    AddHandler(savedFilters->itemAdded, this, &SearchResultsForm::OnSavedFilterAdded);
    AddHandler(savedFilters->itemRemoved, this, &SearchResultsForm::OnSavedFilterRemoved);
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
    FilterHelpDialog::Open(this);
}

void SearchResultsForm::OnFilterTextChanged(QString i_text)
{
    const bool saved = SavedFilter(i_text);
    ui->saveFilterButton->setText(saved ? "Remove Filter" : "Save Filter");
    // Exactly the stored text: the default is what a new page types into its box.
    ui->defaultFilterBox->setChecked(!i_text.isEmpty() && GetSetting("default_search_filter") == i_text);
}

void SearchResultsForm::OnSaveFilterClicked()
{
    const QString key = ui->filterEdit->text().simplified().toLower();
    if (ItemPtr filter = SavedFilter(key))
        filter.Remove();
    else if (!key.isEmpty())
        d.GetType("saved_filter")->GetItem(Value(key));
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int i_index)
{
    if (i_index <= 0)
        return;
    ui->filterEdit->setText(ui->savedFiltersBox->itemText(i_index));
    ui->savedFiltersBox->setCurrentIndex(0);
}

void SearchResultsForm::OnClearFilterClicked()
{
    ui->filterEdit->clear();
}

void SearchResultsForm::OnDefaultFilterBoxToggled(bool i_checked)
{
    const QString text = ui->filterEdit->text();
    if (!i_checked)
        d.GetType("global")->GetItem("default_search_filter").Disconnect("global_value");
    else if (text.isEmpty())
        ui->defaultFilterBox->setChecked(false);
    else
        SetSetting("default_search_filter", Value(text));
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr i_filter)
{
    ui->savedFiltersBox->addItem(i_filter.AsString());
    OnFilterTextChanged(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr i_filter)
{
    const int index = ui->savedFiltersBox->findText(i_filter.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    // Entry 0 is the list's title, never a filter.
    if (index > 0)
        ui->savedFiltersBox->removeItem(index);
    OnFilterTextChanged(ui->filterEdit->text());
}

void SearchResultsForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(this);
}
