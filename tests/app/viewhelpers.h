// What the view tests do alike: widgets of a form by name, the rows of a tree as texts, picking
// a row as the user does, and fake peers with a messaging connection to the client, one per user.
#pragma once

#include "app/tabwidget.h"
#include "common/fakepeer.h"
#include "model/data.h"

#include <QTest>
#include <QTreeWidget>

#include <map>
#include <memory>

// A widget of a form by its object name.
template <typename T>
T* W(QWidget* form, const char* name)
{
    T* w = form->findChild<T*>(name);
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// Clicks the close mark drawn on the tab, as the user does; false when the tab shows none.
inline bool ClickCloseMark(QTabWidget* tabs, int index)
{
    auto* bar = qobject_cast<ChatTabBar*>(tabs->tabBar());
    const QRect mark = bar ? bar->CloseMarkRect(index) : QRect();
    if (mark.isEmpty() || !bar->rect().contains(mark))
        return false;
    QTest::mouseClick(bar, Qt::LeftButton, {}, mark.center());
    return true;
}

// Texts of the rows of a tree, depth first, with two blanks of indent per level and "(hidden)"
// after a hidden row.
inline void RowTexts(QTreeWidgetItem* row, int level, QStringList& out)
{
    out << QString(level * 2, ' ') + row->text(0) + (row->isHidden() ? " (hidden)" : "");
    for (int k = 0; k < row->childCount(); ++k)
        RowTexts(row->child(k), level + 1, out);
}

inline QStringList TreeTexts(QTreeWidget* tree)
{
    QStringList out;
    for (int k = 0; k < tree->topLevelItemCount(); ++k)
        RowTexts(tree->topLevelItem(k), 0, out);
    return out;
}

// The one row anywhere in the tree with the text in column 0; null when none or several.
inline QTreeWidgetItem* FindRow(QTreeWidget* tree, const QString& text)
{
    const QList<QTreeWidgetItem*> rows = tree->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
    return rows.size() == 1 ? rows.first() : nullptr;
}

// A click on the row, as the user picks it (its parents opened first, so that it can be seen).
inline void ClickRow(QTreeWidget* tree, QTreeWidgetItem* row)
{
    for (QTreeWidgetItem* up = row->parent(); up; up = up->parent())
        up->setExpanded(true);
    tree->scrollToItem(row);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::NoModifier, tree->visualItemRect(row).center());
}

// Fake peers, each dialling the client's listening port as one user and holding the messaging
// connection, made on first use.
class PeerSet
{
public:
    FakePeer& Get(const QString& user, quint16 port)
    {
        std::unique_ptr<FakePeer>& peer = m_peers[user];
        if (!peer) {
            peer = std::make_unique<FakePeer>();
            const size_t before = d.GetType("user")->GetItem(Value(user)).GetItems("peer_socket").size();
            if (peer->ConnectTo(port))
                peer->SendDirectInit(user, "P");
            (void)QTest::qWaitFor(
                [&] { return d.GetType("user")->GetItem(Value(user)).GetItems("peer_socket").size() > before; });
        }
        return *peer;
    }
    void Clear() { m_peers.clear(); }

private:
    std::map<QString, std::unique_ptr<FakePeer>> m_peers;
};
