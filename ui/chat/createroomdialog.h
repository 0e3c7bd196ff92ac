// Names a room to enter, made on the server when it does not exist yet, optionally private.
#pragma once

#include <QDialog>

class Ui_CreateRoomDialog;

class CreateRoomDialog : public QDialog
{
    Q_OBJECT

public:
    explicit CreateRoomDialog(QWidget* parent = nullptr);
    ~CreateRoomDialog() override;

public slots:
    void OnButtonClicked();

private:
    Ui_CreateRoomDialog* mp_ui;
};

// The one dialog while it exists, reused by whoever opens it; null otherwise.
extern CreateRoomDialog* createRoomDialog;
