// Reading the shared-file items when building what goes to other users.
#pragma once

#include "model/data.h"
#include "model/records.h"
#include "model/stream.h"

#include <QString>

#include <string>

// The types a walk over the shared files touches, looked up once per walk instead of once per
// item.
struct SharedFileTypes
{
    SharedFileTypes();

    Type* sharedFolder;
    Type* folder;       // shared_file_folder
    Type* file;         // shared_file
    Type* name;         // shared_file_name
    Type* size;         // shared_file_size
    Type* bitrate;
    Type* bitrateMode;
};

// The neighbour of a type, or null.
inline Item* FirstNeighbour(const Item* item, Type* type)
{
    const NeighbourSet* s = item->Links(type);
    return s ? s->begin()->get() : nullptr;
}

// The record of one shared file: its name (as given), size and, for an mp3 file, the extension
// with the bitrate and mode the scan found.
FileInfo MakeFileInfo(const SharedFileTypes& t, const Item* file, std::string name, bool withAttributes);

// The message of the code followed by the zlib stream of the body. False when compression
// failed; the failure is logged under the category and the message is left empty.
bool MakeCompressedMessage(uint32_t code, const MemStream& body, MemStream& message, const QString& category);
