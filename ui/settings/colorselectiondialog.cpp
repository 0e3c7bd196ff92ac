#include "ui/settings/colorselectiondialog.h"

#include "ui_colorselectiondialog.h"

ColorSelectionDialog::ColorSelectionDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ColorSelectionDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

ColorSelectionDialog::~ColorSelectionDialog()
{
    delete ui;
}
