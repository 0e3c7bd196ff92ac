// A small central server on 127.0.0.1 for several real clients at once: it logs every client
// in, answers user status and address look-ups, tells watchers when a watched user comes or
// goes, and passes relayed connection requests (and their failure reports) between clients.
//
// Every client is given a forwarding port of its own in place of its listening port, so that
// every direct connection between two clients passes through here and the bytes each side
// sends can be counted.
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

class RelayServer : public QObject
{
public:
    explicit RelayServer(QObject* parent = nullptr);
    ~RelayServer() override;

    bool Listen();
    quint16 Port() const { return m_server.serverPort(); }

    // True while the user is logged in and has told its listening port.
    bool IsReady(const QString& user) const;
    // The codes received from a user, in order.
    QList<quint32> Codes(const QString& user) const { return m_codes.value(user); }
    // Bytes that one user sent to the other over forwarded peer connections, counted on the
    // connections either of them dialled. Meant for two clients: the forwarder cannot tell who
    // dialled, so every dialler of a user's port counts as the other client.
    qint64 BytesSent(const QString& from, const QString& to) const
    {
        return (m_forwarders.contains(to) ? m_forwarders[to]->bytesIn : 0) +
               (m_forwarders.contains(from) ? m_forwarders[from]->bytesOut : 0);
    }
    // Connections forwarded to a user's listening port.
    int ForwardedConnections(const QString& to) const { return m_forwarders.contains(to) ? m_forwarders[to]->connections : 0; }

private:
    struct Client
    {
        QPointer<QTcpSocket> socket;
        QByteArray pending;
        QString user;
        quint16 port = 0;
    };
    // One user's forwarding port: whatever connects is joined to the user's real port.
    struct Forwarder
    {
        std::unique_ptr<QTcpServer> server;
        QString owner;
        quint16 target = 0;
        int connections = 0;
        qint64 bytesIn = 0;   // from diallers into the user's port
        qint64 bytesOut = 0;  // from the user back to its diallers
    };

    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket);
    void OnDisconnected(QTcpSocket* socket);
    void Handle(Client& client, quint32 code, const QByteArray& fields);
    void Send(QTcpSocket* socket, quint32 code, const QByteArray& fields);
    void TellWatchers(const QString& user, bool online);
    Client* ClientOf(const QString& user);
    quint16 ForwardPortOf(const QString& user);
    void OnForwardedConnection(Forwarder* forwarder);

    QTcpServer m_server;
    QList<Client*> m_clients;
    QHash<QString, QSet<QString>> m_watchers;  // watched user -> who watches
    QHash<QString, QList<quint32>> m_codes;
    QMap<QString, Forwarder*> m_forwarders;
    QList<QPointer<QObject>> m_pipes;
};
