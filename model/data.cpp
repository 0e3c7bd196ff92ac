#include "model/data.h"
#include "model/smallblocks.h"

#include <new>
#include <stdexcept>

Data d;

// ---------------------------------------------------------------- DataHandler

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::RemoveDataHandlers()
{
    for (auto* h : m_handlers)
        h->removed = true;
    m_handlers.clear();
}

// ---------------------------------------------------------------- Data::Scope

Data::Scope::Scope(Data* data) : mp_data(data)
{
    ++mp_data->m_scopeDepth;
}

Data::Scope::~Scope()
{
    if (--mp_data->m_scopeDepth == 0 && !mp_data->m_graveyard.empty()) {
        std::vector<Item*> dead;
        dead.swap(mp_data->m_graveyard);
        for (Item* item : dead)
            delete item;
    }
}

void Data::Free(Item* item)
{
    // Loops of the graph and of handlers may still hold the item in a copied set;
    // they test IsRemoved(), so the memory must stay valid until they are done.
    if (m_scopeDepth > 0)
        m_graveyard.push_back(item);
    else
        delete item;
}

// ---------------------------------------------------------------- Type

Type::Type(Data* data, std::string name, Primacy primacy, bool null, bool autocreate)
    : mp_data(data), m_name(std::move(name)), m_primacy(primacy), m_null(null), m_autocreate(autocreate)
{
}

Type::~Type()
{
    for (auto& e : m_pairConnect)
        delete e.second;
    for (auto& e : m_pairDisconnect)
        delete e.second;
}

void Type::RelateToType(Type* other, OneOrMany a, OneOrMany b, bool owns)
{
    if (m_relations.count(other))
        throw new AlreadyRelatedException;
    m_relations[other] = RelationInfo{a, b, owns, false};
    other->m_relations[this] = RelationInfo{b, a, false, owns};
}

RelationInfo Type::GetRelation(Type* other) const
{
    auto it = m_relations.find(other);
    if (it == m_relations.end())
        throw new NotRelatedException;
    return it->second;
}

ItemPtr Type::HasItem(const Value& v) const
{
    if (m_null)
        throw new NullTypeException;
    return m_items.Find(v.str());
}

// The item of the value, made when create says so; the value's hash serves both the lookup and
// the index of a new item, and a value made for the call is moved into that item.
template <typename V>
ItemPtr Type::FindOrMake(V&& v, bool create)
{
    if (m_null)
        throw new NullTypeException;
    const uint64_t hash = ValueIndex::Hash(v.str());
    if (Item* item = m_items.Find(v.str(), hash))
        return item;
    if (!create)
        return ItemPtr();
    return CreateValued(std::forward<V>(v), hash);
}

ItemPtr Type::GetItem(const Value& v) { return FindOrMake(v, m_autocreate); }
ItemPtr Type::GetItem(Value&& v) { return FindOrMake(std::move(v), m_autocreate); }
ItemPtr Type::NewItem(const Value& v) { return FindOrMake(v, true); }
ItemPtr Type::NewItem(Value&& v) { return FindOrMake(std::move(v), true); }

Item* Type::CreateValued(Value v, uint64_t hash)
{
    Item* item = new Item(this, std::move(v));
    m_items.Insert(item, hash);
    return Announce(item);
}

ItemPtr Type::NewItem()
{
    if (!m_null)
        throw new NullTypeException;
    return Create(Value());
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_null)
        throw new NullTypeException;
    if (!m_nullItems.empty())
        return m_nullItems.front();
    return Create(Value());
}

