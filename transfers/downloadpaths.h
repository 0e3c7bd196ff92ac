// Where a download lives on this machine. Folder texts use "\" as separator throughout (the base
// folder's "/" included); every file operation turns them into "/" first (DownloadLocalPath).
//
// Names and folders come from peers, so every component taken from them is made safe before it
// becomes part of a local path: the stored names stay byte for byte as the peer sent them (peers
// match on them), only the local path is cleaned.
#pragma once

#include <QString>

#include <string>

// One component from a peer made safe: control characters (NUL included) go, "/" and "\" become
// "_", and what is then empty, "." or ".." becomes "_".
QString SafeDownloadComponent(const QString& name);

// The last level + 1 components of the remote folder, each made safe and preceded by "\";
// one trailing separator ("\" or "/") is ignored. A level beyond the folder's depth keeps the
// whole folder. Empty for an empty folder.
QString KeptRemoteFolder(const QString& remoteFolder, int level);

// base (with "/" turned into "\") + "\complete" or "\downloading" + the kept remote folder.
QString DownloadFolderText(const QString& base, bool complete, const QString& remoteFolder, int level);

// A folder text as a local path: every "\" becomes "/".
QString DownloadLocalPath(const QString& text);

// Whether the local path lies strictly below the local folder once both are cleaned of "."
// and ".." components.
bool LiesInsideFolder(const QString& folder, const QString& path);

// The first of "name (1).ext", "name (2).ext", ... that does not exist in the local folder;
// empty when none up to 9999 is free.
QString FreeFileName(const QString& folder, const QString& name);
