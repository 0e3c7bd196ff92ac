#include "ui/users/userinforeply.h"

#include "model/log.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "transfers/transferqueuemanager.h"

#include <QFile>
#include <QFileInfo>

namespace {

const char* const kCategory = "Peer Messenger";

// The setting's text as UTF-8, up to its first zero byte and within what a receiver takes, cut
// before a character that would not fit whole.
QByteArray DescriptionBytes()
{
    QByteArray bytes = GetSetting("user_description").toUtf8();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    if (bytes.size() > kMaxUserDescriptionBytes) {
        int end = kMaxUserDescriptionBytes;
        // A continuation byte (10xxxxxx) at the cut belongs to a character begun before it.
        while (end > 0 && (static_cast<unsigned char>(bytes[end]) & 0xC0) == 0x80)
            --end;
        bytes.truncate(end);
    }
    return bytes;
}

// The picture file's whole content, when it is a regular file of at most i_room bytes and reads
// whole; false otherwise, with the reason logged for a file that is there but refused.
bool ReadPicture(qint64 i_room, QByteArray& o_bytes)
{
    const QString path = GetSetting("user_picture_file");
    if (path.isEmpty())
        return false;
    // Checked before opening: a pipe or a device would block or never end.
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    if (!info.isFile()) {
        Log(kCategory, 1, QString("User info picture %1 left out: not a regular file").arg(path));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size > i_room) {
        Log(kCategory, 1,
            QString("User info picture %1 left out: its %2 bytes do not fit in one message").arg(path).arg(size));
        return false;
    }
    o_bytes = file.read(size);
    return o_bytes.size() == size;
}

}  // namespace

MemStream MakeUserInfoReply()
{
    MemStream message;
    message.Write(static_cast<uint32_t>(16));
    message.Write(DescriptionBytes());

    // Beside the picture the frame holds what came before, the flag byte, the picture's length
    // and the three figures; a receiver refuses a longer frame whole.
    const qint64 room = qint64(PeerMessenger::kMaxFrameLength) - qint64(message.GetWriteIndex()) - 1 - 4 - 9;
    QByteArray picture;
    if (ReadPicture(room, picture)) {
        message.Write(static_cast<uint8_t>(1));
        message.Write(picture);
    } else {
        message.Write(static_cast<uint8_t>(0));
    }

    message.Write(static_cast<uint32_t>(GetSettingInt("upload_slots")));
    message.Write(static_cast<uint32_t>(transferQueueManager ? transferQueueManager->QueuedUploadCount() : 0));
    message.Write(static_cast<uint8_t>(transferQueueManager && transferQueueManager->IsFreeToUpload() ? 1 : 0));
    return message;
}
