#include "ui/users/usernotedialog.h"

#include "model/data.h"

#include "ui_usernotedialog.h"

#include <QIcon>

namespace {

ItemPtr UserItem(const QString& user)
{
    return d.GetType("user")->GetItem(Value(user));
}

}  // namespace

void UserNoteDialog::Init()
{
    if (d.HasType("user_note_dialog"))
        return;
    Type* dialogs = d.NewType("user_note_dialog", PrimacyRoot, false, true);
    if (Type* users = d.HasType("user"))
        dialogs->RelateToType(users, One, One, false);
}

UserNoteDialog* UserNoteDialog::GetDialog(QString user)
{
    Data::Scope scope(&d);
    ItemPtr userItem = UserItem(user);
    if (ItemPtr link = userItem["user_note_dialog"]) {
        auto* open = ItemObject<UserNoteDialog>(link);
        open->activateWindow();
        open->raise();
        return open;
    }
    auto* dialog = new UserNoteDialog(user);
    userItem += d.GetType("user_note_dialog")->GetItem(Value(static_cast<QDialog*>(dialog)));
    return dialog;
}

UserNoteDialog::UserNoteDialog(QString user, QWidget* parent)
    : QDialog(parent)
    , m_user(user)
    , mp_ui(new Ui_UserNoteDialog)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    // Shown as the user typed it: a note that looks like markup stays the text it is.
    if (ItemPtr note = UserItem(m_user)["user_note"])
        mp_ui->noteEdit->setPlainText(note.AsString());
    setWindowIcon(QIcon(":/icons/note_icon"));
    setWindowTitle(m_user);
}

UserNoteDialog::~UserNoteDialog()
{
    delete mp_ui;
    // The next request for this user's note must make a new dialog.
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("user_note_dialog")->HasItem(Value(static_cast<QDialog*>(this)));
    if (link)
        link.Remove();
}

void UserNoteDialog::OnSaveNote()
{
    Data::Scope scope(&d);
    const QString text = mp_ui->noteEdit->toPlainText().trimmed();
    ItemPtr userItem = UserItem(m_user);
    if (text.isEmpty())
        userItem.Disconnect("user_note");
    else
        userItem += d.GetType("user_note")->GetItem(Value(text));
    // Delete-on-close: the dialog goes later, once this button's click is over.
    accept();
}

void UserNoteDialog::OnClearNote()
{
    mp_ui->noteEdit->clear();
}
