// The once-per-run check for a newer build on the maker's web host.
#pragma once

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

class QNetworkReply;

// The maker's web host when the `web_host` setting names none.
extern const char* const kDefaultWebHost;

// An http:// page on the maker's web host (setting `web_host`, which may carry ":port").
// `query` is put in as given: the caller percent-encodes its values.
QUrl MakerWebPageUrl(const QString& path, const QString& query = QString());

// "Build m/d/yyyy" for a yyyymmdd build number.
QString BuildText(qint64 version);

class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    // A version file is a few lines; anything bigger is not one.
    static const int kMaxReplySize = 64 * 1024;

    explicit UpdateChecker(QObject* parent = nullptr);
    ~UpdateChecker() override;

    void Init();
    void CheckForNewVersion();
    bool HasRequested() const { return m_requested; }
    bool IsPending() const { return !mp_reply.isNull(); }

    // Reads a version file; emits NewVersion when it offers a build worth showing.
    void ParseVersionFile(const QByteArray& content);

signals:
    void NewVersion(qint64 i_version, QString i_downloadLink, QStringList i_description);

public slots:
    void OnConnectedToServer();
    void OnRequestFinished();

private slots:
    void OnReadyRead();

private:
    QNetworkAccessManager m_http;
    QPointer<QNetworkReply> mp_reply;
    QByteArray m_buffer;
    bool m_tooLarge = false;
    bool m_requested = false;
};
