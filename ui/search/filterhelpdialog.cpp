#include "ui/search/filterhelpdialog.h"

FilterHelpDialog* filterHelpDialog = nullptr;

FilterHelpDialog::FilterHelpDialog(QWidget* parent)
    : QDialog(parent)
{
    filterHelpDialog = this;
    setWindowTitle("Filter Help");
}

FilterHelpDialog::~FilterHelpDialog()
{
    if (filterHelpDialog == this)
        filterHelpDialog = nullptr;
}
