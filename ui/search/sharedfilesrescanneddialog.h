// The report shown after the shared folders were walked again: one line per count.
#pragma once

#include <QDialog>
#include <QString>

class Ui_SharedFilesRescannedDialog;

class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    // Not shown yet; deletes itself once closed.
    explicit SharedFilesRescannedDialog(QWidget* parent = nullptr);
    ~SharedFilesRescannedDialog() override;

    // One paragraph of plain text, never markup.
    void Append(QString line);

private:
    Ui_SharedFilesRescannedDialog* ui;
};
