#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// Guarantees one running instance per application id and user login. The first instance
// holds a lock file in the temporary folder for as long as it lives; a later start finds
// the lock taken and steps aside. A lock left behind by a crashed instance is taken over,
// since the lock file records the owner's process id.
class SingleInstance
{
public:
    explicit SingleInstance(const QString& applicationId);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when another instance with the same id holds the lock.
    bool isRunning() const { return !m_owner; }

    // The lock file used for an id; exposed for tests.
    static QString lockFilePath(const QString& applicationId);

private:
    std::unique_ptr<QLockFile> m_lock;
    bool m_owner = false;
};
