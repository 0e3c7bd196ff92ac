#include "ui/search/filterhelpdialog.h"

#include "ui_filterhelpdialog.h"

FilterHelpDialog* filterHelpDialog = nullptr;

FilterHelpDialog::FilterHelpDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_FilterHelpDialog)
{
    ui->setupUi(this);
    filterHelpDialog = this;
    setAttribute(Qt::WA_DeleteOnClose);
}

FilterHelpDialog::~FilterHelpDialog()
{
    delete ui;
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
}

void FilterHelpDialog::Open(QWidget* owner)
{
    if (!filterHelpDialog)
        new FilterHelpDialog(owner);
    filterHelpDialog->show();
}
