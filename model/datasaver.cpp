#include "model/datasaver.h"

#include "model/log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

DataSaver* dataSaver = nullptr;

namespace {

const QString kCategory = QStringLiteral("Configuration Data");
// How many links ahead the load asks for the items of a link.
const size_t kLinksAhead = 8;

void PutInt(char* p, int32_t v)
{
    const uint32_t u = static_cast<uint32_t>(v);
    p[0] = static_cast<char>(u);
    p[1] = static_cast<char>(u >> 8);
    p[2] = static_cast<char>(u >> 16);
    p[3] = static_cast<char>(u >> 24);
}

int32_t GetInt(const char* p)
{
    const unsigned char* b = reinterpret_cast<const unsigned char*>(p);
    return static_cast<int32_t>(static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                                (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24));
}

// Collects the file in large blocks: a million items would otherwise cost millions of calls
// through QIODevice. Fields are stored straight into a fixed buffer, not appended to a container.
class BlockWriter
{
public:
    explicit BlockWriter(QFile& file) : m_file(file), m_buffer(new char[kBlock]) {}

    void Bytes(const char* p, size_t n)
    {
        if (n == 0)
            return;
        if (kBlock - m_used < n) {
            Flush();
            if (n > kBlock) {
                // Around the buffer, but counted all the same: a count patched in later must
                // find its own place, not one inside this value.
                WriteOut(p, n);
                m_written += n;
                return;
            }
        }
        memcpy(m_buffer.get() + m_used, p, n);
        m_used += n;
    }
    void Int(int32_t v)
    {
        if (kBlock - m_used < 4)
            Flush();
        PutInt(m_buffer.get() + m_used, v);
        m_used += 4;
    }
    void Flag(bool v)
    {
        const char b = v ? 1 : 0;
        Bytes(&b, 1);
    }
    void String(const std::string& s) { String(s.data(), s.size()); }
    void String(const char* p, size_t n)
    {
        if (n > static_cast<size_t>(INT_MAX))
            throw DataSaveFailure();
        Int(static_cast<int32_t>(n));
        Bytes(p, n);
    }
    void Count(size_t n)
    {
        if (n > static_cast<size_t>(INT_MAX))
            throw DataSaveFailure();
        Int(static_cast<int32_t>(n));
    }
    void Flush()
    {
        if (m_used > 0)
            WriteOut(m_buffer.get(), m_used);
        m_written += m_used;
        m_used = 0;
    }
    // Where the next field goes, from the start of the file.
    size_t Position() const { return m_written + m_used; }
    // Writes a count at a position already passed: a list can then be written as it is made,
    // without being held whole first to learn its length.
    void PatchCount(size_t position, size_t n)
    {
        if (n > static_cast<size_t>(INT_MAX))
            throw DataSaveFailure();
        if (position >= m_written) {
            PutInt(m_buffer.get() + (position - m_written), static_cast<int32_t>(n));
            return;
        }
        Flush();
        char bytes[4];
        PutInt(bytes, static_cast<int32_t>(n));
        if (!m_file.seek(static_cast<qint64>(position)))
            throw DataSaveFailure();
        WriteOut(bytes, sizeof bytes);
        if (!m_file.seek(static_cast<qint64>(m_written)))
            throw DataSaveFailure();
    }

private:
    static constexpr size_t kBlock = 1 << 20;

    void WriteOut(const char* p, size_t n)
    {
        while (n > 0) {
            const qint64 k = m_file.write(p, static_cast<qint64>(n));
            if (k <= 0)
                throw DataSaveFailure();
            p += k;
            n -= static_cast<size_t>(k);
        }
    }

    QFile& m_file;
    std::unique_ptr<char[]> m_buffer;
    size_t m_used = 0;
    size_t m_written = 0;  // bytes handed to the file
};

// Reads fields from the whole file held in memory. Every length is checked against what is
// actually left, so nothing is ever sized from a number in the file.
class BlockReader
{
public:
    BlockReader(const char* data, size_t size) : mp_data(data), m_size(size) {}

