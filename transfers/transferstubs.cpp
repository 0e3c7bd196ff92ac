// Operations of the transfer engine that do nothing yet; each goes once it is built in its own file.
#include "transfers/transferqueuemanager.h"

// ---------------------------------------------------------------- negotiation

void TransferQueueManager::OnFileTransferRequest(QString, int, uint, std::string, qint64) {}
void TransferQueueManager::OnFileConnection(QString, QTcpSocket*, uint) {}
void TransferQueueManager::OnFileConnectionAccepted(QString, QTcpSocket*) {}
void TransferQueueManager::OnFileTransferResponse(QString, uint, bool, bool, qint64, QString) {}

// ---------------------------------------------------------------- download queue and life cycle

ItemPtr TransferQueueManager::AddDownload(QString, std::string, std::string, qint64, int) { return ItemPtr(); }
ItemPtr TransferQueueManager::GetDownloadEntry(QString, std::string, std::string) { return ItemPtr(); }
void TransferQueueManager::SetDownloadEntryStatus(ItemPtr, QString) {}
void TransferQueueManager::RequeueDownload(ItemPtr) {}
void TransferQueueManager::RequeueUserDownloads(ItemPtr) {}
void TransferQueueManager::QueueDownloadIfUserOnline(ItemPtr) {}
void TransferQueueManager::RequestDownloadPlaceInLine(ItemPtr) {}
bool TransferQueueManager::IsActivelyDownloadingFromUser(QString) { return false; }
void TransferQueueManager::RemoveDownload(ItemPtr) {}
void TransferQueueManager::OnUserOnline(ItemPtr) {}
void TransferQueueManager::OnQueueDownloadRequested(QString, std::string, qint64) {}
void TransferQueueManager::OnUploadFailedNotification(QString, std::string) {}
void TransferQueueManager::OnUploadDeniedNotification(QString, std::string, QString) {}
void TransferQueueManager::OnDownloadPlaceInLine(QString, std::string, int) {}
void TransferQueueManager::OnDownloadError(QString) {}
void TransferQueueManager::OnDownloadComplete() {}
void TransferQueueManager::OnUserShare(QString, FileInfoMap&, AttributeTranslationTable&) {}

// ---------------------------------------------------------------- download folders and paths

QString TransferQueueManager::GetDownloadTargetFolder(ItemPtr, bool) { return QString(); }
QString TransferQueueManager::GetDownloadTargetPath(ItemPtr, bool) { return QString(); }
QString TransferQueueManager::GetDownloadRelativeDownloadFolder(ItemPtr) { return QString(); }
bool TransferQueueManager::DoesDownloadItemCompleteFilenameExist(ItemPtr) { return false; }
void TransferQueueManager::RemoveDownloadDownloadingFolderIfAppropriate(ItemPtr) {}

// ---------------------------------------------------------------- upload queue, acceptance, ordering

void TransferQueueManager::OnQueueUploadRequested(QString, QString) {}
void TransferQueueManager::AddUpload(QString, QString) {}
bool TransferQueueManager::CanAcceptUserInitiatedUploadsFrom(QString) { return false; }
bool TransferQueueManager::UploadEntrySortCompare(ItemPtr, ItemPtr) { return false; }
int TransferQueueManager::GetUserGroupDownloadPriority(QString) { return 0; }
void TransferQueueManager::OrderNewUpload(ItemPtr) {}
void TransferQueueManager::DetermineUploadsEffectiveOrder() {}
void TransferQueueManager::StartNewUploads() {}

// ---------------------------------------------------------------- upload life cycle

void TransferQueueManager::SetUploadEntryStatus(ItemPtr, QString) {}
void TransferQueueManager::RemoveUpload(ItemPtr) {}
void TransferQueueManager::UnshareUser(QString) {}
void TransferQueueManager::ReshareUser(QString) {}
void TransferQueueManager::OnUploadError() {}
void TransferQueueManager::OnUploadComplete() {}
void TransferQueueManager::OnUploadPlaceInLineRequested(QString, QString) {}

// ---------------------------------------------------------------- half-minute sweep

void TransferQueueManager::EveryHalfMinute() {}
