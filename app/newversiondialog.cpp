#include "app/newversiondialog.h"

#include "app/mainwindow.h"
#include "app/updatechecker.h"
#include "model/settings.h"
#include "ui_newversiondialog.h"

#include <QDesktopServices>
#include <QUrl>

NewVersionDialog::NewVersionDialog(qint64 i_version, QString i_downloadLink, QStringList i_description,
                                   QWidget* parent)
    : QDialog(parent)
    , mp_ui(new Ui::NewVersionDialog)
    , m_version(i_version)
    , m_downloadLink(i_downloadLink)
{
    mp_ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);
    mp_ui->currentVersionEdit->setText(BuildText(g_currentVersion));
    mp_ui->newVersionEdit->setText(BuildText(i_version));
    // The notes come from the network: plain text only.
    for (const QString& line : i_description)
        mp_ui->descriptionEdit->appendPlainText(line);
    mp_ui->downloadButton->setEnabled(!DownloadUrl(m_downloadLink).isEmpty());
    connect(mp_ui->downloadButton, &QPushButton::clicked, this, &NewVersionDialog::OnDownloadButtonClicked);
    connect(mp_ui->skipButton, &QPushButton::clicked, this, &NewVersionDialog::OnSkipButtonClicked);
}

NewVersionDialog::~NewVersionDialog()
{
    delete mp_ui;
}

QUrl NewVersionDialog::DownloadUrl(const QString& link)
{
    // The link comes from the network: only a web address may reach the desktop's URL handler.
    const QUrl url(link, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != "http" && scheme != "https"))
        return QUrl();
    return url;
}

void NewVersionDialog::OnDownloadButtonClicked()
{
    const QUrl url = DownloadUrl(m_downloadLink);
    if (!url.isEmpty())
        QDesktopServices::openUrl(url);
}

void NewVersionDialog::OnSkipButtonClicked()
{
    SetSetting("skip_version", QString::number(m_version));
    close();
}