    int32_t Int()
    {
        if (m_size - m_pos < 4)
            throw DataLoadFailure();
        const int32_t v = GetInt(mp_data + m_pos);
        m_pos += 4;
        return v;
    }
    bool Flag()
    {
        if (m_pos >= m_size)
            throw DataLoadFailure();
        const unsigned char b = static_cast<unsigned char>(mp_data[m_pos++]);
        if (b > 1)
            throw DataLoadFailure();
        return b == 1;
    }
    // The bytes up to the first NUL; the position moves past the whole string.
    std::pair<const char*, size_t> String()
    {
        const int32_t n = Int();
        if (n < 0 || static_cast<size_t>(n) > m_size - m_pos)
            throw DataLoadFailure();
        const char* p = mp_data + m_pos;
        m_pos += static_cast<size_t>(n);
        const void* nul = memchr(p, 0, static_cast<size_t>(n));
        return {p, nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : static_cast<size_t>(n)};
    }
    size_t Left() const { return m_size - m_pos; }

private:
    const char* mp_data;
    size_t m_size;
    size_t m_pos = 0;
};

// One saved item as read, before anything is created. The value points into the file's bytes.
struct Record
{
    int32_t id;
    uint32_t length;
    Type* type;
    const char* value;
};

// What a save file holds, checked whole before the graph is touched.
struct Contents
{
    std::vector<Record> records;  // by ascending id, one per id
    std::vector<std::pair<int32_t, int32_t>> links;  // record indexes, sorted, distinct
    std::set<std::pair<Type*, Type*>> linkTypes;  // the types at the two ends of the links
    std::set<std::string> unknownTypes;
    size_t unrelatedLinks = 0;
};

// Reads every field; throws DataLoadFailure at the first that is not there or not sound.
// Room is made ahead for as many records as a count promises, but never for more than the bytes
// left in the file can hold.
void Parse(BlockReader& in, Data* graph, Contents& c)
{
    const int32_t typeCount = in.Int();
    for (int32_t t = 0; t < typeCount; ++t) {
        const auto name = in.String();
        const bool null = in.Flag();
        const std::string typeName(name.first, name.second);
        Type* type = graph->HasType(typeName);
        // Items of one kind cannot be read as the other.
        if (type && type->IsNull() != null)
            throw DataLoadFailure();
        if (!type)
            c.unknownTypes.insert(typeName);
        const int32_t itemCount = in.Int();
        if (type && itemCount > 0) {
            // An item takes at least its id, and its value's length unless the type is null.
            const size_t wanted = c.records.size() + std::min<size_t>(size_t(itemCount), in.Left() / (null ? 4 : 8));
            if (wanted > c.records.capacity())
                c.records.reserve(std::max(wanted, 2 * c.records.capacity()));
        }
        for (int32_t k = 0; k < itemCount; ++k) {
            const int32_t id = in.Int();
            std::pair<const char*, size_t> value(nullptr, 0);
            if (!null)
                value = in.String();
            if (type)
                c.records.push_back({id, static_cast<uint32_t>(value.second), type, value.first});
        }
    }
    const int32_t linkCount = in.Int();
    if (linkCount > 0)
        c.links.reserve(std::min<size_t>(size_t(linkCount), in.Left() / 8));
    for (int32_t k = 0; k < linkCount; ++k) {
        const int32_t a = in.Int();
        const int32_t b = in.Int();
        c.links.emplace_back(a, b);
    }
}

// Merges repeated ids and turns the links into record indexes.
void Resolve(Contents& c)
{
    std::vector<Record>& records = c.records;
    // A file this program wrote numbers its items 1, 2, 3 ... in the order it lists them: then
    // there is nothing to order or merge.
    const bool ascending =
        std::adjacent_find(records.begin(), records.end(),
                           [](const Record& x, const Record& y) { return x.id >= y.id; }) == records.end();
    if (!ascending) {
        // A repeated id updates the earlier record: its type, and its value unless the later
        // type is null.
        std::stable_sort(records.begin(), records.end(),
                         [](const Record& x, const Record& y) { return x.id < y.id; });
        size_t kept = 0;
        for (size_t k = 0; k < records.size(); ++k) {
            if (kept > 0 && records[kept - 1].id == records[k].id) {
                Record& r = records[kept - 1];
                r.type = records[k].type;
                if (!records[k].type->IsNull()) {
                    r.value = records[k].value;
                    r.length = records[k].length;
                }
            } else {
                records[kept++] = records[k];
            }
        }
        records.resize(kept);
    }

    // Ids without gaps (no unknown type between them) are their own index.
    const int64_t firstId = records.empty() ? 0 : records.front().id;
    const bool dense = records.empty() || int64_t(records.back().id) - firstId == int64_t(records.size()) - 1;
    auto indexOf = [&records, dense, firstId](int32_t id) -> int32_t {
        if (dense) {
            const int64_t k = int64_t(id) - firstId;
            return k >= 0 && k < int64_t(records.size()) ? static_cast<int32_t>(k) : -1;
        }
        auto it = std::lower_bound(records.begin(), records.end(), id,
                                   [](const Record& r, int32_t v) { return r.id < v; });
        return it != records.end() && it->id == id ? static_cast<int32_t>(it - records.begin()) : -1;
    };
    // Links to dropped ids are ignored; links between types the current schema no longer
    // relates are skipped rather than failing the load.
    size_t linksKept = 0;
    Type* lastA = nullptr;
    Type* lastB = nullptr;
    bool lastRelated = false;
    for (const auto& l : c.links) {
        const int32_t a = indexOf(l.first);
        const int32_t b = indexOf(l.second);
        if (a < 0 || b < 0 || a == b)
            continue;
        Type* ta = records[static_cast<size_t>(a)].type;
        Type* tb = records[static_cast<size_t>(b)].type;
        // Links come grouped by their types: the relation map is asked once per group.
        if (ta != lastA || tb != lastB) {
            lastA = ta;
            lastB = tb;
            lastRelated = ta->IsRelated(tb);
            if (lastRelated)
                c.linkTypes.emplace(ta, tb);
        }
        if (!lastRelated) {
            ++c.unrelatedLinks;
            continue;
        }
        c.links[linksKept++] = {a, b};
    }
    c.links.resize(linksKept);
    // Ids map to indexes in the same order, so the links of a file this program wrote are in
    // order and distinct already.
    const bool inOrder = std::adjacent_find(c.links.begin(), c.links.end(),
                                            [](const std::pair<int32_t, int32_t>& x,
                                               const std::pair<int32_t, int32_t>& y) { return !(x < y); }) ==
                         c.links.end();
    if (!inOrder) {
        std::sort(c.links.begin(), c.links.end());
        c.links.erase(std::unique(c.links.begin(), c.links.end()), c.links.end());
    }
}

// Makes the items of the records in their order, one per record. A type that had no items
// before and whose values come in strictly ascending order (as the save writes them) gets its
// items without a lookup of each value.
void CreateItems(const std::vector<Record>& records, std::vector<Item*>& items)
{
    items.reserve(records.size());
    std::vector<std::string_view> values;
    for (size_t first = 0; first < records.size();) {
        Type* type = records[first].type;
        size_t end = first + 1;
        while (end < records.size() && records[end].type == type)
            ++end;
        if (type->IsNull()) {
            for (size_t k = first; k < end; ++k)
                items.push_back(type->NewItem().get());
            first = end;
            continue;
        }
        values.clear();
        bool unique = type->ItemCount() == 0;
        for (size_t k = first; k < end; ++k) {
            values.emplace_back(records[k].value, records[k].length);
            if (k > first && !(values[values.size() - 2] < values.back()))
                unique = false;
        }
        if (unique) {
            type->NewItemsUnique(values, items);
        } else {
            for (std::string_view v : values)
                items.push_back(type->NewItem(Value(std::string(v))).get());
        }
        first = end;
    }
}

// One item of a block: its place in the order and, for a valued type, its value: the first eight
// bytes in the head, the rest copied into the block's arena.
struct Entry
{
    uint64_t head;  // the first eight bytes of the value, as a number that orders the same way
    Item* item;
    uint32_t tail;  // for a value of more than eight bytes: which of the arena's tails is its rest
    uint32_t size;  // the value's bytes (a longer value cannot be saved: see BlockWriter::String)
};

// The rests of the values longer than eight bytes, side by side, and where each begins.
struct Arena
{
    std::string bytes;
    std::vector<size_t> at;

