// The tracked-users page of the diagnostics window: one row per user the server connection
// watches, showing whether the user is online.
#include "model/diagnosticsform.h"

#include "ui_diagnosticsform.h"

#include <QTreeWidget>
#include <QTreeWidgetItem>

void DiagnosticsForm::Init()
{
    SubscribeUserMark("is_tracked", PathConnectedTrigger, &DiagnosticsForm::OnUserTracked);
    SubscribeUserMark("is_tracked", PathDisconnectedTrigger, &DiagnosticsForm::OnUserUntracked);
    SubscribeUserMark("is_online", PathConnectedTrigger, &DiagnosticsForm::OnUserOnline);
    SubscribeUserMark("is_online", PathDisconnectedTrigger, &DiagnosticsForm::OnUserOffline);
    // Never saved: rows exist only in this run. A window built again in one process (tests)
    // finds the type there already.
    if (!d.HasType("track_user_node")) {
        Type* node = d.NewType("track_user_node", PrimacyRoot, false, true);
        node->RelateToType(d.GetType("user"), One, One, false);
    }
}

void DiagnosticsForm::SubscribeUserMark(const char* markType, PathNodeRelation relation,
                                        void (DiagnosticsForm::*handler)(ItemPtr))
{
    auto* root = new PathNode(&d, "user");
    new PathNode(root, markType, relation);
    auto* h = new EventHandler<DiagnosticsForm, ItemPtr>(this, handler);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

// Rows are found in this page's own table, never through the address a node holds: a node left
// by an earlier window never becomes a dangling pointer, and a status reply for one of thousands
// of tracked users does not walk every row.
QTreeWidgetItem* DiagnosticsForm::TrackedRow(ItemPtr i_user) const
{
    return m_trackedRows.value(i_user.AsString());
}

void DiagnosticsForm::OnUserTracked(ItemPtr i_user)
{
    // One row per user: a row the user still had would otherwise stay behind, never updated.
    delete m_trackedRows.take(i_user.AsString());
    if (ItemPtr old = i_user["track_user_node"])
        old.Remove();
    auto* row = new QTreeWidgetItem(ui->trackedUsersTree);
    row->setText(0, i_user.AsString());
    row->setText(1, i_user.IsConnected("is_online") ? tr("Online") : tr("Offline"));
    m_trackedRows.insert(i_user.AsString(), row);
    i_user.Connect(d.GetType("track_user_node")->GetItem(Value(row)));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr i_user)
{
    delete m_trackedRows.take(i_user.AsString());
    ItemPtr node = i_user["track_user_node"];
    if (!node)
        return;
    // The link goes with the row: later online changes of the user find no row to write into,
    // and a new row that happens to get the same address is not mistaken for this one.
    node.Remove();
}

void DiagnosticsForm::OnUserOnline(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = TrackedRow(i_user))
        row->setText(1, tr("Online"));
}

void DiagnosticsForm::OnUserOffline(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = TrackedRow(i_user))
        row->setText(1, tr("Offline"));
}
