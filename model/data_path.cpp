#include "model/data.h"

void Data::GetPathNodePairs(PathNode* node, PathPairs& out)
{
    for (auto& c : node->children) {
        out[TypePair(node->type, c.first->type)] = PathNodePairInfo{node, c.first, c.second};
        GetPathNodePairs(c.first, out);
    }
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler)
{
    auto* info = new PathNodeHandlerInfo;
    info->handler = handler;
    info->root = root;
    GetPathNodePairs(root, info->pairs);
    m_allPathSubscriptions.insert(info);
    if (info->pairs.empty())
        return;
    for (auto& p : info->pairs) {
        const PathNodeRelation r = p.second.relation;
        if (r == PathConnectedCondition || r == PathNotConnectedCondition)
            continue;
        const bool connection = (r == PathConnected || r == PathConnectedTrigger);
        const int dir = connection ? 1 : 0;
        if (!m_pathHandlers[dir].count(p.first)) {
            auto* h = new EventHandler<Data, ConnectionInfo&>(
                this, connection ? &Data::OnPathNodeEventConnection : &Data::OnPathNodeEventDisconnection);
            if (connection)
                AddConnectionEventHandler(p.first.first, p.first.second, h);
            else
                AddDisconnectionEventHandler(p.first.first, p.first.second, h);
            AddDataHandler(h);
            m_pathHandlers[dir][p.first] = h;
        }
        m_pathRegistrations[dir][p.first].insert(info);
    }
}

void Data::OnPathNodeEventConnection(ConnectionInfo& info)
{
    OnPathNodeEvent(info, true);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& info)
{
    OnPathNodeEvent(info, false);
}

void Data::OnPathNodeEvent(ConnectionInfo& info, bool connection)
{
    const int dir = connection ? 1 : 0;
    Item* a = info.item.get();
    Item* b = info.other.get();
    const TypePair key(a->GetType(), b->GetType());
    std::set<PathNodeHandlerInfo*> copy = m_pathRegistrations[dir][key];
    for (PathNodeHandlerInfo* sub : copy) {
        // An earlier handler of this loop may have removed this subscription.
        if (!m_allPathSubscriptions.count(sub))
            continue;
        if (sub->handler->removed) {
            RemovePathEventHandler(sub);
            continue;
        }
        auto pit = sub->pairs.find(key);
        if (pit == sub->pairs.end())
            continue;
        PathNode* parent = pit->second.parent;
        PathNode* child = pit->second.child;
        Item* root = nullptr;
        if (VerifyPathNodeParentNodeConnections(a, parent, child, root) &&
            VerifyPathNodeSubNodeConnections(b, child, nullptr))
            sub->handler->Handle(ItemPtr(root));
    }
}

bool Data::VerifyPathNodeSubNodeConnections(Item* item, PathNode* step, PathNode* skipped)
{
    if (step->fixed && item->GetValue().str() != step->value)
        return false;
    for (auto& c : step->children) {
        PathNode* k = c.first;
        if (k == skipped)
            continue;
        const PathNodeRelation r = c.second;
        const NeighbourSet* s = item->Links(k->type);
        switch (r) {
        case PathConnectedTrigger:
        case PathDisconnectedTrigger:
            return false;
        case PathConnected:
        case PathConnectedCondition: {
            if (!s)
                return false;
            bool any = false;
            for (const ItemPtr& n : *s)
                if (VerifyPathNodeSubNodeConnections(n.get(), k, nullptr)) {
                    any = true;
                    break;
                }
            if (!any)
                return false;
            break;
        }
        case PathNotConnected:
        case PathNotConnectedCondition: {
            if (!s)
                break;
            bool all = true;
            for (const ItemPtr& n : *s)
                if (!VerifyPathNodeSubNodeConnections(n.get(), k, nullptr)) {
                    all = false;
                    break;
                }
            if (all)
                return false;
            break;
        }
        }
    }
    return true;
}

bool Data::VerifyPathNodeParentNodeConnections(Item* item, PathNode* step, PathNode* skipped, Item*& root)
{
    if (step->fixed && item->GetValue().str() != step->value)
        return false;
    if (!VerifyPathNodeSubNodeConnections(item, step, skipped))
        return false;
    if (!step->parent) {
        root = item;
        return true;
    }
    const PathNodeRelation r = step->relation;
    PathNode* p = step->parent;
    const NeighbourSet* s = item->Links(p->type);
    switch (r) {
    case PathConnectedTrigger:
    case PathDisconnectedTrigger:
        return false;
    case PathConnected:
    case PathConnectedCondition:
        if (s)
            for (const ItemPtr& y : *s)
                if (VerifyPathNodeParentNodeConnections(y.get(), p, step, root))
                    return true;
        return false;
    case PathNotConnected:
    case PathNotConnectedCondition:
        if (!s)
            return true;
        for (const ItemPtr& y : *s) {
            Item* ignored = nullptr;
            if (!VerifyPathNodeParentNodeConnections(y.get(), p, step, ignored))
                return true;
        }
        return false;
    }
    return false;
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* info)
{
    for (auto& p : info->pairs) {
        const PathNodeRelation r = p.second.relation;
        if (r == PathConnectedCondition || r == PathNotConnectedCondition)
            continue;
        const int dir = (r == PathConnected || r == PathConnectedTrigger) ? 1 : 0;
        auto reg = m_pathRegistrations[dir].find(p.first);
        if (reg == m_pathRegistrations[dir].end())
            continue;
        reg->second.erase(info);
        if (!reg->second.empty())
            continue;
        m_pathRegistrations[dir].erase(reg);
        auto h = m_pathHandlers[dir].find(p.first);
        if (h != m_pathHandlers[dir].end()) {
            // The pair event may be dispatching this very handler: flag it and let the
            // event delete it once no dispatch can reach it.
            h->second->removed = true;
            ForgetDataHandler(h->second);
            m_pathHandlers[dir].erase(h);
        }
    }
    m_allPathSubscriptions.erase(info);
    delete info->handler;
    delete info->root;
    delete info;
}