    void Clear()
    {
        bytes.clear();
        at.clear();
    }
    uint32_t Add(const char* p, size_t n)
    {
        at.push_back(bytes.size());
        bytes.append(p, n);
        return static_cast<uint32_t>(at.size() - 1);
    }
    const char* Tail(const Entry& e) const { return bytes.data() + at[e.tail]; }
};

// Orders the entries by their first eight value bytes: a radix sort, one pass per digit that
// differs among them, each pass reading the entries in order and appending them to one of the
// runs of its digit. Values of a type are mostly told apart there, so this replaces a comparison
// sort of the whole block. Many entries are sorted two bytes at a time, which halves the passes
// for as long as the counters stay few beside the entries. The digits are counted from the
// lowest bit that differs among the heads, so that bits all values share (a common first letter,
// the zeros after short values) take no pass. spare is room the passes reuse.
void SortByHead(std::vector<Entry>& entries, std::vector<Entry>& spare)
{
    const size_t n = entries.size();
    if (n < 2)
        return;
    uint64_t any = 0, all = ~uint64_t(0);
    for (const Entry& e : entries) {
        any |= e.head;
        all &= e.head;
    }
    const uint64_t differ = any ^ all;
    if (differ == 0)
        return;
    const int low = __builtin_ctzll(differ);
    const int width = 64 - __builtin_clzll(differ) - low;
    const int bits = n >= (size_t(1) << 16) ? 16 : 8;
    const int digits = (width + bits - 1) / bits;
    const size_t values = size_t(1) << bits;
    const uint64_t mask = values - 1;
    const auto digit = [low, bits, mask](uint64_t head, int d) {
        return static_cast<size_t>((head >> (low + bits * d)) & mask);
    };
    std::vector<size_t> counts(static_cast<size_t>(digits) * values, 0);
    for (const Entry& e : entries)
        for (int d = 0; d < digits; ++d)
            ++counts[static_cast<size_t>(d) * values + digit(e.head, d)];
    for (int d = 0; d < digits; ++d) {
        size_t* count = counts.data() + static_cast<size_t>(d) * values;
        // A digit all values share leaves the order as it is.
        if (count[digit(entries[0].head, d)] == n)
            continue;
        size_t sum = 0;
        for (size_t v = 0; v < values; ++v) {
            const size_t c = count[v];
            count[v] = sum;
            sum += c;
        }
        if (spare.size() < n)
            spare.resize(n);
        for (const Entry& e : entries)
            spare[count[digit(e.head, d)]++] = e;
        // spare may be longer than n: the entries are its first n.
        entries.swap(spare);
        entries.resize(n);
    }
}

// The items of a type in the order of their values as byte strings (identity order for null
// types), so that the same graph always gives the same file. The items lie scattered in memory:
// they are visited once, their values copied side by side, and sorting and writing work on the
// copies.
void SortByValue(const Type* type, std::vector<Entry>& entries, std::vector<Entry>& spare, Arena& arena)
{
    const std::vector<Item*> items = type->ItemsUnordered();
    entries.clear();
    arena.Clear();
    entries.reserve(items.size());
    for (size_t i = 0; i < items.size(); ++i) {
        // Asking for the next items early overlaps the waits for memory.
        if (i + 16 < items.size())
            __builtin_prefetch(items[i + 16]);
        Item* item = items[i];
        if (type->IsNull()) {
            entries.push_back({0, item, 0, 0});
            continue;
        }
        const std::string& value = item->GetValue().str();
        if (value.size() > static_cast<size_t>(INT_MAX))
            throw DataSaveFailure();
        uint64_t head = 0;
        const size_t n = std::min<size_t>(value.size(), 8);
        for (size_t k = 0; k < n; ++k)
            head |= static_cast<uint64_t>(static_cast<unsigned char>(value[k])) << (56 - 8 * k);
        // A value of up to eight bytes is whole in its head.
        const uint32_t tail = value.size() > 8 ? arena.Add(value.data() + 8, value.size() - 8) : 0;
        entries.push_back({head, item, tail, static_cast<uint32_t>(value.size())});
    }
    if (type->IsNull())
        return;
    SortByHead(entries, spare);
    // Values alike in their first eight bytes are ordered by the rest.
    auto byBytes = [&arena](const Entry& a, const Entry& b) {
        // With equal heads a value of up to eight bytes is the beginning of the other one.
        if (a.size <= 8 || b.size <= 8)
            return a.size < b.size;
        const int c = memcmp(arena.Tail(a), arena.Tail(b), std::min(a.size, b.size) - 8);
        return c != 0 ? c < 0 : a.size < b.size;
    };
    for (size_t k = 0; k < entries.size();) {
        size_t end = k + 1;
        while (end < entries.size() && entries[end].head == entries[k].head)
            ++end;
        if (end - k > 1)
            std::sort(entries.begin() + static_cast<std::ptrdiff_t>(k),
                      entries.begin() + static_cast<std::ptrdiff_t>(end), byBytes);
        k = end;
    }
}

// Numbers the saved items in place for the links: an item's number is then one read of the
// item the link leads to, not a table lookup. The walk over the links clears each number once
// nothing can ask for it again; whatever is left is cleared here however the save ends.
class SaveIds
{
public:
    explicit SaveIds(const std::vector<Item*>& byId) : m_byId(byId)
    {
        for (size_t k = 0; k < byId.size(); ++k)
            byId[k]->SetPassNumber(static_cast<int32_t>(k + 1));
    }
    ~SaveIds()
    {
        if (!m_cleared)
            for (Item* item : m_byId)
                item->SetPassNumber(0);
    }
    SaveIds(const SaveIds&) = delete;
    SaveIds& operator=(const SaveIds&) = delete;
    void Cleared() { m_cleared = true; }

private:
    const std::vector<Item*>& m_byId;
    bool m_cleared = false;
};

// Writes the type blocks and the links of the saved types (the file layout in datasaver.h).
void WriteGraph(BlockWriter& out, const Data& graph, const std::set<Type*>& whole,
                const std::map<Type*, std::set<Type*>>& byConnection)
{
    const std::map<std::string, Type*>& types = graph.Types();
    std::vector<Type*> saved;
    std::vector<bool> all;
    size_t itemBound = 0;
    for (const auto& entry : types) {
        Type* t = entry.second;
        const bool isWhole = whole.count(t) != 0;
        if (isWhole || byConnection.count(t)) {
            saved.push_back(t);
            all.push_back(isWhole);
            itemBound += t->ItemCount();
        }
    }

    out.Count(saved.size());

    // Ids are the positions in byId plus one; blockEnd[k] is one past the last id of block k.
    std::vector<Item*> byId;
    byId.reserve(itemBound);
    std::vector<size_t> blockEnd;
    std::vector<Entry> entries;
    std::vector<Entry> spare;
    Arena arena;
    for (size_t k = 0; k < saved.size(); ++k) {
        Type* t = saved[k];
        SortByValue(t, entries, spare, arena);
        if (!all[k]) {
            const std::set<Type*>& others = byConnection.find(t)->second;
            entries.erase(std::remove_if(entries.begin(), entries.end(),
                                         [&others](const Entry& e) {
                                             for (Type* o : others)
                                                 if (e.item->IsConnected(o))
                                                     return false;
                                             return true;
                                         }),
                          entries.end());
        }
        out.String(t->Name());
        out.Flag(t->IsNull());
        out.Count(entries.size());
        for (const Entry& e : entries) {
            byId.push_back(e.item);
            if (byId.size() > static_cast<size_t>(INT_MAX))
                throw DataSaveFailure();
            out.Int(static_cast<int32_t>(byId.size()));
            if (t->IsNull())
                continue;
            // The first eight bytes are in the head; only a longer value reads the arena, out of
            // order here.
            char bytes[8];
            const size_t inHead = std::min<size_t>(e.size, 8);
            for (size_t b = 0; b < inHead; ++b)
                bytes[b] = static_cast<char>(e.head >> (56 - 8 * b));
            out.Count(e.size);
            out.Bytes(bytes, inHead);
            if (e.size > 8)
                out.Bytes(arena.Tail(e), e.size - 8);
        }
        blockEnd.push_back(byId.size());
    }
    std::vector<Entry>().swap(entries);
    std::vector<Entry>().swap(spare);
    arena = Arena();

    // Each connection is taken from its lower id's end only, so it is written once. Ids are
    // visited in ascending order, so sorting each item's own few links orders the whole list.
    // Only lower ids ask for an item's number: once its own links are taken it is cleared.
    // The links are written as they are found, and their count put in front at the end.
    SaveIds ids(byId);
    const size_t countAt = out.Position();
    out.Count(0);
    size_t linkCount = 0;
    std::vector<int32_t> own;  // one item's higher neighbours
    size_t first = 0;
    for (size_t k = 0; k < saved.size(); ++k) {
        // A block written earlier holds only lower ids: its links were taken from its own end.
        std::vector<Type*> related;
        for (size_t j = k; j < saved.size(); ++j)
            if (saved[k]->IsRelated(saved[j]))
                related.push_back(saved[j]);
        for (size_t pos = first; pos < blockEnd[k]; ++pos) {
            // Items in id order lie scattered: asking for later ones early overlaps the waits.
            if (pos + 8 < blockEnd[k])
                __builtin_prefetch(byId[pos + 8]);
            const int32_t id = static_cast<int32_t>(pos + 1);
            own.clear();
            for (Type* other : related) {
                const NeighbourSet* neighbours = byId[pos]->Links(other);
                if (!neighbours)
                    continue;
                for (const ItemPtr& n : *neighbours) {
                    const int32_t nid = n->PassNumber();
                    if (nid > id)
                        own.push_back(nid);
                }
            }
            if (own.size() > 1)
                std::sort(own.begin(), own.end());
            for (int32_t nid : own) {
                out.Int(id);
                out.Int(nid);
            }
            linkCount += own.size();
            byId[pos]->SetPassNumber(0);
        }
        first = blockEnd[k];
    }
    ids.Cleared();
    out.PatchCount(countAt, linkCount);
}

// A save killed midway leaves its numbered temporary file behind; each later kill would add
// one more, each as large as the whole file.
void RemoveLeftoverTemporaries(const QString& path)
{
    const QFileInfo info(path);
    QDir folder = info.absoluteDir();
    const QString prefix = info.fileName() + QLatin1Char('.');
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!name.startsWith(prefix) || name.size() == prefix.size())
            continue;
        bool digits = true;
        for (int k = prefix.size(); k < name.size() && digits; ++k)
            digits = name.at(k) >= QLatin1Char('0') && name.at(k) <= QLatin1Char('9');
        if (digits)
            folder.remove(name);
    }
}

