// Byte streams in which every wire message is built and taken apart.
//
// All integers are little-endian. Strings are a u32 byte count and the bytes; lists, sets and
// maps are a u32 element count and the elements; a pair is its two members in order.
// Reads return false on a short or refused read and never throw.
#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class InputStream;
class OutputStream;

// Largest string (in bytes) and container (in elements) a reader accepts: the only bound on what
// a peer or the server can make us allocate per field.
constexpr uint32_t kMaxStreamCount = 131072;

// A record that knows how to read itself.
class StreamReadable
{
public:
    virtual bool Read(InputStream& stream) = 0;

protected:
    ~StreamReadable() = default;
};

// A record that knows how to write itself.
class StreamWritable
{
public:
    virtual bool Write(OutputStream& stream) const = 0;

protected:
    ~StreamWritable() = default;
};

class InputStream
{
public:
    virtual ~InputStream() = default;
    // Copies exactly n bytes, or none and returns false when fewer remain.
    virtual bool ReadBuffer(void* p, size_t n) = 0;

    // Fixed-size integers, bools and enums: as many bytes as the type has.
    template <typename T>
    typename std::enable_if<std::is_integral<T>::value || std::is_enum<T>::value, bool>::type Read(T& v)
    {
        unsigned char bytes[sizeof(T)];
        if (!ReadBuffer(bytes, sizeof bytes))
            return false;
        uint64_t u = 0;
        for (size_t i = 0; i < sizeof(T); ++i)
            u |= static_cast<uint64_t>(bytes[i]) << (8 * i);
        if constexpr (std::is_same<T, bool>::value)
            v = u != 0;
        else
            v = static_cast<T>(u);
        return true;
    }
    // Floating point has no wire form here; refuse it rather than convert silently.
    template <typename T>
    typename std::enable_if<std::is_floating_point<T>::value, bool>::type Read(T& v) = delete;

    // UTF-8 text; bytes that are not valid UTF-8 go through the user's code page.
    bool Read(QString& v);
    // Raw bytes, kept up to the first NUL.
    bool Read(std::string& v);
    bool Read(StreamReadable& record) { return record.Read(*this); }

    template <typename T>
    bool Read(std::list<T>& out)
    {
        return ReadElements(out, [&out](T&& e) { out.push_back(std::move(e)); });
    }
    template <typename T>
    bool Read(std::vector<T>& out)
    {
        return ReadElements(out, [&out](T&& e) { out.push_back(std::move(e)); });
    }
    template <typename T>
    bool Read(std::set<T>& out)
    {
        return ReadElements(out, [&out](T&& e) { out.insert(std::move(e)); });
    }
    // A repeated key keeps the later value.
    template <typename K, typename V>
    bool Read(std::map<K, V>& out)
    {
        return ReadElements<std::pair<K, V>>(out, [&out](std::pair<K, V>&& e) {
            out[std::move(e.first)] = std::move(e.second);
        });
    }

    template <typename A, typename B>
    bool Read(std::pair<A, B>& out)
    {
        return Read(out.first) && Read(out.second);
    }

    // Reads a u32 element count and refuses one above kMaxStreamCount.
    bool ReadCount(uint32_t& n);

private:
    // Empties the container, then reads the count and that many elements, handing each to
    // add. Stops at the first element that fails; those read so far stay. Nothing is reserved
    // from the count: it is the sender's word, the elements are what actually arrived.
    template <typename E, typename C, typename Add>
    bool ReadElements(C& out, Add add)
    {
        out.clear();
        uint32_t n;
        if (!ReadCount(n))
            return false;
        for (uint32_t k = 0; k < n; ++k) {
            E e{};
            if (!Read(e))
                return false;
            add(std::move(e));
        }
        return true;
    }
    template <typename C, typename Add>
    bool ReadElements(C& out, Add add)
    {
        return ReadElements<typename C::value_type>(out, add);
    }
};

class OutputStream
{
public:
    virtual ~OutputStream() = default;
    virtual bool WriteBuffer(const void* p, size_t n) = 0;

    // Fixed-size integers, bools and enums: as many bytes as the type has. A template, so that
    // nothing (a pointer, a double) slips in through an implicit conversion to bool.
    template <typename T>
    typename std::enable_if<std::is_integral<T>::value || std::is_enum<T>::value, bool>::type Write(T v)
    {
        const uint64_t u = static_cast<uint64_t>(v);
        unsigned char bytes[sizeof(T)];
        for (size_t i = 0; i < sizeof(T); ++i)
            bytes[i] = static_cast<unsigned char>(u >> (8 * i));
        return WriteBuffer(bytes, sizeof bytes);
    }
    template <typename T>
    typename std::enable_if<std::is_floating_point<T>::value, bool>::type Write(T v) = delete;

