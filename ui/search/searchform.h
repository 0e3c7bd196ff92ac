// The search view: search tabs and the wish list.
#pragma once

#include "model/data.h"
#include "model/datasaver.h"

#include <QWidget>

class Ui_SearchForm;

class SearchForm : public QWidget, public DataHandler, public DataLoadedEventHandler
{
    Q_OBJECT

public:
    explicit SearchForm(QWidget* parent = nullptr);
    ~SearchForm() override;

    // Start-up step, once the peer messenger and the context toolbar exist.
    void Init();
    // Runs once the save file is loaded.
    void DataLoaded() override;

private:
    Ui_SearchForm* ui;
};

extern SearchForm* searchForm;