void SyncDirectoryOf(const QString& path)
{
    const QByteArray dir = QFile::encodeName(QFileInfo(path).absolutePath());
    const int fd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool ReplaceFile(const QString& from, const QString& to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

}  // namespace

DataSaver::DataSaver(Data* data, const QString& path) : mp_data(data), m_path(path.isEmpty() ? DefaultPath() : path)
{
    dataSaver = this;
}

DataSaver::~DataSaver()
{
    if (dataSaver == this)
        dataSaver = nullptr;
}

QString DataSaver::DefaultPath()
{
    return QDir::homePath() + QStringLiteral("/.Tavrinel");
}

void DataSaver::AddSavedType(std::string type)
{
    m_savedTypes.insert(mp_data->GetType(type));
}

void DataSaver::AddSavedByConnectionType(std::string type, std::string other)
{
    Type* otherType = mp_data->GetType(other);
    Type* savedType = mp_data->GetType(type);
    m_savedByConnectionTypes[savedType].insert(otherType);
}

void DataSaver::AddDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    if (handler)
        m_dataLoadedHandlers.insert(handler);
}

void DataSaver::RemoveDataLoadedEventHandler(DataLoadedEventHandler* handler)
{
    m_dataLoadedHandlers.erase(handler);
}

void DataSaver::EmitDataLoaded()
{
    const std::set<DataLoadedEventHandler*> handlers = m_dataLoadedHandlers;
    for (DataLoadedEventHandler* h : handlers)
        // A handler may take another one out while being told.
        if (m_dataLoadedHandlers.count(h))
            h->DataLoaded();
}

