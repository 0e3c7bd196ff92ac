// Offers a newer build: both build dates, the release notes, download or skip.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace Ui {
class NewVersionDialog;
}

class NewVersionDialog : public QDialog
{
    Q_OBJECT

public:
    NewVersionDialog(qint64 i_version, QString i_downloadLink, QStringList i_description, QWidget* parent = nullptr);
    ~NewVersionDialog() override;

    // The link opened by "Download", or an empty URL when it is not a web address.
    static QUrl DownloadUrl(const QString& link);

public slots:
    void OnDownloadButtonClicked();
    void OnSkipButtonClicked();

private:
    Ui::NewVersionDialog* mp_ui;
    qint64 m_version;
    QString m_downloadLink;
};