    // The UTF-8 bytes up to the first NUL, with their count.
    bool Write(const QString& v);
    // The bytes as they are, with their count.
    bool Write(const std::string& v);
    bool Write(const char* v) { return Write(std::string(v ? v : "")); }
    bool Write(const QByteArray& v);  // counted, like std::string; raw bytes go through WriteBuffer
    bool Write(const StreamWritable& record) { return record.Write(*this); }

    template <typename T>
    bool Write(const std::list<T>& c)
    {
        return WriteRange(c);
    }
    template <typename T>
    bool Write(const std::vector<T>& c)
    {
        return WriteRange(c);
    }
    template <typename T>
    bool Write(const std::set<T>& c)
    {
        return WriteRange(c);
    }
    template <typename K, typename V>
    bool Write(const std::map<K, V>& c)
    {
        return WriteRange(c);
    }
    template <typename A, typename B>
    bool Write(const std::pair<A, B>& p)
    {
        return Write(p.first) && Write(p.second);
    }

private:
    template <typename C>
    bool WriteRange(const C& c)
    {
        if (!Write(static_cast<uint32_t>(c.size())))
            return false;
        for (const auto& e : c)
            if (!Write(e))
                return false;
        return true;
    }
};

// A reference-counting pointer. The counter is a plain int: a pointer and its copies belong to
// one thread.
template <typename T>
class rcptr
{
public:
    rcptr() = default;
    explicit rcptr(T* object) : mp_object(object), mp_count(object ? new int(1) : nullptr) {}
    rcptr(const rcptr& o) : mp_object(o.mp_object), mp_count(o.mp_count)
    {
        if (mp_count)
            ++*mp_count;
    }
    rcptr& operator=(const rcptr& o)
    {
        if (this != &o) {
            if (o.mp_count)
                ++*o.mp_count;
            Release();
            mp_object = o.mp_object;
            mp_count = o.mp_count;
        }
        return *this;
    }
    rcptr& operator=(T* object)
    {
        Release();
        mp_object = object;
        mp_count = object ? new int(1) : nullptr;
        return *this;
    }
    ~rcptr() { Release(); }

    T* operator->() const;
    T& operator*() const { return *operator->(); }
    T* get() const { return mp_object; }
    int UseCount() const { return mp_count ? *mp_count : 0; }

private:
    void Release()
    {
        if (mp_count && --*mp_count == 0) {
            delete mp_object;
            delete mp_count;
        }
        mp_object = nullptr;
        mp_count = nullptr;
    }

    T* mp_object = nullptr;
    int* mp_count = nullptr;
};

// A growable in-memory byte buffer that is both a reader and a writer. Copies share one buffer,
// including both positions, so passing a message by value costs a counter increment.
class MemStream : public virtual InputStream, public virtual OutputStream
{
public:
    struct Buffer
    {
        explicit Buffer(size_t size) : m_bufferSize(size), mp_data(new char[size]) {}
        ~Buffer() { delete[] mp_data; }
        Buffer(const Buffer&) = delete;
        Buffer& operator=(const Buffer&) = delete;

        size_t m_readIndex = 0;
        size_t m_writeIndex = 0;
        size_t m_bufferSize;
        char* mp_data;
    };

    MemStream();
    ~MemStream() override = default;

    using InputStream::Read;
    using OutputStream::Write;

    bool ReadBuffer(void* p, size_t n) override;
    // Appends; always succeeds unless the size would overflow.
    bool WriteBuffer(const void* p, size_t n) override;

    // For an empty stream: makes the capacity at least size (the contents are not kept).
    void EnsureBufferCapacity(int size);
    // Accounts for n bytes the caller put at GetWriteBuffer(); must stay within the capacity.
    void AdvanceWriteIndex(int n);
    char* GetWriteBuffer() const { return mp_buffer->mp_data + mp_buffer->m_writeIndex; }
    const char* GetReadBuffer() const { return mp_buffer->mp_data + mp_buffer->m_readIndex; }
    size_t GetPendingReadLength() const { return mp_buffer->m_writeIndex - mp_buffer->m_readIndex; }
    void Clear() { mp_buffer->m_readIndex = mp_buffer->m_writeIndex = 0; }

    // The whole content: the bytes from 0 up to the write position, whatever the read position.
    const char* GetBuffer() const { return mp_buffer->mp_data; }
    size_t GetWriteIndex() const { return mp_buffer->m_writeIndex; }
    size_t GetReadIndex() const { return mp_buffer->m_readIndex; }
    size_t GetBufferSize() const { return mp_buffer->m_bufferSize; }
    QByteArray ToByteArray() const { return QByteArray(GetBuffer(), static_cast<int>(GetWriteIndex())); }
    // Unread bytes are skipped over (at most what is there); returns the count skipped.
    size_t Skip(size_t n);

private:
    rcptr<Buffer> mp_buffer;
};

template <typename T>
T* rcptr<T>::operator->() const
{
    Q_ASSERT_X(mp_object, "rcptr", "dereferencing a null pointer");
    return mp_object;
}