bool DataSaver::Save(const QString& path)
{
    QString tempName;
    for (int n = 1; n < INT_MAX; ++n) {
        tempName = QStringLiteral("%1.%2").arg(path).arg(n);
        if (!QFileInfo::exists(tempName))
            break;
    }
    QFile temp(tempName);
    bool created = false;
    QString reason;
    try {
        // NewOnly: never write into a file that appeared since the check above.
        if (!temp.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            reason = temp.errorString();
            throw DataSaveFailure();
        }
        created = true;

        BlockWriter out(temp);
        WriteGraph(out, *mp_data, m_savedTypes, m_savedByConnectionTypes);
        out.Flush();

        // The old file is replaced only by a complete copy that is on the disk.
        if (!temp.flush() || ::fsync(temp.handle()) != 0) {
            reason = temp.errorString();
            throw DataSaveFailure();
        }
        temp.close();
        if (temp.error() != QFileDevice::NoError) {
            reason = temp.errorString();
            throw DataSaveFailure();
        }
        if (!ReplaceFile(tempName, path)) {
            reason = QString::fromLocal8Bit(strerror(errno));
            throw DataSaveFailure();
        }
        SyncDirectoryOf(path);
        RemoveLeftoverTemporaries(path);
        return true;
    } catch (const DataSaveFailure&) {
    } catch (const std::bad_alloc&) {
        reason = QStringLiteral("out of memory");
    }
    if (reason.isEmpty())
        reason = temp.errorString();
    temp.close();
    if (created)
        QFile::remove(tempName);
    Log(kCategory, 1,
        QStringLiteral("Could not save to %1 (%2); the previous save file is kept").arg(path, reason));
    return false;
}