void Type::NewItemsUnique(const std::vector<std::string_view>& values, std::vector<Item*>& out)
{
    if (m_null)
        throw new NullTypeException;
    out.reserve(out.size() + values.size());
    // A handler may make items of this type itself: then each value is looked up as it comes.
    if (!itemAdded.IsEmpty() || !mp_data->itemAdded.IsEmpty()) {
        for (std::string_view v : values)
            out.push_back(NewItem(Value(std::string(v))).get());
        return;
    }
    // Nobody hears the items come: they are made first and indexed all together.
    const size_t first = out.size();
    for (std::string_view v : values)
        out.push_back(new Item(this, Value(std::string(v))));
    const std::vector<Item*> made(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    m_items.InsertMany(made);
    for (Item* item : made)
        Announce(item);
}

Item* Type::Create(Value v)
{
    Item* item = new Item(this, std::move(v));
    if (m_null)
        m_nullItems.Insert(item);
    else
        m_items.Insert(item);
    return Announce(item);
}

Item* Type::Announce(Item* item)
{
    Data::Scope scope(mp_data);
    ItemPtr p(item);
    itemAdded.Notify(p);
    mp_data->itemAdded.Notify(p);
    return item;
}

void Type::Unindex(Item* item)
{
    if (m_null) {
        m_nullItems.Erase(item);
    } else {
        m_items.Erase(item);
    }
}

ItemSet Type::GetItems() const
{
    if (m_null)
        return m_nullItems.ToItemSet();
    ItemSet out;
    GetItems(out);
    return out;
}

void Type::GetItems(ItemSet& out) const
{
    if (m_null) {
        out = m_nullItems.ToItemSet();
        return;
    }
    // Sorted first, so each insertion lands at the end of the set.
    std::vector<Item*> items = ItemsUnordered();
    std::sort(items.begin(), items.end(), std::less<Item*>());
    for (Item* item : items)
        out.insert(out.end(), item);
}

std::vector<Item*> Type::ItemsInOrder() const
{
    // Null items come in identity order already; valued items are kept by hash.
    std::vector<Item*> out = ItemsUnordered();
    if (!m_null)
        std::sort(out.begin(), out.end(),
                  [](const Item* a, const Item* b) { return a->GetValue().str() < b->GetValue().str(); });
    return out;
}

std::vector<Item*> Type::ItemsUnordered() const
{
    std::vector<Item*> out;
    if (m_null) {
        out.reserve(m_nullItems.size());
        for (const ItemPtr& p : m_nullItems)
            out.push_back(p.get());
    } else {
        out.reserve(m_items.Size());
        m_items.ForEach([&out](Item* item) { out.push_back(item); });
    }
    return out;
}

void Type::RemoveAllItems()
{
    Data::Scope scope(mp_data);
    for (Item* item : ItemsInOrder())
        if (!item->IsRemoved())
            item->Remove();
}

void Type::Remove()
{
    RemoveAllItems();
    mp_data->m_types.erase(m_name);
    Type* self = this;
    mp_data->typeRemoved.Notify(self);
    delete this;
}

Event<ConnectionInfo&>* Type::PairEvent(Type* other, bool connection, bool create)
{
    auto& registry = connection ? m_pairConnect : m_pairDisconnect;
    auto it = registry.find(other);
    if (it != registry.end())
        return it->second;
    if (!create)
        return nullptr;
    auto* e = new Event<ConnectionInfo&>;
    registry[other] = e;
    return e;
}

// ---------------------------------------------------------------- Item

namespace {

template <typename Groups>
auto FindGroup(const Groups& groups, Type* type)
{
    // An item has neighbours of a handful of types: a forward scan beats a binary search there.
    auto it = groups.begin();
    if (groups.size() > 8)
        return std::lower_bound(it, groups.end(), type, [](const std::pair<Type*, NeighbourSet>& e, Type* t) {
            return std::less<Type*>()(e.first, t);
        });
    while (it != groups.end() && std::less<Type*>()(it->first, type))
        ++it;
    return it;
}

} // namespace

// Items come from the small-block slabs: no per-item header or rounding, and items made one
// after the other lie side by side.
void* Item::operator new(size_t size)
{
    return smallblocks::Get(size);
}

void Item::operator delete(void* p, size_t size)
{
    smallblocks::Put(p, size);
}

Item::~Item()
{
    for (Group& g : GroupList())
        g.~Group();
    smallblocks::Put(mp_groups, sizeof(Group) * m_groupCount);
}

Item::Group* Item::AddGroup(Group* at, Type* type)
{
    // Grown one group at a time: an item keeps its few groups for life, and any spare room
    // would stay empty for every item.
    if (m_groupCount == UINT16_MAX)
        throw std::length_error("too many neighbour types");
    const size_t pos = static_cast<size_t>(at - mp_groups);
    const size_t count = m_groupCount;
    Group* groups = static_cast<Group*>(smallblocks::Get(sizeof(Group) * (count + 1)));
    for (size_t k = 0; k < count; ++k) {
        new (groups + (k < pos ? k : k + 1)) Group(std::move(mp_groups[k]));
        mp_groups[k].~Group();
    }
    new (groups + pos) Group(type, NeighbourSet());
    smallblocks::Put(mp_groups, sizeof(Group) * count);
    mp_groups = groups;
    ++m_groupCount;
    return groups + pos;
}

void Item::DropGroup(Group* at)
{
    // The block stays exact: its size is all that tells where it goes back to.
    const size_t pos = static_cast<size_t>(at - mp_groups);
    const size_t count = m_groupCount;
    Group* groups = count > 1 ? static_cast<Group*>(smallblocks::Get(sizeof(Group) * (count - 1))) : nullptr;
    for (size_t k = 0; k < count; ++k) {
        if (k != pos)
            new (groups + (k < pos ? k : k - 1)) Group(std::move(mp_groups[k]));
        mp_groups[k].~Group();
    }
    smallblocks::Put(mp_groups, sizeof(Group) * count);
    mp_groups = groups;
    --m_groupCount;
}

NeighbourSet& Item::NeighboursFor(Type* type)
{
    const Groups groups = GroupList();
    Group* it = FindGroup(groups, type);
    if (it == groups.end() || it->first != type)
        it = AddGroup(it, type);
    return it->second;
}

const NeighbourSet* Item::Links(Type* type) const
{
    const Groups groups = GroupList();
    const Group* it = FindGroup(groups, type);
    if (it == groups.end() || it->first != type || it->second.empty())
        return nullptr;
    return &it->second;
}

void Item::ReserveLinks(Type* type, size_t count)
{
    // A removed item gains no neighbours: room for them would only wait for its end.
    if (!m_removed && count > 1)
        NeighboursFor(type).Reserve(count);
}

bool Item::IsDisconnectedFromAll() const
{
    for (const Group& g : GroupList())
        if (!g.second.empty())
            return false;
    return true;
}

const ItemSet* Item::Neighbours(Type* type) const
{
    const NeighbourSet* s = Links(type);
    return s ? &s->AsItemSet() : nullptr;
}

void Item::DropNeighbour(Type* type, Item* other)
{
    const Groups groups = GroupList();
    Group* it = FindGroup(groups, type);
    if (it == groups.end() || it->first != type)
        return;
    it->second.Erase(other);
    if (it->second.empty())
        DropGroup(it);
}

void Item::RaiseLinkEvents(Item* other, bool linked)
{
    Type* ta = mp_type;
    Type* tb = other->mp_type;
    Data* data = ta->mp_data;
    // Each handler gets its own copy, so one handler cannot change what the next sees.
    const ConnectionInfo ab(this, other);
    const ConnectionInfo ba(other, this);
    ConnectionInfo c(ab);
    (linked ? ta->connected : ta->disconnected).Notify(c);
    c = ab;
    (linked ? data->connected : data->disconnected).Notify(c);
    c = ba;
    (linked ? tb->connected : tb->disconnected).Notify(c);
    if (auto* e = ta->PairEvent(tb, linked, false)) {
        c = ab;
        e->Notify(c);
    }
    if (auto* e = tb->PairEvent(ta, linked, false)) {
        c = ba;
        e->Notify(c);
    }
}

Item* Item::Connect(Item* other)
{
    Type* ta = mp_type;
    Type* tb = other->mp_type;
    auto rel = ta->m_relations.find(tb);
    if (rel == ta->m_relations.end())
        throw new NotRelatedException;
    // A removed item is on its way out; linking it now would leave a dangling neighbour.
    if (m_removed || other->m_removed)
        return other;
    Data* data = ta->mp_data;
    const RelationInfo r = rel->second;
    if (r.yPerX == Many && r.xPerY == Many) {
        // Nothing to push out: the insertion itself tells whether the link stood already,
        // sparing a search of its own (the walk of the shares makes millions of these).
        if (!NeighboursFor(tb).Insert(other))
            return other;
        Data::Scope scope(data);
        other->NeighboursFor(ta).Insert(this);
        RaiseLinkEvents(other, true);
        return other;
    }
    if (IsConnected(other))
        return other;
    Data::Scope scope(data);

    if (r.yPerX == One) {
        if (const NeighbourSet* s = Links(tb)) {
            Item* old = s->begin()->get();
            Disconnect(old);
        }
    }
    if (r.xPerY == One) {
        if (const NeighbourSet* s = other->Links(ta)) {
            Item* old = s->begin()->get();
            other->Disconnect(old);
        }
    }
    // Handlers of the push-outs may have removed either side.
    if (m_removed || other->m_removed)
        return other;
    NeighboursFor(tb).Insert(other);
    other->NeighboursFor(ta).Insert(this);

    RaiseLinkEvents(other, true);
    return other;
}

void Item::Disconnect(Item* other)
{
    Type* ta = mp_type;
    Type* tb = other->mp_type;
    Data* data = ta->mp_data;
    Data::Scope scope(data);
    DropNeighbour(tb, other);
    other->DropNeighbour(ta, this);

    RaiseLinkEvents(other, false);
}

void Item::Disconnect(const char* typeName)
{
    Type* t = mp_type->mp_data->GetType(typeName);
    const NeighbourSet* s = Links(t);
    if (!s)
        return;
    Data::Scope scope(mp_type->mp_data);
    // A flat copy: handlers may change the set, and a vector costs one allocation, not one per item.
    const std::vector<Item*> copy(s->begin(), s->end());
    for (Item* n : copy) {
        if (n->m_removed)
            continue;
        Disconnect(n);
    }
}

Item* Item::NewItem(const char* typeName)
{
    Data* data = mp_type->mp_data;
    Type* t = data->GetType(typeName);
    RelationInfo r = mp_type->GetRelation(t);
    if (!t->IsNull())
        throw new NullTypeException;
    Data::Scope scope(data);
    if (r.yPerX == Many)
        return Connect(t->NewItem().get());
    if (const NeighbourSet* s = Links(t))
        return s->begin()->get();
    if (r.xPerY == Many)
        return Connect(t->GetGlobalNullItem().get());
    return Connect(t->NewItem().get());
}

void Item::Remove()
{
    if (m_removed)
        return;
    Data* data = mp_type->mp_data;
    Data::Scope scope(data);
    m_removed = true;
    mp_type->Unindex(this);
    ItemPtr self(this);
    mp_type->itemRemoved.Notify(self);
    data->itemRemoved.Notify(self);
    // Handlers may have linked the item anew; repeat until nothing is left.
    std::vector<Item*> copy;
    for (;;) {
        // The neighbours as they are now, in type and identity order, flat.
        copy.clear();
        for (auto& group : GroupList())
            copy.insert(copy.end(), group.second.begin(), group.second.end());
        if (copy.empty())
            break;
        for (Item* n : copy)
            if (IsConnected(n))
                Disconnect(n);
    }
    m_mark = 0;
    data->Free(this);
}

bool Item::IsConnected(Item* other) const
{
    if (!other)
        return false;
    const NeighbourSet* s = Links(other->mp_type);
    return s && s->Contains(other);
}

bool Item::IsConnected(Type* type) const
{
    return Links(type) != nullptr;
}

bool Item::IsConnected(const char* typeName) const
{
    return IsConnected(mp_type->mp_data->GetType(typeName));
}

Item* Item::HasItem(const char* typeName) const
{
    const NeighbourSet* s = Links(mp_type->mp_data->GetType(typeName));
    return s ? s->begin()->get() : nullptr;
}

void Item::GetItems(const char* typeName, ItemSet& out) const
{
    Type* t = mp_type->mp_data->GetType(typeName);
    if (!mp_type->IsRelated(t))
        throw new NotRelatedException;
    if (const NeighbourSet* s = Links(t))
        out = s->ToItemSet();
}

void Item::GetConnectedItems(std::map<Type*, ItemSet>& out) const
{
    out.clear();
    for (auto& e : GroupList())
        if (!e.second.empty())
            out.emplace_hint(out.end(), e.first, e.second.ToItemSet());
}

void Item::GetUniqueItems(std::map<Item*, Path>& out)
{
    GetUniqueItemsFromOrTo(Path(), out, true);
    out.erase(this);
}

void Item::GetUniqueToItems(std::map<Item*, Path>& out)
{
    GetUniqueItemsFromOrTo(Path(), out, false);
    out.erase(this);
}

void Item::GetUniqueItemsFromOrTo(Path path, std::map<Item*, Path>& out, bool toOne)
{
    path.push_back(mp_type);
    out[this] = path;
    for (auto& e : GroupList()) {
        if (e.second.empty())
            continue;
        RelationInfo r = mp_type->GetRelation(e.first);
        if (!toOne) {
            if (r.xPerY == One)
                for (const ItemPtr& n : e.second)
                    if (!out.count(n.get()))
                        n->GetUniqueItemsFromOrTo(path, out, false);
        } else if (r.yPerX == One) {
            Item* n = e.second.begin()->get();
            if (!out.count(n))
                n->GetUniqueItemsFromOrTo(path, out, true);
        }
    }
}

// ---------------------------------------------------------------- links in bulk

bool Data::LinksUnobserved(Type* a, Type* b) const
{
    auto rel = a->m_relations.find(b);
    if (rel == a->m_relations.end() || rel->second.xPerY != Many || rel->second.yPerX != Many)
        return false;
    if (!connected.IsEmpty() || !a->connected.IsEmpty() || !b->connected.IsEmpty())
        return false;
    const Event<ConnectionInfo&>* ab = a->PairEvent(b, true, false);
    const Event<ConnectionInfo&>* ba = b->PairEvent(a, true, false);
    return (!ab || ab->IsEmpty()) && (!ba || ba->IsEmpty());
}

void Data::LinkUnobserved(const std::vector<Item*>& items, const std::vector<std::pair<int32_t, int32_t>>& pairs)
{
    // Which pairs the first pass linked, so that the second adds their other ends.
    std::vector<bool> added(pairs.size(), false);
    // The items lie scattered: asking for those of a later pair early overlaps the waits.
    const size_t ahead = 8;
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (k + ahead < pairs.size()) {
            __builtin_prefetch(items[static_cast<size_t>(pairs[k + ahead].first)]);
            __builtin_prefetch(items[static_cast<size_t>(pairs[k + ahead].second)]);
        }
        Item* a = items.at(static_cast<size_t>(pairs[k].first));
        Item* b = items.at(static_cast<size_t>(pairs[k].second));
        if (a == b || a->m_removed || b->m_removed)
            continue;
        added[k] = a->NeighboursFor(b->mp_type).Insert(b);
    }
    for (size_t k = 0; k < pairs.size(); ++k) {
        if (k + ahead < pairs.size() && added[k + ahead])
            __builtin_prefetch(items[static_cast<size_t>(pairs[k + ahead].second)]);
        if (!added[k])
            continue;
        Item* a = items[static_cast<size_t>(pairs[k].first)];
        Item* b = items[static_cast<size_t>(pairs[k].second)];
        b->NeighboursFor(a->mp_type).Insert(a);
    }
}

