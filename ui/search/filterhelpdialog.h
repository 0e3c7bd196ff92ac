// The help window of the result filter language; one for the whole program.
#pragma once

#include <QDialog>

class FilterHelpDialog : public QDialog
{
    Q_OBJECT

public:
    explicit FilterHelpDialog(QWidget* parent = nullptr);
    ~FilterHelpDialog() override;
};

// The one open help window, or null.
extern FilterHelpDialog* filterHelpDialog;