DataSaver::LoadResult DataSaver::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        EmitDataLoaded();
        return LoadResult::NoFile;
    }

    // Mapping the file costs no copy; a file that cannot be mapped is read instead.
    const qint64 size = file.size();
    QByteArray copy;
    const char* bytes = nullptr;
    size_t available = 0;
    bool mapped = false;
    if (size > 0) {
        bytes = reinterpret_cast<const char*>(file.map(0, size));
        if (bytes) {
            mapped = true;
            available = static_cast<size_t>(size);
        } else {
            copy = file.readAll();
            bytes = copy.constData();
            available = static_cast<size_t>(copy.size());
        }
    }

    Contents contents;
    bool damaged = false;
    try {
        BlockReader in(bytes, available);
        Parse(in, mp_data, contents);
        Resolve(contents);
    } catch (const DataLoadFailure&) {
        damaged = true;
    } catch (const std::bad_alloc&) {
        damaged = true;
    }

    if (damaged) {
        if (mapped)
            file.unmap(reinterpret_cast<uchar*>(const_cast<char*>(bytes)));
        file.close();
        const QString aside = path + QStringLiteral(".damaged");
        Log(kCategory, 1,
            QStringLiteral("The save file %1 is damaged and was not loaded; it is kept as %2").arg(path, aside));
        if (!ReplaceFile(path, aside))
            Log(kCategory, 1, QStringLiteral("Could not move the damaged save file to %1").arg(aside));
        EmitDataLoaded();
        return LoadResult::Damaged;
    }

    for (const std::string& name : contents.unknownTypes)
        Log(kCategory, 2,
            QStringLiteral("The save file holds items of the unknown type %1; they are skipped")
                .arg(QString::fromStdString(name)));
    if (contents.unrelatedLinks > 0)
        Log(kCategory, 2,
            QStringLiteral("%1 saved links join types that are no longer related; they are skipped")
                .arg(contents.unrelatedLinks));

    {
        // Nothing is freed while items are created and connected, so an event handler that
        // removes an item cannot leave a dangling pointer here.
        Data::Scope scope(mp_data);
        std::vector<Item*> items;
        CreateItems(contents.records, items);
        // The values are in the graph now: the file's bytes and the records can go before the
        // links multiply the graph's size.
        std::vector<Record>().swap(contents.records);
        if (mapped)
            file.unmap(reinterpret_cast<uchar*>(const_cast<char*>(bytes)));
        mapped = false;
        QByteArray().swap(copy);
        file.close();

        // Links nobody hears, and that push out none made before, end the same in any order.
        bool unobserved = true;
        for (const auto& types : contents.linkTypes)
            unobserved = unobserved && mp_data->LinksUnobserved(types.first, types.second);
        if (unobserved) {
            mp_data->LinkUnobserved(items, contents.links);
            contents.links.clear();
        }
        const std::vector<std::pair<int32_t, int32_t>>& links = contents.links;
        for (size_t k = 0; k < links.size(); ++k) {
            // The items lie scattered: asking for those of a later link early overlaps the
            // waits for memory.
            if (k + kLinksAhead < links.size()) {
                __builtin_prefetch(items[static_cast<size_t>(links[k + kLinksAhead].first)]);
                __builtin_prefetch(items[static_cast<size_t>(links[k + kLinksAhead].second)]);
            }
            Item* a = items[static_cast<size_t>(links[k].first)];
            Item* b = items[static_cast<size_t>(links[k].second)];
            if (!a || !b || a == b || a->IsRemoved() || b->IsRemoved())
                continue;
            try {
                a->Connect(b);
            } catch (NotRelatedException* e) {
                delete e;
            }
        }
    }
    EmitDataLoaded();
    return LoadResult::Loaded;
}

