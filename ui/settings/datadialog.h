// The developer's browser of the item graph's types and items.
#pragma once

#include <QDialog>

class Data;
class Ui_DataDialog;

class DataDialog : public QDialog
{
    Q_OBJECT

public:
    DataDialog(Data* data, QWidget* parent = nullptr);
    ~DataDialog() override;

private:
    Ui_DataDialog* mp_ui;
    Data* mp_data;
};
