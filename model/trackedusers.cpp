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

// The node holds a row address; it is trusted only when it is one of this page's rows, so a node
// left by an earlier window never becomes a dangling pointer.
QTreeWidgetItem* DiagnosticsForm::TrackedRow(ItemPtr i_node) const
{
    if (!i_node)
        return nullptr;
    const unsigned long long address = i_node.AsUInt64();
    QTreeWidget* tree = ui->trackedUsersTree;
    for (int k = 0; k < tree->topLevelItemCount(); ++k) {
        QTreeWidgetItem* row = tree->topLevelItem(k);
        if (static_cast<unsigned long long>(reinterpret_cast<quintptr>(row)) == address)
            return row;
    }
    return nullptr;
}

void DiagnosticsForm::OnUserTracked(ItemPtr i_user)
{
    auto* row = new QTreeWidgetItem(ui->trackedUsersTree);
    row->setText(0, i_user.AsString());
    row->setText(1, i_user.IsConnected("is_online") ? tr("Online") : tr("Offline"));
    // One row per user: a row the user still had would otherwise stay behind, never updated.
    if (ItemPtr old = i_user["track_user_node"]) {
        delete TrackedRow(old);
        old.Remove();
    }
    i_user.Connect(d.GetType("track_user_node")->GetItem(Value(row)));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr i_user)
{
    ItemPtr node = i_user["track_user_node"];
    if (!node)
        return;
    delete TrackedRow(node);
    // The link goes with the row: later online changes of the user find no row to write into,
    // and a new row that happens to get the same address is not mistaken for this one.
    node.Remove();
}

void DiagnosticsForm::OnUserOnline(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = TrackedRow(i_user["track_user_node"]))
        row->setText(1, tr("Online"));
}

void DiagnosticsForm::OnUserOffline(ItemPtr i_user)
{
    if (QTreeWidgetItem* row = TrackedRow(i_user["track_user_node"]))
        row->setText(1, tr("Offline"));
}
