#include "ui/settings/changeusernamepassworddialog.h"

#include "model/settings.h"

#include "ui_changeusernamepassworddialog.h"

namespace {

// A setting's text ends at the first NUL, as every text control's value does.
QString UpToNul(const QString& text)
{
    const int nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

}  // namespace

ChangeUsernamePasswordDialog::ChangeUsernamePasswordDialog(bool firstRun, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_ChangeUsernamePasswordDialog)
    , m_firstRun(firstRun)
{
    ui->setupUi(this);
    ui->usernameEdit->setText(GetSetting("username"));
    ui->passwordEdit->setText(GetSetting("password"));
    if (m_firstRun)
        setWindowTitle("Set Username/Password");
    activateWindow();
}

ChangeUsernamePasswordDialog::~ChangeUsernamePasswordDialog()
{
    delete ui;
}

void ChangeUsernamePasswordDialog::accept()
{
    const QString username = UpToNul(ui->usernameEdit->text()).trimmed();
    const QString password = UpToNul(ui->passwordEdit->text()).trimmed();
    if (username.isEmpty() || password.isEmpty())
        return;

    QDialog::accept();
    SetSetting("username", username);
    SetSetting("password", password);
    // The start-up caller owns a first-run dialog; any other deletes itself once done.
    if (!m_firstRun)
        deleteLater();
}
