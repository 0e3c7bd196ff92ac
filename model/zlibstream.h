// Compressed message bodies: one zlib stream (RFC 1950) with no size in front of it.
#pragma once

#include "model/stream.h"

#include <cstddef>
#include <string>

// The most a received compressed body may expand to. A 10 MiB frame of zeros inflates to about
// ten gigabytes; an honest share list of 131072 folders is far below this.
constexpr size_t kMaxInflatedSize = 256u * 1024 * 1024;

// Appends the zlib stream of the n bytes at data, compressed at the level (9 unless a test asks
// otherwise), to out. On failure nothing is appended and the result is false.
bool CompressTo(const char* data, size_t n, OutputStream& out, int level = 9);

enum class InflateResult { Inflated, Damaged, TooLarge, OutOfMemory };

// Inflates the zlib stream in the n bytes at data into out, piece by piece, never holding more
// than cap bytes of output. Anything but a complete stream within the cap leaves out empty.
// Bytes behind the end of the stream are ignored.
InflateResult Inflate(const char* data, size_t n, std::string& out, size_t cap = kMaxInflatedSize);

// Reads a byte buffer that someone else owns; it must outlive the reader.
class BufferReader : public InputStream
{
public:
    BufferReader(const char* data, size_t n) : mp_data(data), m_size(n) {}
    explicit BufferReader(const std::string& bytes) : BufferReader(bytes.data(), bytes.size()) {}

    bool ReadBuffer(void* p, size_t n) override;
    size_t Remaining() const { return m_size - m_position; }

private:
    const char* mp_data;
    size_t m_size;
    size_t m_position = 0;
};
