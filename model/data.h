// The typed item graph that holds all application state.
#pragma once

#include "model/valueindex.h"

#include <QMetaType>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string_view>
#include <string>
#include <utility>
#include <vector>

class Data;
class Type;
class Item;
class ItemPtr;
class ItemSet;
class PathNode;

// Misuse of the graph's interface; thrown as pointers to new objects, caught by nobody.
class TypeAlreadyExistsException {};
class TypeNotFoundException {};
class NullTypeException {};
class NotRelatedException {};
class AlreadyRelatedException {};

enum Primacy : int32_t { PrimacyRoot = 0, PrimacyReachable = 1, PrimacyLeaf = 2 };
enum OneOrMany : int32_t { One = 0, Many = 1 };

// An item's value: bytes. Numbers and object pointers are kept as decimal text.
class Value
{
public:
    Value() = default;
    Value(const QString& s) : m_bytes(s.toUtf8().toStdString()) {}
    Value(const char* s) : m_bytes(s ? s : "") {}
    // A writable buffer is text too, not an object whose address is the key.
    Value(char* s) : m_bytes(s ? s : "") {}
    Value(const std::string& s) : m_bytes(s) {}
    Value(std::string&& s) : m_bytes(std::move(s)) {}
    Value(int n) : m_bytes(std::to_string(n)) {}
    Value(unsigned int n) : m_bytes(std::to_string(n)) {}
    Value(long long n) : m_bytes(std::to_string(n)) {}
    Value(unsigned long long n) : m_bytes(std::to_string(n)) {}
    template <typename T>
    Value(T* p) : m_bytes(std::to_string(static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p))))
    {
    }

    const std::string& str() const { return m_bytes; }
    bool operator<(const Value& o) const { return m_bytes < o.m_bytes; }
    bool operator==(const Value& o) const { return m_bytes == o.m_bytes; }
    bool operator!=(const Value& o) const { return m_bytes != o.m_bytes; }

private:
    std::string m_bytes;
};

struct RelationInfo
{
    OneOrMany xPerY = One;  // how many items of the holding type one item of the other may have
    OneOrMany yPerX = One;  // how many items of the other type one item of the holding type may have
    bool owns = false;
    bool ownedBy = false;
};

// ---------------------------------------------------------------- handlers and events

class EventHandlerRoot
{
public:
    virtual ~EventHandlerRoot() = default;
    bool removed = false;
};

template <typename A>
class EventHandlerBase : public EventHandlerRoot
{
public:
    virtual void Handle(A arg) = 0;
};

template <typename O, typename A>
class EventHandler : public EventHandlerBase<A>
{
public:
    typedef void (O::*Method)(A);
    EventHandler(O* owner, Method method) : m_owner(owner), m_method(method) {}
    void Handle(A arg) override { (m_owner->*m_method)(arg); }

private:
    O* m_owner;
    Method m_method;
};

// The set of handlers of one event, in handler identity order. A handler flagged
// removed is skipped; it is deleted once no dispatch of this event can still reach it.
template <typename A>
class Event
{
public:
    Event() = default;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    ~Event()
    {
        for (auto* h : m_handlers)
            delete h;
    }

    typedef typename std::remove_reference<A>::type Arg;

    void Add(EventHandlerBase<A>* h)
    {
        // Keep the vector in identity order so dispatch order matches the ordered set.
        auto it = std::lower_bound(m_handlers.begin(), m_handlers.end(), h);
        if (it == m_handlers.end() || *it != h)
            m_handlers.insert(it, h);
    }
    // Detaches without deleting (the caller keeps ownership).
    void Detach(EventHandlerBase<A>* h)
    {
        auto it = std::lower_bound(m_handlers.begin(), m_handlers.end(), h);
        if (it != m_handlers.end() && *it == h)
            m_handlers.erase(it);
    }
    bool IsEmpty() const { return m_handlers.empty(); }
    size_t Count() const { return m_handlers.size(); }
    const std::vector<EventHandlerBase<A>*>& Handlers() const { return m_handlers; }

