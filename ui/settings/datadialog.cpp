#include "ui/settings/datadialog.h"

#include "ui_datadialog.h"

DataDialog::DataDialog(Data* data, QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_DataDialog)
    , mp_data(data)
{
    mp_ui->setupUi(this);
}

DataDialog::~DataDialog()
{
    delete mp_ui;
}
