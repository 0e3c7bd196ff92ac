#include "model/data.h"
#include "model/settings.h"

#include <QTextCodec>

#include <deque>

// ---------------------------------------------------------------- Data

Data::Data()
{
    qRegisterMetaType<ItemPtr>("ItemPtr");
}

Data::~Data()
{
    // Process end: release everything without raising events. Our own pair handlers
    // die with the types' registries, so forget them first.
    RemoveDataHandlers();
    for (auto* info : m_allPathSubscriptions) {
        delete info->handler;
        delete info->root;
        delete info;
    }
    for (auto& t : m_types) {
        for (Item* item : t.second->ItemsUnordered())
            delete item;
        delete t.second;
    }
    for (Item* item : m_graveyard)
        delete item;
}

Type* Data::NewType(std::string name, Primacy primacy, bool null, bool autocreate)
{
    if (m_types.count(name))
        throw new TypeAlreadyExistsException;
    Type* t = new Type(this, name, primacy, null, autocreate);
    m_types[name] = t;
    typeAdded.Notify(t);
    return t;
}

Type* Data::GetType(const std::string& name) const
{
    auto it = m_types.find(name);
    if (it == m_types.end())
        throw new TypeNotFoundException;
    return it->second;
}

Type* Data::HasType(const std::string& name) const
{
    auto it = m_types.find(name);
    return it == m_types.end() ? nullptr : it->second;
}

void Data::RemoveAllItems()
{
    Scope scope(this);
    std::vector<Type*> types;
    for (auto& t : m_types)
        types.push_back(t.second);
    for (Type* t : types)
        t->RemoveAllItems();
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* h)
{
    if (!a->IsRelated(b))
        throw new NotRelatedException;
    a->PairEvent(b, true, true)->Add(h);
}

void Data::AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* h)
{
    if (!a->IsRelated(b))
        throw new NotRelatedException;
    a->PairEvent(b, false, true)->Add(h);
}

// ---------------------------------------------------------------- garbage collection

namespace {
// How many items ahead of their reading the collection asks for them.
const size_t kAhead = 8;
} // namespace

int Data::RemoveDisconnectedItems()
{
    Scope scope(this);
    int removed = 0;
    std::vector<Item*> orphans;
    std::vector<Item*> candidates;

    // Candidates carry a flag on the item instead of living in a set: a million items
    // would otherwise cost a tree node each.
    for (auto& te : m_types) {
        Type* t = te.second;
        std::vector<Type*> owners;
        for (auto& r : t->m_relations)
            if (r.second.ownedBy)
                owners.push_back(r.first);
        // Orphans are removed in identity order and marking does not depend on the
        // order of the roots, so the walk can take the items as they come.
        const std::vector<Item*> items = t->ItemsUnordered();
        for (size_t k = 0; k < items.size(); ++k) {
            // The items lie scattered: asking for later ones early overlaps the waits for memory.
            if (k + kAhead < items.size())
                __builtin_prefetch(items[k + kAhead]);
            Item* item = items[k];
            bool orphan = false;
            for (Type* o : owners)
                if (!item->Links(o)) {
                    orphan = true;
                    break;
                }
            if (orphan) {
                orphans.push_back(item);
            } else {
                item->m_mark = Item::kCandidate;
                candidates.push_back(item);
            }
        }
    }

    std::sort(orphans.begin(), orphans.end(), std::less<Item*>());
    for (Item* item : orphans) {
        if (item->IsRemoved())
            continue;
        item->Remove();
        ++removed;
    }

    // Mark from the roots with an explicit stack: chains of a million items must not
    // exhaust the call stack. Only items that lead further are walked: a neighbour of the leaf
    // type (a word of the share index, linked to tens of thousands of files) is left alone here
    // and kept afterwards when one of its own neighbours was walked, which reads each word once
    // instead of once per link.
    std::vector<Item*> stack;
    for (auto& te : m_types) {
        Type* t = te.second;
        if (t->GetPrimacy() != PrimacyRoot)
            continue;
        for (Item* root : t->ItemsUnordered()) {
            stack.push_back(root);
            while (!stack.empty()) {
                Item* x = stack.back();
                stack.pop_back();
                if (x->m_mark != Item::kCandidate)
                    continue;
                x->m_mark = Item::kReached;
                // Pushed in reverse so items are visited in type and identity order.
                for (auto g = x->GroupList().rbegin(); g != x->GroupList().rend(); ++g) {
                    const Primacy primacy = g->first->GetPrimacy();
                    if (primacy == PrimacyRoot || primacy == PrimacyLeaf)
                        continue;
                    auto ahead = g->second.rbegin();
                    for (size_t k = 0; k < kAhead && ahead != g->second.rend(); ++k, ++ahead)
                        __builtin_prefetch(ahead->get());
                    for (auto n = g->second.rbegin(); n != g->second.rend(); ++n) {
                        if (ahead != g->second.rend()) {
                            __builtin_prefetch(ahead->get());
                            ++ahead;
                        }
                        if ((*n)->m_mark == Item::kCandidate)
                            stack.push_back(n->get());
                    }
                }
            }
        }
    }

    // A leaf stays when a walked item links to it: each walked item leads to all its
    // neighbours of the leaf types.
    const auto reachedLeaf = [](const Item* leaf) {
        for (const Item::Group& g : leaf->GroupList())
            for (const ItemPtr& n : g.second)
                if (n->m_mark == Item::kReached)
                    return true;
        return false;
    };
    std::vector<Item*> doomed;
    for (size_t k = 0; k < candidates.size(); ++k) {
        if (k + kAhead < candidates.size())
            __builtin_prefetch(candidates[k + kAhead]);
        Item* item = candidates[k];
        if (item->m_mark != Item::kCandidate || item->IsRemoved())
            continue;
        if (item->GetType()->GetPrimacy() == PrimacyLeaf && reachedLeaf(item))
            continue;
        doomed.push_back(item);
    }
    for (Item* item : candidates)
        item->m_mark = 0;
    std::sort(doomed.begin(), doomed.end(), std::less<Item*>());
    for (Item* item : doomed) {
        if (item->IsRemoved())
            continue;
        item->Remove();
        ++removed;
    }
    return removed;
}