    void Notify(Arg& arg);

private:
    void Purge();

    std::vector<EventHandlerBase<A>*> m_handlers;
    int m_depth = 0;
    bool m_purge = false;
};

class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(const DataHandler&) = delete;
    DataHandler& operator=(const DataHandler&) = delete;
    virtual ~DataHandler();
    void RemoveDataHandlers();
    void AddDataHandler(EventHandlerRoot* h) { m_handlers.insert(h); }
    void ForgetDataHandler(EventHandlerRoot* h) { m_handlers.erase(h); }
    const std::set<EventHandlerRoot*>& DataHandlers() const { return m_handlers; }

private:
    std::set<EventHandlerRoot*> m_handlers;
};

// Creates a handler bound to an owner's member, adds it to the event and to the owner.
template <typename O, typename A>
EventHandler<O, A>* AddHandler(Event<A>& event, O* owner, void (O::*method)(A))
{
    auto* h = new EventHandler<O, A>(owner, method);
    owner->AddDataHandler(h);
    event.Add(h);
    return h;
}

// ---------------------------------------------------------------- items

class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* item) : mp_item(item) {}

    Item* get() const { return mp_item; }
    Item* operator->() const { return mp_item; }
    operator Item*() const { return mp_item; }
    bool IsNull() const { return mp_item == nullptr; }
    explicit operator bool() const { return mp_item != nullptr; }
    bool operator<(const ItemPtr& o) const { return std::less<Item*>()(mp_item, o.mp_item); }
    bool operator==(const ItemPtr& o) const { return mp_item == o.mp_item; }
    bool operator!=(const ItemPtr& o) const { return mp_item != o.mp_item; }
    bool operator==(Item* o) const { return mp_item == o; }
    bool operator!=(Item* o) const { return mp_item != o; }
    bool operator==(std::nullptr_t) const { return mp_item == nullptr; }
    bool operator!=(std::nullptr_t) const { return mp_item != nullptr; }

    Type* GetType() const;
    Value GetValue() const;
    std::string AsStdString() const;
    QString AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    unsigned long long AsUInt64() const;

    ItemPtr Connect(ItemPtr other);
    ItemPtr operator+=(ItemPtr other) { return Connect(other); }
    void Disconnect(ItemPtr other);
    ItemPtr operator-=(ItemPtr other);
    void Disconnect(const char* typeName);
    ItemPtr NewItem(const char* typeName);
    void Remove();

    ItemPtr operator[](const char* typeName) const { return HasItem(typeName); }
    ItemPtr HasItem(const char* typeName) const;
    ItemPtr GetItem(const char* typeName) const;
    bool IsConnected(const char* typeName) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(ItemPtr other) const;
    bool IsDisconnectedFromAll() const;
    ItemSet GetItems(const char* typeName) const;
    void GetItems(const char* typeName, ItemSet& out) const;

private:
    Item* mp_item = nullptr;
};

// The object whose address an item holds as its value (see Value(T*)); null for no item or 0.
template <typename T>
T* ItemObject(ItemPtr item)
{
    return reinterpret_cast<T*>(static_cast<uintptr_t>(item.AsUInt64()));
}

class ItemSet : public std::set<ItemPtr>
{
public:
    ItemSet() = default;
    ItemSet(ItemPtr item)
    {
        if (item)
            insert(item);
    }
    operator ItemPtr() const { return empty() ? ItemPtr() : *begin(); }

    void Add(const ItemSet& other) { insert(other.begin(), other.end()); }
    ItemSet operator+(const ItemSet& other) const
    {
        ItemSet r(*this);
        r.Add(other);
        return r;
    }
    bool Contains(ItemPtr item) const { return find(item) != end(); }