// ---------------------------------------------------------------- field functions

template <>
void WriteType<bool>(QFile& file, bool value)
{
    const char b = value ? 1 : 0;
    if (file.write(&b, 1) != 1)
        throw DataSaveFailure();
}

template <>
void WriteType<int>(QFile& file, int value)
{
    char b[4];
    PutInt(b, value);
    if (file.write(b, 4) != 4)
        throw DataSaveFailure();
}

template <>
void ReadType<int>(QFile& file, int& value)
{
    char b[4];
    if (file.read(b, 4) != 4)
        throw DataLoadFailure();
    value = GetInt(b);
}

void WriteString(QFile& file, const std::string& value)
{
    if (value.size() > static_cast<size_t>(INT_MAX))
        throw DataSaveFailure();
    WriteType<int>(file, static_cast<int>(value.size()));
    if (!value.empty() && file.write(value.data(), static_cast<qint64>(value.size())) != static_cast<qint64>(value.size()))
        throw DataSaveFailure();
}

void ReadString(QFile& file, std::string& value)
{
    int n;
    ReadType<int>(file, n);
    if (n < 0 || n > file.size() - file.pos())
        throw DataLoadFailure();
    std::string bytes(static_cast<size_t>(n), '\0');
    if (n > 0 && file.read(&bytes[0], n) != n)
        throw DataLoadFailure();
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos)
        bytes.resize(nul);
    value.swap(bytes);
}
