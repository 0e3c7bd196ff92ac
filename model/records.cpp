#include "model/records.h"

bool UserStats::Read(InputStream& stream)
{
    return stream.Read(averageSpeed) && stream.Read(downloadCount) && stream.Read(sharedFiles) &&
           stream.Read(sharedFolders);
}

bool UserStats::Write(OutputStream& stream) const
{
    return stream.Write(averageSpeed) && stream.Write(downloadCount) && stream.Write(sharedFiles) &&
           stream.Write(sharedFolders);
}

bool AttributeMap::Read(InputStream& stream)
{
    return stream.Read(extension) && stream.Read(attributes);
}

bool AttributeMap::Write(OutputStream& stream) const
{
    return stream.Write(extension) && stream.Write(attributes);
}

bool FileInfo::Read(InputStream& stream)
{
    uint8_t present;
    if (!stream.Read(present))
        return false;
    // An absent record is an empty one, whatever this object held before.
    if (present == 0) {
        *this = FileInfo();
        return true;
    }
    return stream.Read(name) && stream.Read(size) && attributes.Read(stream);
}

bool FileInfo::Write(OutputStream& stream) const
{
    return stream.Write(uint8_t(1)) && stream.Write(name) && stream.Write(size) && attributes.Write(stream);
}

bool SharedFolderInfo::Read(InputStream& stream)
{
    uint32_t trailer;
    return stream.Read(files) && stream.Read(trailer);
}

bool SharedFolderInfo::Write(OutputStream& stream) const
{
    return stream.Write(files) && stream.Write(uint32_t(0));
}