// ---------------------------------------------------------------- ItemPtr

Type* ItemPtr::GetType() const { return mp_item->GetType(); }
Value ItemPtr::GetValue() const { return mp_item->GetValue(); }
std::string ItemPtr::AsStdString() const { return mp_item ? mp_item->GetValue().str() : std::string(); }
QString ItemPtr::AsString() const { return mp_item ? ToQString(mp_item->GetValue().str()) : QString(); }

int ItemPtr::AsInt() const
{
    return mp_item ? QByteArray::fromStdString(mp_item->GetValue().str()).toInt() : 0;
}
unsigned int ItemPtr::AsUInt() const
{
    return mp_item ? QByteArray::fromStdString(mp_item->GetValue().str()).toUInt() : 0;
}
long long ItemPtr::AsInt64() const
{
    return mp_item ? QByteArray::fromStdString(mp_item->GetValue().str()).toLongLong() : 0;
}
unsigned long long ItemPtr::AsUInt64() const
{
    return mp_item ? QByteArray::fromStdString(mp_item->GetValue().str()).toULongLong() : 0;
}

ItemPtr ItemPtr::Connect(ItemPtr other) { return mp_item->Connect(other.get()); }
void ItemPtr::Disconnect(ItemPtr other) { mp_item->Disconnect(other.get()); }
ItemPtr ItemPtr::operator-=(ItemPtr other)
{
    mp_item->Disconnect(other.get());
    return other;
}
void ItemPtr::Disconnect(const char* typeName) { mp_item->Disconnect(typeName); }
ItemPtr ItemPtr::NewItem(const char* typeName) { return mp_item->NewItem(typeName); }
void ItemPtr::Remove() { mp_item->Remove(); }

