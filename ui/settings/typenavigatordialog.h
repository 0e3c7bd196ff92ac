// The developer's navigator over the item graph's types and their relations.
#pragma once

#include <QDialog>

class Ui_TypeNavigatorDialog;

class TypeNavigatorDialog : public QDialog
{
    Q_OBJECT

public:
    explicit TypeNavigatorDialog(QWidget* parent = nullptr);
    ~TypeNavigatorDialog() override;

    // Runs once, after construction.
    void Init();

private:
    Ui_TypeNavigatorDialog* mp_ui;
};
