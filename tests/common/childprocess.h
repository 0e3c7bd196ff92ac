// A QProcess whose child dies with this process. A test that runs out of time is killed alone;
// a child left behind keeps its ports and folders, and holds the test runner's output pipe, so
// the runner waits on it.
#pragma once

#include <QFile>
#include <QList>
#include <QProcess>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

class ChildProcess : public QProcess
{
public:
    explicit ChildProcess(QObject* parent = nullptr) : QProcess(parent) {}

protected:
    // Runs in the child between fork and exec, so only async-signal-safe calls.
    void setupChildProcess() override
    {
        // The signal comes when the forking thread ends, not the process; the tests start
        // their children from the main thread, so both are the same.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        // A parent that died before the line above has already handed the child to another.
        if (::getppid() != m_parent)
            ::_exit(127);
    }

private:
    const pid_t m_parent = ::getpid();
};

// What the stat file of a process tells after its name, which may hold anything: its state
// first, then its parent, and so on. Empty once it has been reaped.
inline QList<QByteArray> ProcessStat(const QString& pid)
{
    QFile stat("/proc/" + pid + "/stat");
    const QByteArray line = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
    return line.isEmpty() ? QList<QByteArray>() : line.mid(line.lastIndexOf(')') + 2).split(' ');
}
