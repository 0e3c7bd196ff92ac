#include "ui/settings/changelisteningportdialog.h"

#include "model/settings.h"

#include "ui_changelisteningportdialog.h"

#include <QMessageBox>

ChangeListeningPortDialog::ChangeListeningPortDialog(QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui_ChangeListeningPortDialog)
{
    mp_ui->setupUi(this);
    mp_ui->portEdit->setInputMask("D9999");
    // The port in use, not a pending one: that is what the user changes from.
    mp_ui->portEdit->setText(GetSetting("listening_port"));
}

ChangeListeningPortDialog::~ChangeListeningPortDialog()
{
    delete mp_ui;
}

void ChangeListeningPortDialog::accept()
{
    const int port = mp_ui->portEdit->text().toInt();
    if (port < 1 || port > 65535) {
        QMessageBox::information(this, "Invalid Port Number", "Port number must be in the range of 1 to 65535.");
        return;
    }
    if (port == GetSettingInt("listening_port")) {
        QMessageBox::information(this, "Port Number Not Changed", "Port number has not been changed.");
        return;
    }
    // Closing a delete-on-close dialog schedules its deletion, which the box's own event loop
    // would carry out while the box, a child of this dialog, still runs on the stack.
    setAttribute(Qt::WA_DeleteOnClose, false);
    QDialog::accept();
    // Applied by the peer listener at the next start, never while it listens.
    SetSetting("new_listening_port", port);
    QMessageBox::information(this, "Change to Listening Port Pending",
                             "Changes to the listening port will take effect after a client restart.");
    deleteLater();
}