// ---------------------------------------------------------------- subsets

ItemSet Data::GetItemSubset(ItemSet items, const char* typeName)
{
    Type* t = GetType(typeName);
    if (items.empty())
        return ItemSet();
    std::vector<std::pair<size_t, Item*>> order;
    order.reserve(items.size());
    for (const ItemPtr& p : items) {
        const NeighbourSet* s = p->Links(t);
        if (!s)
            return ItemSet();
        order.emplace_back(s->size(), p.get());
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const std::pair<size_t, Item*>& a, const std::pair<size_t, Item*>& b) { return a.first < b.first; });
    ItemSet candidates = order.front().second->Links(t)->ToItemSet();
    for (size_t k = 1; k < order.size() && !candidates.empty(); ++k) {
        const NeighbourSet* s = order[k].second->Links(t);
        for (auto it = candidates.begin(); it != candidates.end();) {
            if (!s->count(*it))
                it = candidates.erase(it);
            else
                ++it;
        }
    }
    return candidates;
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, const char* typeName)
{
    ItemSet s;
    s.insert(a);
    s.insert(b);
    return GetItemSubset(s, typeName);
}

ItemPtr Data::GetItem(ItemSet items, const char* typeName)
{
    return GetItemSubset(items, typeName);
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, const char* typeName)
{
    // The common case of two keys: walk the smaller neighbour set, look up in the larger.
    Type* t = GetType(typeName);
    const NeighbourSet* sa = a->Links(t);
    const NeighbourSet* sb = b->Links(t);
    if (!sa || !sb)
        return ItemPtr();
    if (a == b)
        return *sa->begin();
    if (sb->size() < sa->size() || (sb->size() == sa->size() && b < a))
        std::swap(sa, sb);
    for (const ItemPtr& p : *sa)
        if (sb->count(p))
            return p;
    return ItemPtr();
}

ItemSet Data::GetItems(ItemSet& items, const char* typeName)
{
    return items.GetItems(typeName);
}

size_t Data::PathSubscriptionCount(Type* a, Type* b, bool connection) const
{
    auto it = m_pathRegistrations[connection ? 1 : 0].find(TypePair(a, b));
    return it == m_pathRegistrations[connection ? 1 : 0].end() ? 0 : it->second.size();
}

