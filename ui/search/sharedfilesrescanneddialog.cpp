#include "ui/search/sharedfilesrescanneddialog.h"

#include "ui_sharedfilesrescanneddialog.h"

SharedFilesRescannedDialog::SharedFilesRescannedDialog(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_SharedFilesRescannedDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
}

SharedFilesRescannedDialog::~SharedFilesRescannedDialog()
{
    delete ui;
}

void SharedFilesRescannedDialog::Append(QString line)
{
    ui->plainTextEdit->appendPlainText(line);
}
