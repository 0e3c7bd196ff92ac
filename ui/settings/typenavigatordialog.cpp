#include "ui/settings/typenavigatordialog.h"

#include "ui_typenavigatordialog.h"

TypeNavigatorDialog::TypeNavigatorDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_TypeNavigatorDialog)
{
    mp_ui->setupUi(this);
}

TypeNavigatorDialog::~TypeNavigatorDialog()
{
    delete mp_ui;
}

void TypeNavigatorDialog::Init()
{
}
