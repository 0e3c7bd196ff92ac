// A small central server on 127.0.0.1 for several real clients at once: it logs every client
// in, answers user status and address look-ups, tells watchers when a watched user comes or
// goes, and passes relayed connection requests (and their failure reports) between clients.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

class RelayServer : public QObject
{
public:
    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    bool Listen() { return m_server.listen(QHostAddress::LocalHost, 0); }
    quint16 Port() const { return m_server.serverPort(); }
    // True while the user is logged in and has told its listening port.
    bool IsReady(const QString& user) const;

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        QByteArray pending;
        QString user;
        quint16 port = 0;
    };

    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void OnDisconnected(QTcpSocket* socket);
    void Handle(Client& client, quint32 code, const QByteArray& fields);
    void Send(QTcpSocket* socket, quint32 code, const QByteArray& fields);
    void TellWatchers(const QString& user, bool online);
    Client* ClientOf(const QString& user) const;

    QTcpServer m_server;
    QList<Client*> m_clients;
    QHash<QString, QSet<QString>> m_watchers;  // watched user -> who watches
};