    ItemSet Common(const ItemSet& other) const;
    ItemSet Connected(const ItemSet& other) const;
    ItemSet Connected(ItemPtr item) const;
    ItemSet Connected(const char* typeName) const;
    ItemSet Connected(const char* typeName, Value v) const;
    ItemSet NotConnected(const ItemSet& other) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet NotConnected(const char* typeName) const;
    ItemSet NotConnected(const char* typeName, Value v) const;
    ItemSet GetItems(const char* typeName) const;
    void Disconnect(const char* typeName);
    void Remove();

    std::list<ItemPtr> SortNumeric(bool ascending) const;
    std::list<ItemPtr> SortAlphabetic(bool ascending) const;
    std::list<ItemPtr> SortNumericBy(const char* typeName, bool ascending) const;
    std::list<ItemPtr> SortAlphabeticBy(const char* typeName, bool ascending) const;
};

#include "model/neighbourset.h"

struct ConnectionInfo
{
    ConnectionInfo() = default;
    ConnectionInfo(ItemPtr a, ItemPtr b) : item(a), other(b) {}
    ItemPtr item;
    ItemPtr other;
};

typedef std::vector<Type*> Path;

class Item
{
public:
    Type* GetType() const { return mp_type; }
    const Value& GetValue() const { return m_value; }

    // Linking an item that is being removed does nothing: the link would outlive the item.
    Item* Connect(Item* other);
    void Disconnect(Item* other);
    void Disconnect(const char* typeName);
    Item* NewItem(const char* typeName);
    void Remove();

    Item* GetItem(const char* typeName) const { return HasItem(typeName); }
    Item* HasItem(const char* typeName) const;
    bool IsConnected(const char* typeName) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(Item* other) const;
    bool IsDisconnectedFromAll() const;
    void GetItems(const char* typeName, ItemSet& out) const;
    void GetConnectedItems(std::map<Type*, ItemSet>& out) const;
    // The neighbours of one type, or null when there are none. An item keeps all its sets side
    // by side in one block, made anew whenever it gains its first neighbour of a type, loses its
    // last one of a type, or ReserveLinks makes room for a type it has none of: each of these
    // moves every set of the item. So the pointer, and every iterator into the set, holds only
    // until the item is next linked to an item of another type, loses its last neighbour of any
    // type (this one included), or is given room by ReserveLinks. A link or an unlink of this
    // type that keeps the set changes it in place: the pointer holds, its iterators do not.
    const NeighbourSet* Links(Type* type) const;
    // The same as an ordered set of handles. The first call for a type keeps such a set beside the
    // compact one for as long as the item has neighbours of that type: walks over many items
    // read Links instead. This set does not move with the compact ones: it holds until the item
    // loses its last neighbour of the type. The first call moves a set of one item, which is kept
    // in place: iterators into what Links gave for the type do not hold across it.
    const ItemSet* Neighbours(Type* type) const;
    // Room for this many neighbours of one type in all, for a caller that knows how many links
    // it is about to make: one allocation instead of one per growth. Changes no neighbours, but
    // moves sets as a link does (see Links): what Links gave for any type before it, and the
    // iterators into it, do not hold across it. Room left unused stays until the item goes.
    void ReserveLinks(Type* type, size_t count);

    void GetUniqueItems(std::map<Item*, Path>& out);
    void GetUniqueToItems(std::map<Item*, Path>& out);
    void GetUniqueItemsFromOrTo(Path path, std::map<Item*, Path>& out, bool toOne);

    // Set once the item has started its removal; it is freed only when no operation
    // of the graph can still hold it in a copied set.
    bool IsRemoved() const { return m_removed; }

    // A number one pass over the whole graph (the save) keeps on each item, so that it finds an
    // item's number without a table; 0 outside such a pass. Costs no memory: it fills padding.
    int32_t PassNumber() const { return m_passNumber; }
    void SetPassNumber(int32_t n) { m_passNumber = n; }

private:
    friend class Type;
    friend class Data;
    friend class ItemSet;
    Item(Type* type, Value value) : mp_type(type), m_value(std::move(value)) {}
    ~Item();
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;
    // Items come from the small-block slabs (plain new and delete in sanitizer builds).
    static void* operator new(size_t size);
    static void operator delete(void* p, size_t size);

