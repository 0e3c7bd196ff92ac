#include "model/stream.h"

#include "model/data.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Reads a counted byte string; on success out holds the bytes up to the first NUL.
bool ReadCountedBytes(InputStream& stream, std::string& out)
{
    uint32_t n;
    if (!stream.Read(n))
        return false;
    if (n > kMaxStreamCount)
        return false;
    // The cap above bounds this allocation, whatever the sender claims.
    std::string bytes(n, '\0');
    if (n > 0 && !stream.ReadBuffer(&bytes[0], n))
        return false;
    const size_t nul = bytes.find('\0');
    if (nul != std::string::npos)
        bytes.resize(nul);
    out.swap(bytes);
    return true;
}

}  // namespace

bool InputStream::ReadCount(uint32_t& n)
{
    uint32_t count;
    if (!Read(count))
        return false;
    // Unsigned: a count of 2^31 or more is as much a lie as 131073.
    if (count > kMaxStreamCount)
        return false;
    n = count;
    return true;
}

bool InputStream::Read(std::string& v)
{
    return ReadCountedBytes(*this, v);
}

bool InputStream::Read(QString& v)
{
    std::string bytes;
    if (!ReadCountedBytes(*this, bytes))
        return false;
    const QByteArray raw = QByteArray::fromRawData(bytes.data(), static_cast<int>(bytes.size()));
    QString text = QString::fromUtf8(raw);
    // Bytes that do not survive a round trip were not UTF-8: an older peer writing its code page.
    if (text.toUtf8() != raw)
        text = ToQString(bytes);
    v = text;
    return true;
}

bool OutputStream::Write(const QString& v)
{
    QByteArray bytes = v.toUtf8();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (!Write(static_cast<uint32_t>(bytes.size())))
        return false;
    return WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool OutputStream::Write(const std::string& v)
{
    if (!Write(static_cast<uint32_t>(v.size())))
        return false;
    return WriteBuffer(v.data(), v.size());
}

bool OutputStream::Write(const QByteArray& v)
{
    if (!Write(static_cast<uint32_t>(v.size())))
        return false;
    return WriteBuffer(v.constData(), static_cast<size_t>(v.size()));
}

MemStream::MemStream() : mp_buffer(new Buffer(256))
{
}

bool MemStream::ReadBuffer(void* p, size_t n)
{
    Buffer* b = mp_buffer.get();
    if (b->m_writeIndex - b->m_readIndex < n)
        return false;
    if (n > 0)
        memcpy(p, b->mp_data + b->m_readIndex, n);
    b->m_readIndex += n;
    return true;
}

bool MemStream::WriteBuffer(const void* p, size_t n)
{
    Buffer* b = mp_buffer.operator->();
    if (n > std::numeric_limits<size_t>::max() / 4 - b->m_writeIndex)
        return false;
    const size_t needed = b->m_writeIndex + n;
    // Strictly greater: a write always leaves at least one spare byte.
    if (b->m_bufferSize <= needed) {
        size_t size = b->m_bufferSize ? b->m_bufferSize : 1;
        while (size <= needed)
            size *= 2;
        char* data = new char[size];
        if (b->m_writeIndex)
            memcpy(data, b->mp_data, b->m_writeIndex);
        delete[] b->mp_data;
        b->mp_data = data;
        b->m_bufferSize = size;
    }
    if (n > 0)
        memcpy(b->mp_data + b->m_writeIndex, p, n);
    b->m_writeIndex = needed;
    return true;
}

void MemStream::EnsureBufferCapacity(int size)
{
    Buffer* b = mp_buffer.operator->();
    Q_ASSERT_X(b->m_writeIndex == 0, "MemStream::EnsureBufferCapacity", "stream holds bytes");
    if (size <= 0 || static_cast<size_t>(size) <= b->m_bufferSize)
        return;
    char* data = new char[static_cast<size_t>(size)];
    // Keep what is there, so a misuse in a release build loses nothing.
    if (b->m_writeIndex)
        memcpy(data, b->mp_data, b->m_writeIndex);
    delete[] b->mp_data;
    b->mp_data = data;
    b->m_bufferSize = static_cast<size_t>(size);
}

void MemStream::AdvanceWriteIndex(int n)
{
    Buffer* b = mp_buffer.operator->();
    if (n <= 0)
        return;
    Q_ASSERT_X(static_cast<size_t>(n) <= b->m_bufferSize - b->m_writeIndex, "MemStream::AdvanceWriteIndex",
               "beyond the capacity");
    b->m_writeIndex += std::min(static_cast<size_t>(n), b->m_bufferSize - b->m_writeIndex);
}

size_t MemStream::Skip(size_t n)
{
    Buffer* b = mp_buffer.operator->();
    const size_t k = std::min(n, b->m_writeIndex - b->m_readIndex);
    b->m_readIndex += k;
    return k;
}