ItemPtr ItemPtr::HasItem(const char* typeName) const { return mp_item ? mp_item->HasItem(typeName) : nullptr; }
ItemPtr ItemPtr::GetItem(const char* typeName) const { return mp_item ? mp_item->HasItem(typeName) : nullptr; }
bool ItemPtr::IsConnected(const char* typeName) const { return mp_item->IsConnected(typeName); }
bool ItemPtr::IsConnected(Type* type) const { return mp_item->IsConnected(type); }
bool ItemPtr::IsConnected(ItemPtr other) const { return mp_item->IsConnected(other.get()); }
bool ItemPtr::IsDisconnectedFromAll() const { return mp_item->IsDisconnectedFromAll(); }

ItemSet ItemPtr::GetItems(const char* typeName) const
{
    ItemSet out;
    if (mp_item)
        mp_item->GetItems(typeName, out);
    return out;
}

void ItemPtr::GetItems(const char* typeName, ItemSet& out) const
{
    if (!mp_item) {
        out.clear();
        return;
    }
    mp_item->GetItems(typeName, out);
}

// ---------------------------------------------------------------- PathNode

PathNode::PathNode(Data* data_, const char* typeName) : data(data_), type(data_->GetType(typeName)) {}

PathNode::PathNode(ItemPtr item)
    : data(item->GetType()->GetData()), type(item->GetType()), fixed(true), value(item->GetValue().str())
{
}

PathNode::PathNode(PathNode* parent_, const char* typeName, PathNodeRelation relation_)
    : data(parent_->data), parent(parent_), relation(relation_), type(parent_->data->GetType(typeName))
{
    parent->children.insert(std::make_pair(this, relation));
}

PathNode::PathNode(PathNode* parent_, ItemPtr item, PathNodeRelation relation_)
    : data(parent_->data),
      parent(parent_),
      relation(relation_),
      type(item->GetType()),
      fixed(true),
      value(item->GetValue().str())
{
    parent->children.insert(std::make_pair(this, relation));
}

PathNode::~PathNode()
{
    for (auto& c : children)
        delete c.first;
}
