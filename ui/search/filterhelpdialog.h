// The help window of the result filter language; one for the whole program.
#pragma once

#include <QDialog>

class Ui_FilterHelpDialog;

class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    // Sets filterHelpDialog; the dialog deletes itself once closed.
    explicit FilterHelpDialog(QWidget* parent = nullptr);
    ~FilterHelpDialog() override;

    // What every "Filter Help" button does: shows the open window, or makes one owned by the page.
    static void Open(QWidget* owner);

private:
    Ui_FilterHelpDialog* ui;
};

// The one open help window, or null.
extern FilterHelpDialog* filterHelpDialog;
