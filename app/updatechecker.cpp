#include "app/updatechecker.h"

#include "app/mainwindow.h"
#include "model/settings.h"
#include "server/server.h"

#include <QNetworkReply>
#include <QNetworkRequest>

const char* const kDefaultWebHost = "www.tavrinel.net";

namespace {

// The host part only: anything that would change the scheme, the path or add credentials
// makes the setting unusable, and the default host is used instead.
QUrl WebHostBase()
{
    QString host = d.HasType("global") ? GetSetting("web_host").trimmed() : QString();
    if (!host.isEmpty()) {
        QUrl url(QStringLiteral("http://") + host, QUrl::StrictMode);
        if (url.isValid() && !url.host().isEmpty() && url.userInfo().isEmpty() && url.path().isEmpty()
            && !url.hasQuery() && !url.hasFragment())
            return url;
    }
    return QUrl(QStringLiteral("http://") + QLatin1String(kDefaultWebHost));
}

// One line as the version file means it: white space stripped, cut at a zero byte, Latin-1.
QString LineText(QByteArray line)
{
    line = line.trimmed();
    const int nul = line.indexOf('\0');
    if (nul != -1)
        line.truncate(nul);
    return QString::fromLatin1(line);
}

} // namespace

QUrl MakerWebPageUrl(const QString& path, const QString& query)
{
    QUrl url = WebHostBase();
    url.setPath(path);
    if (!query.isEmpty())
        url.setQuery(query, QUrl::StrictMode);
    return url;
}

QString BuildText(qint64 version)
{
    return QStringLiteral("Build %1/%2/%3").arg((version % 10000) / 100).arg(version % 100).arg(version / 10000);
}

UpdateChecker::UpdateChecker(QObject* parent)
    : QObject(parent)
{
}

UpdateChecker::~UpdateChecker()
{
    if (mp_reply) {
        mp_reply->disconnect(this);
        mp_reply->abort();
        mp_reply->deleteLater();
    }
}

void UpdateChecker::Init()
{
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::OnConnectedToServer);
}

void UpdateChecker::OnConnectedToServer()
{
    CheckForNewVersion();
}

void UpdateChecker::CheckForNewVersion()
{
    if (m_requested)
        return;
    m_requested = true;
    m_buffer.clear();
    m_tooLarge = false;
    QNetworkRequest request(MakerWebPageUrl(QStringLiteral("/qtversion.txt")));
    mp_reply = m_http.get(request);
    // Held back past the cap so an oversized reply shows itself without filling memory.
    mp_reply->setReadBufferSize(kMaxReplySize + 1);
    connect(mp_reply.data(), &QNetworkReply::readyRead, this, &UpdateChecker::OnReadyRead);
    connect(mp_reply.data(), &QNetworkReply::finished, this, &UpdateChecker::OnRequestFinished);
}

void UpdateChecker::OnReadyRead()
{
    if (!mp_reply || m_tooLarge)
        return;
    const qint64 room = kMaxReplySize - m_buffer.size();
    if (mp_reply->bytesAvailable() > room) {
        m_tooLarge = true;
        m_buffer.clear();
        mp_reply->abort();
        return;
    }
    m_buffer += mp_reply->readAll();
}

void UpdateChecker::OnRequestFinished()
{
    QNetworkReply* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    if (reply != mp_reply)
        return;
    OnReadyRead();
    mp_reply = nullptr;
    const bool failed = m_tooLarge || reply->error() != QNetworkReply::NoError;
    const QByteArray content = m_buffer;
    m_buffer.clear();
    // A failed check ends silently; the next run checks again.
    if (!failed)
        ParseVersionFile(content);
}

void UpdateChecker::ParseVersionFile(const QByteArray& content)
{
    int pos = 0;
    // A line ends with a line feed or at the end of the content.
    auto readLine = [&]() {
        const int lf = content.indexOf('\n', pos);
        const int end = lf == -1 ? content.size() : lf + 1;
        const QByteArray line = content.mid(pos, end - pos);
        pos = end;
        return LineText(line);
    };
    auto canReadLine = [&]() { return content.indexOf('\n', pos) != -1; };

    bool ok = false;
    qint64 offered = readLine().toLongLong(&ok, 10);
    if (!ok)
        offered = 0;
    const qint64 skipped = d.HasType("global") ? GetSetting("skip_version").toLongLong() : 0;
    if (offered <= skipped || offered <= g_currentVersion)
        return;
    const QString base = readLine();
    if (base.isEmpty())
        return;
    const QString stem = readLine();
    if (stem.isEmpty())
        return;
    QStringList notes;
    while (canReadLine())
        notes << readLine();
    emit NewVersion(offered, base + "/Linux/" + stem + "-64bit.tgz", notes);
}
