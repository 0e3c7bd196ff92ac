#include "ui/search/searchform.h"

#include "ui_searchform.h"

SearchForm* searchForm = nullptr;

SearchForm::SearchForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SearchForm)
{
    searchForm = this;
    ui->setupUi(this);
}

SearchForm::~SearchForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    delete ui;
}

void SearchForm::Init()
{
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

void SearchForm::DataLoaded()
{
}
