// The distributed network manager's records in the item graph, shared by its two source files.
#pragma once

#include "model/data.h"

#include <QString>

class QTcpSocket;

namespace dnetstate {

// The named state slots ("dnet_parent_user", "dnet_level", ...): a slot is set while its
// `dnet_global` item is linked to a `dnet_value`.
ItemPtr Slot(const char* key);
ItemPtr SlotValue(const char* key);
bool IsSlotSet(const char* key);
void SetSlot(const char* key, const Value& value);
void ClearSlot(const char* key);

// Sockets are kept in items as the decimal text of their address.
QTcpSocket* SocketOf(ItemPtr item);
ItemPtr CandidateOf(QTcpSocket* socket);
ItemPtr ChildOf(QTcpSocket* socket);

// Detaches the socket from whoever still listens to its reads, errors and end.
void CutSignals(QTcpSocket* socket);
// Cuts its signals and closes it; it is deleted later, as it may be inside one of its own signals.
void CloseSocket(QTcpSocket* socket);

void DNetLog(int level, const QString& text);

} // namespace dnetstate
