// The editor of the private note kept about another user; one open dialog per user.
#pragma once

#include <QDialog>

class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    // Declares the link between an open dialog and its user; once, at start-up.
    static void Init();

    explicit UserNoteDialog(QWidget* parent = nullptr);
    ~UserNoteDialog() override;
};
