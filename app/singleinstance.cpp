#include "app/singleinstance.h"

#include <QDir>

#include <unistd.h>

SingleInstance::SingleInstance(const QString& applicationId)
    : m_lock(new QLockFile(lockFilePath(applicationId)))
{
    // A running owner can hold the lock for days; only a dead owner makes it stale.
    m_lock->setStaleLockTime(0);
    m_owner = m_lock->tryLock(0);
}

SingleInstance::~SingleInstance()
{
    if (m_owner)
        m_lock->unlock();
}

QString SingleInstance::lockFilePath(const QString& applicationId)
{
    // The temporary folder may be shared by every user of the machine; the user id keeps
    // one login's instance from blocking another's.
    return QDir(QDir::tempPath()).filePath(QStringLiteral("%1-%2.lock").arg(applicationId).arg(getuid()));
}
