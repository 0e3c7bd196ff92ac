// Records that travel inside server and peer messages and know their own wire form.
#pragma once

#include "model/stream.h"

#include <QMetaType>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

// Read first, then write: the order of the two bases is part of the record's shape.
class Persistent : public StreamReadable, public StreamWritable
{
protected:
    ~Persistent() = default;
};

// A user's statistics: u32 average speed, u64 count, u32 shared files, u32 shared folders.
class UserStats : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    int32_t averageSpeed = 0;
    uint64_t downloadCount = 0;
    int32_t sharedFiles = 0;
    uint32_t sharedFolders = 0;
};

// A file's extension and its attributes as (code, value) pairs in the order received.
// Codes this client sends: 0 bitrate, 1 length in seconds, 2 variable bitrate (1) or not (0).
class AttributeMap : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;
    void Add(uint32_t code, uint32_t value) { attributes.emplace_back(code, value); }

    std::string extension;
    std::vector<std::pair<uint32_t, uint32_t>> attributes;
};

// One file of a share list. Ordered by name (byte order), then by size.
class FileInfo : public Persistent
{
public:
    FileInfo() = default;
    FileInfo(std::string n, int64_t s) : name(std::move(n)), size(s) {}
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;
    bool operator<(const FileInfo& o) const { return name < o.name || (name == o.name && size < o.size); }

    std::string name;
    int64_t size = 0;
    AttributeMap attributes;
};

// The files of one folder: u32 count, the files in set order, u32 0.
class SharedFolderInfo : public Persistent
{
public:
    bool Read(InputStream& stream) override;
    bool Write(OutputStream& stream) const override;

    std::set<FileInfo> files;
};

// The two parts of a share list: folder path (backslash form) to its files, and a table this
// client never fills.
typedef std::map<std::string, std::set<FileInfo>> FileInfoMap;
typedef std::map<int, std::string> AttributeTranslationTable;

Q_DECLARE_METATYPE(UserStats)
