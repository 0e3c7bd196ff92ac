#include "ui/users/usernotedialog.h"

#include "model/data.h"

void UserNoteDialog::Init()
{
    if (d.HasType("user_note_dialog"))
        return;
    Type* dialogs = d.NewType("user_note_dialog", PrimacyRoot, false, true);
    if (Type* users = d.HasType("user"))
        dialogs->RelateToType(users, One, One, false);
}

UserNoteDialog::UserNoteDialog(QWidget* parent)
    : QDialog(parent)
{
}

UserNoteDialog::~UserNoteDialog() = default;
