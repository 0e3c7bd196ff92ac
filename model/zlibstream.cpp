#include "model/zlibstream.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

bool CompressTo(const char* data, size_t n, OutputStream& out, int level)
{
    if (n > std::numeric_limits<uLong>::max())
        return false;
    uLongf length = compressBound(static_cast<uLong>(n));
    std::vector<Bytef> buffer;
    try {
        buffer.resize(length);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (compress2(buffer.data(), &length, reinterpret_cast<const Bytef*>(data), static_cast<uLong>(n), level) != Z_OK)
        return false;
    return out.WriteBuffer(buffer.data(), length);
}

InflateResult Inflate(const char* data, size_t n, std::string& out, size_t cap)
{
    out.clear();
    z_stream z;
    memset(&z, 0, sizeof z);
    if (inflateInit(&z) != Z_OK)
        return InflateResult::OutOfMemory;

    // zlib counts input in uInt; feed larger inputs in slices.
    const size_t sliceLimit = std::numeric_limits<uInt>::max();
    size_t consumed = 0;
    int status = Z_OK;
    InflateResult result = InflateResult::Damaged;
    try {
        // A first guess from the input keeps small bodies to one or two allocations; the output
        // then doubles, never past the cap.
        out.resize(std::min(cap, std::max<size_t>(4096, n * 4)));
        size_t produced = 0;
        for (;;) {
            if (produced == out.size()) {
                if (out.size() >= cap) {
                    result = InflateResult::TooLarge;
                    break;
                }
                out.resize(std::min(cap, out.size() * 2));
            }
            if (z.avail_in == 0 && consumed < n) {
                const size_t slice = std::min(n - consumed, sliceLimit);
                z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + consumed));
                z.avail_in = static_cast<uInt>(slice);
                consumed += slice;
            }
            const size_t room = std::min(out.size() - produced, sliceLimit);
            z.next_out = reinterpret_cast<Bytef*>(&out[produced]);
            z.avail_out = static_cast<uInt>(room);
            status = inflate(&z, Z_NO_FLUSH);
            produced += room - z.avail_out;
            if (status == Z_STREAM_END) {
                out.resize(produced);
                result = InflateResult::Inflated;
                break;
            }
            if (status == Z_MEM_ERROR) {
                result = InflateResult::OutOfMemory;
                break;
            }
            // A data or dictionary error, or the input used up before the stream ended.
            if (status != Z_OK && status != Z_BUF_ERROR)
                break;
            if (z.avail_out != 0 && z.avail_in == 0 && consumed == n)
                break;
        }
    } catch (const std::bad_alloc&) {
        result = InflateResult::OutOfMemory;
    }
    inflateEnd(&z);
    if (result != InflateResult::Inflated) {
        out.clear();
        out.shrink_to_fit();
    }
    return result;
}

bool BufferReader::ReadBuffer(void* p, size_t n)
{
    if (m_size - m_position < n)
        return false;
    if (n > 0)
        memcpy(p, mp_data + m_position, n);
    m_position += n;
    return true;
}
