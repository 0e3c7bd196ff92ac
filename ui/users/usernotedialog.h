// The editor of the private note kept about another user; one open dialog per user.
#pragma once

#include <QDialog>
#include <QString>

class Ui_UserNoteDialog;

class UserNoteDialog : public QDialog
{
    Q_OBJECT

public:
    // Declares the link between an open dialog and its user; once, at start-up.
    static void Init();
    // The user's open note dialog, activated, or a new top-level one; the caller shows it.
    static UserNoteDialog* GetDialog(QString user);

    explicit UserNoteDialog(QString user, QWidget* parent = nullptr);
    ~UserNoteDialog() override;

public slots:
    // Stores the trimmed text as the user's note; blank text removes the note. Closes the dialog.
    void OnSaveNote();
    // Empties the editor; nothing is stored until Save.
    void OnClearNote();

private:
    QString m_user;
    Ui_UserNoteDialog* mp_ui;
};