    // Neighbours grouped by type, in type identity order; a group exists only while non-empty,
    // or empty with room reserved, which no reader sees.
    typedef std::pair<Type*, NeighbourSet> Group;
    class Groups
    {
    public:
        Groups(Group* first, size_t count) : mp_first(first), mp_last(first + count) {}
        Group* begin() const { return mp_first; }
        Group* end() const { return mp_last; }
        std::reverse_iterator<Group*> rbegin() const { return std::reverse_iterator<Group*>(mp_last); }
        std::reverse_iterator<Group*> rend() const { return std::reverse_iterator<Group*>(mp_first); }
        size_t size() const { return static_cast<size_t>(mp_last - mp_first); }
        bool empty() const { return mp_first == mp_last; }

    private:
        Group* mp_first;
        Group* mp_last;
    };
    Groups GroupList() const { return Groups(mp_groups, m_groupCount); }
    Group* AddGroup(Group* at, Type* type);
    void DropGroup(Group* at);

    NeighbourSet& NeighboursFor(Type* type);
    void RaiseLinkEvents(Item* other, bool linked);
    void DropNeighbour(Type* type, Item* other);

    // 56 bytes: the groups are one block whose length the item keeps beside its flags. The block
    // holds exactly the groups: an item gains its few groups early and keeps them.
    Type* mp_type;
    Value m_value;
    Group* mp_groups = nullptr;
    int32_t m_passNumber = 0;
    uint16_t m_groupCount = 0;
    bool m_removed = false;
    // Only during a collection: 0 outside it, kCandidate until reached, kReached once expanded.
    enum : uint8_t { kCandidate = 1, kReached = 2 };
    uint8_t m_mark = 0;
};

// ---------------------------------------------------------------- types

class Type
{
public:
    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;
    Event<ConnectionInfo> connected;
    Event<ConnectionInfo> disconnected;

    const std::string& Name() const { return m_name; }
    bool IsNull() const { return m_null; }
    bool IsAutocreate() const { return m_autocreate; }
    Primacy GetPrimacy() const { return m_primacy; }
    Data* GetData() const { return mp_data; }

    void RelateToType(Type* other, OneOrMany a, OneOrMany b, bool owns);
    RelationInfo GetRelation(Type* other) const;
    bool IsRelated(Type* other) const { return m_relations.count(other) != 0; }
    void GetRelatedTypes(std::map<Type*, RelationInfo>& out) const { out = m_relations; }
    const std::map<Type*, RelationInfo>& Relations() const { return m_relations; }

    ItemPtr HasItem(const Value& v) const;
    ItemPtr GetItem(const Value& v);
    // The same for a value made for the call: a new item takes its bytes without a copy.
    ItemPtr GetItem(Value&& v);
    ItemPtr operator[](const Value& v) { return GetItem(v); }
    ItemPtr NewItem(const Value& v);
    ItemPtr NewItem(Value&& v);
    ItemPtr NewItem();
    ItemPtr GetGlobalNullItem();
    // For a loader filling a type in one go: one new item per value, in the order given, each
    // announced as NewItem announces it, appended to out. The values must be distinct and no item
    // of this type may hold one of them when the call begins. While nobody listens to new items,
    // the values are not looked up one by one and the index makes room for all of them at once.
    void NewItemsUnique(const std::vector<std::string_view>& values, std::vector<Item*>& out);
    ItemSet GetItems() const;
    void GetItems(ItemSet& out) const;
    size_t ItemCount() const { return m_null ? m_nullItems.size() : m_items.Size(); }
    // The items in value order (identity order for a null type).
    std::vector<Item*> ItemsInOrder() const;
    // The items in no particular order; for walks whose result does not depend on it.
    std::vector<Item*> ItemsUnordered() const;

