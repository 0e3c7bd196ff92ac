// Starts a download as the uploading peer would: a file connection carrying the ticket of the
// download, whose far end the test then writes the file's bytes into.
#pragma once

#include "model/data.h"
#include "transfers/transferqueuemanager.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

// Hands the engine a file connection for the entry, as the peer messenger does once a peer sent
// its ticket. The far end, owned by `owner`, plays the peer; null when the download did not start.
inline QTcpSocket* FeedDownload(QTcpServer& listener, ItemPtr entry, QObject* owner)
{
    static uint s_ticket = 0;
    entry += d.GetType("remote_transfer_req")->GetItem(Value(++s_ticket));
    auto* near = new QTcpSocket();
    near->connectToHost(QHostAddress::LocalHost, listener.serverPort());
    if (!near->waitForConnected(5000) || !listener.waitForNewConnection(5000))
        return nullptr;
    QTcpSocket* far = listener.nextPendingConnection();
    far->setParent(owner);
    transferQueueManager->OnFileConnection(entry["user"].AsString(), near, s_ticket);
    return entry["download_entry_status"].AsString() == "downloading" ? far : nullptr;
}
