#include "ui/chat/createroomdialog.h"

#include "server/server.h"

#include "ui_createroomdialog.h"

CreateRoomDialog* createRoomDialog = nullptr;

CreateRoomDialog::CreateRoomDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_CreateRoomDialog)
{
    mp_ui->setupUi(this);
    createRoomDialog = this;
}

CreateRoomDialog::~CreateRoomDialog()
{
    delete mp_ui;
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
}

void CreateRoomDialog::OnButtonClicked()
{
    const QString name = mp_ui->roomNameEdit->text().trimmed();
    if (name.isEmpty())
        return;
    if (gp_server)
        gp_server->EnterRoom(name, mp_ui->createPrivateCheckBox->isChecked());
    // Forgotten at once, so that the next "Create Room" makes a fresh dialog even before
    // this one is gone.
    if (createRoomDialog == this)
        createRoomDialog = nullptr;
    hide();
    deleteLater();
}