    void RemoveAllItems();
    void Remove();

private:
    friend class Data;
    friend class Item;
    Type(Data* data, std::string name, Primacy primacy, bool null, bool autocreate);
    ~Type();

    Item* Create(Value v);
    void Unindex(Item* item);
    Event<ConnectionInfo&>* PairEvent(Type* other, bool connection, bool create);

    static const std::string& ValueOf(const Item* item) { return item->GetValue().str(); }
    template <typename V>
    ItemPtr FindOrMake(V&& v, bool create);
    Item* CreateValued(Value v, uint64_t hash);
    Item* Announce(Item* item);

    Data* mp_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_null;
    bool m_autocreate;
    std::map<Type*, RelationInfo> m_relations;
    ValueIndex m_items{&Type::ValueOf};
    // The items of a null type, in identity order: about a pointer each, not a tree node.
    NeighbourSet m_nullItems;
    // Pair registries keyed by the other type: handlers of (this type, other type).
    std::map<Type*, Event<ConnectionInfo&>*> m_pairConnect;
    std::map<Type*, Event<ConnectionInfo&>*> m_pairDisconnect;
};

// ---------------------------------------------------------------- paths

enum PathNodeRelation : int32_t {
    PathConnected = 0,
    PathConnectedCondition = 1,
    PathConnectedTrigger = 2,
    PathNotConnected = 3,
    PathNotConnectedCondition = 4,
    PathDisconnectedTrigger = 5
};

class PathNode
{
public:
    PathNode(Data* data, const char* typeName);
    explicit PathNode(ItemPtr item);
    PathNode(PathNode* parent, const char* typeName, PathNodeRelation relation);
    PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation);
    ~PathNode();
    PathNode(const PathNode&) = delete;
    PathNode& operator=(const PathNode&) = delete;

    Data* data;
    PathNode* parent = nullptr;
    PathNodeRelation relation = PathConnected;
    Type* type = nullptr;
    bool fixed = false;
    std::string value;
    std::set<std::pair<PathNode*, PathNodeRelation>> children;
};

// ---------------------------------------------------------------- the graph

class Data : public DataHandler
{
public:
    Data();
    ~Data() override;

    Event<Type*> typeAdded;
    Event<Type*> typeRemoved;
    Event<ItemPtr> itemAdded;
    Event<ItemPtr> itemRemoved;
    Event<ConnectionInfo> connected;
    Event<ConnectionInfo> disconnected;

    Type* NewType(std::string name, Primacy primacy, bool null, bool autocreate);
    Type* GetType(const std::string& name) const;
    Type* HasType(const std::string& name) const;
    void GetTypes(std::map<std::string, Type*>& out) const { out = m_types; }
    const std::map<std::string, Type*>& Types() const { return m_types; }
    void RemoveAllItems();

    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* h);
    void AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* h);
    void AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler);

    int RemoveDisconnectedItems();

    ItemSet GetItemSubset(ItemSet items, const char* typeName);
    ItemSet GetItems(ItemPtr a, ItemPtr b, const char* typeName);
    ItemPtr GetItem(ItemSet items, const char* typeName);
    ItemPtr GetItem(ItemPtr a, ItemPtr b, const char* typeName);
    ItemSet GetItems(ItemSet& items, const char* typeName);

    // For a loader: whether links between items of the two types reach no handler (of either
    // type, of the graph or of the pair either way, path subscriptions included) and push no
    // other link out (many to many both ways). Such links can be made in any order unnoticed.
    bool LinksUnobserved(Type* a, Type* b) const;
    // Links pairs of items as Connect would, for pairs of types that pass LinksUnobserved, and
    // so raises no event. A pair is given by the places of its two items in items. A pair linked
    // already, or with an item being removed, is left alone. The first items are visited in the
    // order given, then the second ones: a list sorted by its first items reads each item's
    // neighbours side by side.
    void LinkUnobserved(const std::vector<Item*>& items, const std::vector<std::pair<int32_t, int32_t>>& pairs);

    // Number of path subscriptions registered on a type pair in one direction (diagnostics).
    size_t PathSubscriptionCount(Type* a, Type* b, bool connection) const;
    bool HasPathHandler(Type* a, Type* b, bool connection) const;

    // Everything that may hold items in copied sets runs inside a scope; removed items
    // are freed when the outermost scope ends.
    class Scope
    {
    public:
        explicit Scope(Data* data);
        ~Scope();

    private:
        Data* mp_data;
    };

    struct PathNodePairInfo
    {
        PathNode* parent;
        PathNode* child;
        PathNodeRelation relation;
    };
    typedef std::map<std::pair<Type*, Type*>, PathNodePairInfo> PathPairs;
    struct PathNodeHandlerInfo
    {
        PathPairs pairs;
        EventHandlerBase<ItemPtr>* handler;
        PathNode* root;
    };

