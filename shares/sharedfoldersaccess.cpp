// Who may see which shared folders, and the share list and folder contents built under that rule.
#include "shares/sharedfoldersmanager.h"

#include "model/helpers.h"
#include "model/log.h"
#include "model/zlibstream.h"
#include "peer/peermessenger.h"
#include "shares/sharedfileitems.h"

#include <cstdlib>

SharedFileTypes::SharedFileTypes()
    : sharedFolder(d.GetType("shared_folder")),
      folder(d.GetType("shared_file_folder")),
      file(d.GetType("shared_file")),
      name(d.GetType("shared_file_name")),
      size(d.GetType("shared_file_size")),
      bitrate(d.GetType("bitrate")),
      bitrateMode(d.GetType("bitrate_mode"))
{
}

namespace {

// A decimal value of our own making, read without a detour through a temporary buffer.
long long NumberOf(const Item* item)
{
    return item ? std::strtoll(item->GetValue().str().c_str(), nullptr, 10) : 0;
}

}  // namespace

FileInfo MakeFileInfo(const SharedFileTypes& t, const Item* file, std::string name, bool withAttributes)
{
    FileInfo info(std::move(name), NumberOf(FirstNeighbour(file, t.size)));
    if (!withAttributes)
        return info;
    const Item* nameItem = FirstNeighbour(file, t.name);
    if (!nameItem || GetFileExtension(nameItem->GetValue().str()) != "mp3")
        return info;
    info.attributes.extension = "mp3";
    if (const Item* bitrate = FirstNeighbour(file, t.bitrate))
        info.attributes.Add(0, static_cast<uint32_t>(NumberOf(bitrate)));
    if (const Item* mode = FirstNeighbour(file, t.bitrateMode))
        info.attributes.Add(2, mode->GetValue().str() == "vbr" ? 1 : 0);
    return info;
}

bool MakeCompressedMessage(uint32_t code, const MemStream& body, MemStream& message, const QString& category)
{
    message.Clear();
    message.Write(code);
    if (CompressTo(body.GetBuffer(), body.GetWriteIndex(), message))
        return true;
    Log(category, 1, QString("Could not compress a message of %1 bytes, not sending it").arg(body.GetWriteIndex()));
    message.Clear();
    return false;
}

namespace {

// Local folder paths go out with backslashes.
std::string WirePath(const std::string& path)
{
    return StringReplace(path, "/", "\\");
}

void AddFoldersOf(ItemSet& out, Type* flagType, Type* sharedFolder)
{
    for (const ItemPtr& flag : flagType->GetItems())
        if (const NeighbourSet* folders = flag->Links(sharedFolder))
            out.insert(folders->begin(), folders->end());
}

}  // namespace

ItemSet SharedFoldersManager::GetUserSharedFolders(const QString& user)
{
    ItemPtr userItem = d.GetType("user")->HasItem(user);
    if (userItem && userItem.IsConnected("unshared"))
        return ItemSet();
    Type* sharedFolder = d.GetType("shared_folder");
    ItemSet folders;
    AddFoldersOf(folders, d.GetType("shared_public"), sharedFolder);
    if (!userItem)
        return folders;
    if (ItemPtr listed = userItem["in_user_list"]) {
        AddFoldersOf(folders, d.GetType("shared_userlist"), sharedFolder);
        for (const ItemPtr& group : listed.GetItems("user_list_group"))
            if (const NeighbourSet* given = group->Links(sharedFolder))
                folders.insert(given->begin(), given->end());
    }
    return folders;
}

bool SharedFoldersManager::IsFileSharedWithUser(ItemPtr file, const QString& user)
{
    ItemPtr userItem = d.GetType("user")->HasItem(user);
    if (userItem && userItem.IsConnected("unshared"))
        return false;
    if (!file)
        return false;
    const ItemSet folders = file["shared_file_folder"].GetItems("shared_folder");
    for (const ItemPtr& folder : folders)
        if (folder.IsConnected("shared_public"))
            return true;
    ItemPtr listed = userItem ? userItem["in_user_list"] : ItemPtr();
    if (!listed)
        return false;
    for (const ItemPtr& folder : folders)
        if (folder.IsConnected("shared_userlist"))
            return true;
    return !folders.GetItems("user_list_group").Common(listed.GetItems("user_list_group")).empty();
}

