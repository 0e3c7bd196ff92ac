#include "ui/search/sharesform.h"

#include "ui_sharesform.h"

SharesForm* sharesForm = nullptr;

SharesForm::SharesForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SharesForm)
{
    sharesForm = this;
    ui->setupUi(this);
}

SharesForm::~SharesForm()
{
    delete ui;
}

void SharesForm::Init()
{
}
