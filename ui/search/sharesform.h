// The browse view: one tab per browsed share.
#pragma once

#include "model/data.h"

#include <QWidget>

class Ui_SharesForm;

class SharesForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit SharesForm(QWidget* parent = nullptr);
    ~SharesForm() override;

    // Start-up step, once the peer messenger and the context toolbar exist.
    void Init();

private:
    Ui_SharesForm* ui;
};

extern SharesForm* sharesForm;