void SharedFoldersManager::GetSharedFilesAsUserShare(const QString& user, FileInfoMap& files,
                                                     AttributeTranslationTable& table)
{
    Q_UNUSED(table);
    const SharedFileTypes t;
    const ItemSet directories = GetUserSharedFolders(user).GetItems("shared_file_folder");
    for (const ItemPtr& directory : directories) {
        std::set<FileInfo>& entries = files[WirePath(directory.AsStdString())];
        const NeighbourSet* dirFiles = directory->Links(t.file);
        if (!dirFiles)
            continue;
        for (const ItemPtr& file : *dirFiles) {
            const Item* name = FirstNeighbour(file.get(), t.name);
            entries.insert(MakeFileInfo(t, file.get(), name ? name->GetValue().str() : std::string(), true));
        }
    }
}

MemStream SharedFoldersManager::GetSharedFilesMessage(const QString& user)
{
    Log("Shared", 1, QString("Shared file list requested by user %1").arg(user));
    FileInfoMap files;
    AttributeTranslationTable table;
    GetSharedFilesAsUserShare(user, files, table);
    MemStream body;
    body.Write(files);
    body.Write(table);
    MemStream message;
    MakeCompressedMessage(5, body, message, "Shared");
    return message;
}

void SharedFoldersManager::OnFilesInFoldersRequested(QString i_user, quint32 i_req, QString i_folder)
{
    MemStream message = GetFilesInFolderMessage(i_user, i_req, i_folder);
    if (message.GetWriteIndex() > 0 && peerMessenger)
        peerMessenger->SendMessage(i_user, message);
}

MemStream SharedFoldersManager::GetFilesInFolderMessage(const QString& i_user, quint32 i_req, const QString& i_folder)
{
    MemStream body;
    body.Write(i_req);
    body.Write(i_folder);

    SharedFolderInfo contents;
    // Looked up, never created: the path is the peer's word, and an item made for every path a
    // peer invents would be counted as a shared folder at the next login.
    const QString local = QString(i_folder).replace('\\', '/');
    if (ItemPtr directory = d.GetType("shared_file_folder")->HasItem(local)) {
        const ItemSet visible = GetUserSharedFolders(i_user);
        if (!ItemSet(directory).Connected(visible).empty()) {
            const SharedFileTypes t;
            if (const NeighbourSet* dirFiles = directory->Links(t.file))
                for (const ItemPtr& file : *dirFiles) {
                    const Item* name = FirstNeighbour(file.get(), t.name);
                    contents.files.insert(
                        MakeFileInfo(t, file.get(), name ? name->GetValue().str() : std::string(), false));
                }
        }
    }
    body.Write(uint32_t(1));
    body.Write(i_folder);
    body.Write(contents);

    MemStream message;
    MakeCompressedMessage(37, body, message, "Shared");
    return message;
}

void SharedFoldersManager::RemoveUserShare(const QString& user)
{
    ItemPtr userItem = d.GetType("user")->HasItem(user);
    ItemPtr share = userItem ? userItem["user_share"] : ItemPtr();
    if (!share)
        return;
    ItemSet folders = share.GetItems("user_share_folder");
    folders.GetItems("user_share_file").Remove();
    folders.Remove();
    share.Remove();
    d.RemoveDisconnectedItems();
}

QString SharedFoldersManager::GetFileItemDisplayString(ItemPtr item)
{
    QString text;
    if (!item)
        return text;
    if (ItemPtr bitrate = item["bitrate"])
        text += QString::number(bitrate.AsInt());
    if (ItemPtr mode = item["bitrate_mode"]) {
        if (mode.AsStdString() == "vbr")
            text += " VBR";
        else if (mode.AsStdString() == "cbr")
            text += " CBR";
    }
    if (ItemPtr length = item["length_seconds"])
        text += ", " + FormatSeconds(length.AsInt64());
    return text;
}
