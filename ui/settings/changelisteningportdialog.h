// Chooses the plain peer listener's port for the next start (the setting `new_listening_port`).
#pragma once

#include <QDialog>

class Ui_ChangeListeningPortDialog;

class ChangeListeningPortDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ChangeListeningPortDialog(QWidget* parent = nullptr);
    ~ChangeListeningPortDialog() override;

public slots:
    void accept() override;

private:
    Ui_ChangeListeningPortDialog* mp_ui;
};
