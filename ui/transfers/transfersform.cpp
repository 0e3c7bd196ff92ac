#include "ui/transfers/transfersform.h"

#include "ui_transfersform.h"

TransfersForm* transfersForm = nullptr;

TransfersForm::TransfersForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_TransfersForm)
{
    transfersForm = this;
    ui->setupUi(this);
}

TransfersForm::~TransfersForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    delete ui;
}

void TransfersForm::Init()
{
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(this);
}

void TransfersForm::DataLoaded()
{
}

void TransfersForm::EveryHalfMinute()
{
}

void TransfersForm::RecolorEntries()
{
}
