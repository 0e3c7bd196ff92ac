// Edits the login credentials (the settings `username` and `password`); never talks to the
// server, which reads both settings at its next login.
#pragma once

#include <QDialog>

class Ui_ChangeUsernamePasswordDialog;

class ChangeUsernamePasswordDialog : public QDialog
{
    Q_OBJECT

public:
    // firstRun: the start-up form, run modally and destroyed by its caller.
    explicit ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent = nullptr);
    ~ChangeUsernamePasswordDialog() override;

public slots:
    void accept() override;

private:
    Ui_ChangeUsernamePasswordDialog* ui;
    bool m_firstRun;
};