bool Data::HasPathHandler(Type* a, Type* b, bool connection) const
{
    return m_pathHandlers[connection ? 1 : 0].count(TypePair(a, b)) != 0;
}

// ---------------------------------------------------------------- ItemSet

ItemSet ItemSet::Common(const ItemSet& other) const
{
    ItemSet out;
    const ItemSet& small = size() <= other.size() ? *this : other;
    const ItemSet& large = size() <= other.size() ? other : *this;
    for (const ItemPtr& p : small)
        if (large.count(p))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::Connected(const ItemSet& other) const
{
    // Walk the neighbours of the smaller set and look them up in the larger one.
    ItemSet out;
    if (size() <= other.size()) {
        for (const ItemPtr& p : *this)
            for (auto& group : p->GroupList()) {
                bool linked = false;
                for (const ItemPtr& n : group.second)
                    if (other.count(n)) {
                        linked = true;
                        break;
                    }
                if (linked) {
                    out.insert(out.end(), p);
                    break;
                }
            }
        return out;
    }
    for (const ItemPtr& o : other)
        for (auto& group : o->GroupList())
            for (const ItemPtr& n : group.second)
                if (count(n))
                    out.insert(n);
    return out;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    ItemSet out;
    if (!item)
        return out;
    for (const ItemPtr& p : *this)
        if (p->IsConnected(item.get()))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::Connected(const char* typeName) const
{
    Type* t = d.GetType(typeName);
    ItemSet out;
    for (const ItemPtr& p : *this)
        if (p->IsConnected(t))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::Connected(const char* typeName, Value v) const
{
    ItemPtr item = d.GetType(typeName)->HasItem(v);
    if (!item)
        return ItemSet();
    return Connected(item);
}

ItemSet ItemSet::NotConnected(const ItemSet& other) const
{
    ItemSet linked = Connected(other);
    ItemSet out;
    for (const ItemPtr& p : *this)
        if (!linked.count(p))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    if (!item)
        return *this;
    ItemSet out;
    for (const ItemPtr& p : *this)
        if (!p->IsConnected(item.get()))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::NotConnected(const char* typeName) const
{
    Type* t = d.GetType(typeName);
    ItemSet out;
    for (const ItemPtr& p : *this)
        if (!p->IsConnected(t))
            out.insert(out.end(), p);
    return out;
}

ItemSet ItemSet::NotConnected(const char* typeName, Value v) const
{
    ItemPtr item = d.GetType(typeName)->HasItem(v);
    return NotConnected(item);
}

ItemSet ItemSet::GetItems(const char* typeName) const
{
    Type* t = d.GetType(typeName);
    ItemSet out;
    for (const ItemPtr& p : *this) {
        if (!p->GetType()->IsRelated(t))
            throw new NotRelatedException;
        if (const NeighbourSet* s = p->Links(t))
            out.insert(s->begin(), s->end());
    }
    return out;
}

void ItemSet::Disconnect(const char* typeName)
{
    Data::Scope scope(&d);
    ItemSet copy(*this);
    for (const ItemPtr& p : copy)
        if (!p->IsRemoved())
            p->Disconnect(typeName);
}

void ItemSet::Remove()
{
    Data::Scope scope(&d);
    ItemSet copy(*this);
    for (const ItemPtr& p : copy)
        if (!p->IsRemoved())
            p->Remove();
}

namespace {

template <typename K>
std::list<ItemPtr> SortByKey(std::vector<std::pair<K, ItemPtr>>& keyed, bool ascending)
{
    // Stable on an identity-ordered input: equal keys keep identity order.
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const std::pair<K, ItemPtr>& a, const std::pair<K, ItemPtr>& b) { return a.first < b.first; });
    std::list<ItemPtr> out;
    if (ascending)
        for (auto& e : keyed)
            out.push_back(e.second);
    else
        for (auto it = keyed.rbegin(); it != keyed.rend(); ++it)
            out.push_back(it->second);
    return out;
}

long long NumericKey(const std::string& s)
{
    bool ok = false;
    long long v = QByteArray::fromStdString(s).toLongLong(&ok);
    return ok ? v : 0;
}

// QString's operator< compares UTF-16 code units, case-sensitively and without locale.
QString TextKey(const std::string& s)
{
    return ToQString(s);
}

} // namespace

std::list<ItemPtr> ItemSet::SortNumeric(bool ascending) const
{
    std::vector<std::pair<long long, ItemPtr>> keyed;
    keyed.reserve(size());
    for (const ItemPtr& p : *this)
        keyed.emplace_back(NumericKey(p->GetValue().str()), p);
    return SortByKey(keyed, ascending);
}

std::list<ItemPtr> ItemSet::SortAlphabetic(bool ascending) const
{
    std::vector<std::pair<QString, ItemPtr>> keyed;
    keyed.reserve(size());
    for (const ItemPtr& p : *this)
        keyed.emplace_back(TextKey(p->GetValue().str()), p);
    return SortByKey(keyed, ascending);
}

std::list<ItemPtr> ItemSet::SortNumericBy(const char* typeName, bool ascending) const
{
    Type* t = d.GetType(typeName);
    std::vector<std::pair<long long, ItemPtr>> keyed;
    for (const ItemPtr& p : *this)
        if (const NeighbourSet* s = p->Links(t))
            keyed.emplace_back(NumericKey((*s->begin())->GetValue().str()), p);
    return SortByKey(keyed, ascending);
}

std::list<ItemPtr> ItemSet::SortAlphabeticBy(const char* typeName, bool ascending) const
{
    Type* t = d.GetType(typeName);
    std::vector<std::pair<QString, ItemPtr>> keyed;
    for (const ItemPtr& p : *this)
        if (const NeighbourSet* s = p->Links(t))
            keyed.emplace_back(TextKey((*s->begin())->GetValue().str()), p);
    return SortByKey(keyed, ascending);
}

ItemSet i(const char* typeName, Value v)
{
    return ItemSet(d.GetType(typeName)->HasItem(v));
}

ItemSet g(const char* typeName)
{
    return d.GetType(typeName)->GetItems();
}

// ---------------------------------------------------------------- text decoding

ExtendedAsciiTranslator* extendedAsciiTranslator = nullptr;

ExtendedAsciiTranslator::ExtendedAsciiTranslator()
{
    extendedAsciiTranslator = this;
    DeclareSettingTypes();
    ItemPtr setting = d.GetType("global")->NewItem("extended_ascii_codepage");
    PathNode* root = new PathNode(setting);
    new PathNode(root, "global_value", PathConnectedTrigger);
    auto* h = new EventHandler<ExtendedAsciiTranslator, ItemPtr>(this, &ExtendedAsciiTranslator::OnCodePageChanges);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

void ExtendedAsciiTranslator::OnCodePageChanges(ItemPtr setting)
{
    std::string name = setting["global_value"].AsStdString();
    mp_codec = name.empty() ? nullptr : QTextCodec::codecForName(QByteArray::fromStdString(name));
}

void ExtendedAsciiTranslator::SetCodePage(std::string name)
{
    SetSetting("extended_ascii_codepage", Value(name));
}

QString ExtendedAsciiTranslator::Translate(const std::string& bytes) const
{
    size_t nul = bytes.find('\0');
    const int len = static_cast<int>(nul == std::string::npos ? bytes.size() : nul);
    if (!mp_codec)
        return QString::fromLatin1(bytes.data(), len);
    return mp_codec->toUnicode(bytes.data(), len);
}

QString ToQString(const std::string& bytes)
{
    size_t nul = bytes.find('\0');
    if (nul == std::string::npos) {
        // Valid UTF-8 exactly when decoding and encoding again gives the same bytes.
        QString u = QString::fromUtf8(bytes.data(), static_cast<int>(bytes.size()));
        QByteArray back = u.toUtf8();
        if (static_cast<size_t>(back.size()) == bytes.size() && memcmp(back.constData(), bytes.data(), bytes.size()) == 0)
            return u;
    }
    if (extendedAsciiTranslator)
        return extendedAsciiTranslator->Translate(bytes);
    size_t len = nul == std::string::npos ? bytes.size() : nul;
    return QString::fromLatin1(bytes.data(), static_cast<int>(len));
}
