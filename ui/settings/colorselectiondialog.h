// The colour scheme of the client: the application palette, transfer rows and chat lines.
#pragma once

#include <QDialog>

class Ui_ColorSelectionDialog;

class ColorSelectionDialog : public QDialog
{
    Q_OBJECT

public:
    // Shown non-modally by the caller; deletes itself once closed.
    explicit ColorSelectionDialog(QWidget* parent = nullptr);
    ~ColorSelectionDialog() override;

private:
    Ui_ColorSelectionDialog* ui;
};
