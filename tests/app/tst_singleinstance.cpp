// One instance per application id and user: the lock, its release, and locks left by the dead.

#include "app/quitonsignal.h"
#include "app/singleinstance.h"
#include "common/childprocess.h"

#include "savefile.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void longRunningOwnerIsNotStale();
    void lockOfDeadProcessIsTakenOver();
    void signalsBecomeQuit();
    void signalWhileTakingTheLockQuitsCleanly();

private:
    QTemporaryDir m_tmp;
};

void TestSingleInstance::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
    QVERIFY(SingleInstance::lockFilePath("TavrinelQt").startsWith(m_tmp.path()));
}

void TestSingleInstance::longRunningOwnerIsNotStale()
{
    // A second start seeing the first, and the lock's release, are the end-to-end test's.
    SingleInstance first("TavrinelQt");
    QVERIFY(!first.isRunning());
    QVERIFY(!SingleInstance("SomethingElse").isRunning());
    QFile lock(SingleInstance::lockFilePath("TavrinelQt"));
    QVERIFY(lock.open(QIODevice::ReadWrite));
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-2), QFileDevice::FileModificationTime));
    lock.close();
    QVERIFY(SingleInstance("TavrinelQt").isRunning());
}

void TestSingleInstance::lockOfDeadProcessIsTakenOver()
{
    QProcess gone;
    gone.start("true", QStringList());
    QVERIFY(gone.waitForFinished());
    const qint64 deadPid = gone.processId() ? gone.processId() : 999999;
    {
        QFile lock(SingleInstance::lockFilePath("TavrinelQt"));
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(deadPid) + "\n" + QCoreApplication::applicationName().toUtf8() + "\n\n");
    }
    SingleInstance instance("TavrinelQt");
    QVERIFY(!instance.isRunning());
}

void TestSingleInstance::signalsBecomeQuit()
{
    // SIGTERM is the end-to-end test's; SIGINT takes the same way.
    QuitOnSignal quit;
    QSignalSpy received(&quit, &QuitOnSignal::signalReceived);
    ::raise(SIGINT);
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.first().first().toInt(), int(SIGINT));
    QVERIFY(quit.quitRequested());
}

// The program's handler is in place before it touches the lock: a lock file that is a pipe holds
// the program inside the lock step until this test writes an owner into it.
void TestSingleInstance::signalWhileTakingTheLockQuitsCleanly()
{
    // A home that keeps the program off the network should it ever get past the lock.
    QVERIFY(QDir(m_tmp.path()).mkpath("home"));
    qputenv("HOME", m_tmp.filePath("home").toLocal8Bit());
    {
        QFile save(m_tmp.filePath("home/.Tavrinel"));
        QVERIFY(save.open(QIODevice::WriteOnly));
        save.write(savefile::BuildSettings({{"use_upnp", "no"}, {"server_host", "127.0.0.1"},
                                            {"server_port", "1"}, {"web_host", "127.0.0.1:1"}}));
    }
    const QByteArray lockPath = QFile::encodeName(SingleInstance::lockFilePath("TavrinelQt"));
    QFile::remove(lockPath);
    QCOMPARE(::mkfifo(lockPath.constData(), 0600), 0);

    ChildProcess program;
    const auto cleanup = qScopeGuard([&] {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished();
        }
        QFile::remove(lockPath);
    });
    program.setProcessChannelMode(QProcess::ForwardedChannels);
    program.start(qEnvironmentVariable("TAVRINEL_BINARY"), QStringList());
    QVERIFY(program.waitForStarted());
    const QString wchan = QString("/proc/%1/wchan").arg(program.processId());
    const auto blockedOnPipe = [&] {
        QFile f(wchan);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("wait_for_partner");
    };
    QTRY_VERIFY_WITH_TIMEOUT(blockedOnPipe(), 60000);
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), SIGTERM), 0);
    QTest::qWait(100);
    // A live owner (this test) in the lock: the program leaves as a second instance does.
    {
        // Fails at once when the program is gone (the signal killed it).
        const int fd = ::open(lockPath.constData(), O_WRONLY | O_NONBLOCK);
        QVERIFY2(fd >= 0, "the program died of the signal");
        const QByteArray owner = QByteArray::number(QCoreApplication::applicationPid()) + "\n" +
                                 QCoreApplication::applicationName().toUtf8() + "\n\n";
        QCOMPARE(::write(fd, owner.constData(), owner.size()), ssize_t(owner.size()));
        ::close(fd);
    }
    QVERIFY(program.waitForFinished(60000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