private:
    friend class Type;
    friend class Item;

    void Free(Item* item);
    void GetPathNodePairs(PathNode* node, PathPairs& out);
    void OnPathNodeEventConnection(ConnectionInfo& info);
    void OnPathNodeEventDisconnection(ConnectionInfo& info);
    void OnPathNodeEvent(ConnectionInfo& info, bool connection);
    bool VerifyPathNodeSubNodeConnections(Item* item, PathNode* step, PathNode* skipped);
    bool VerifyPathNodeParentNodeConnections(Item* item, PathNode* step, PathNode* skipped, Item*& root);
    void RemovePathEventHandler(PathNodeHandlerInfo* info);

    typedef std::pair<Type*, Type*> TypePair;
    std::map<std::string, Type*> m_types;
    std::map<TypePair, std::set<PathNodeHandlerInfo*>> m_pathRegistrations[2];  // [0] disconnection, [1] connection
    std::map<TypePair, EventHandler<Data, ConnectionInfo&>*> m_pathHandlers[2];
    std::set<PathNodeHandlerInfo*> m_allPathSubscriptions;
    int m_scopeDepth = 0;
    std::vector<Item*> m_graveyard;
};

extern Data d;

// Queries over all items of a type.
ItemSet i(const char* typeName, Value v);
ItemSet g(const char* typeName);

// ---------------------------------------------------------------- text decoding

class QTextCodec;

class ExtendedAsciiTranslator : public DataHandler
{
public:
    ExtendedAsciiTranslator();
    QString Translate(const std::string& bytes) const;
    void OnCodePageChanges(ItemPtr setting);
    void SetCodePage(std::string name);
    QTextCodec* Codec() const { return mp_codec; }

private:
    QTextCodec* mp_codec = nullptr;
};

extern ExtendedAsciiTranslator* extendedAsciiTranslator;

QString ToQString(const std::string& bytes);

// ---------------------------------------------------------------- event dispatch

template <typename A>
void Event<A>::Notify(Arg& arg)
{
    if (m_handlers.empty())
        return;
    ++m_depth;
    std::vector<EventHandlerBase<A>*> copy(m_handlers);
    for (auto* h : copy) {
        if (h->removed) {
            m_purge = true;
            continue;
        }
        Arg a(arg);
        h->Handle(a);
    }
    if (--m_depth == 0 && m_purge)
        Purge();
}

template <typename A>
void Event<A>::Purge()
{
    m_purge = false;
    std::vector<EventHandlerBase<A>*> keep;
    keep.reserve(m_handlers.size());
    for (auto* h : m_handlers) {
        if (h->removed)
            delete h;
        else
            keep.push_back(h);
    }
    m_handlers.swap(keep);
}

// Queued signals carry items between objects of the GUI thread; registered by Data's constructor.
Q_DECLARE_METATYPE(ItemPtr)
