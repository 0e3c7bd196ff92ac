// One instance per application id and user: the lock, its release, and locks left by the dead.

#include "app/quitonsignal.h"
#include "app/singleinstance.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

class TestSingleInstance : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void secondInstanceSeesFirst();
    void longRunningOwnerIsNotStale();
    void lockOfDeadProcessIsTakenOver();
    void signalsBecomeQuit();

private:
    QTemporaryDir m_tmp;
};

void TestSingleInstance::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
    QVERIFY(SingleInstance::lockFilePath("TavrinelQt").startsWith(m_tmp.path()));
}

void TestSingleInstance::secondInstanceSeesFirst()
{
    auto first = std::make_unique<SingleInstance>("TavrinelQt");
    QVERIFY(!first->isRunning());
    QVERIFY(SingleInstance("TavrinelQt").isRunning());
    // Another id is another application.
    QVERIFY(!SingleInstance("SomethingElse").isRunning());

    first.reset();
    QVERIFY(!QFile::exists(SingleInstance::lockFilePath("TavrinelQt")));
    QVERIFY(!SingleInstance("TavrinelQt").isRunning());
}

void TestSingleInstance::longRunningOwnerIsNotStale()
{
    SingleInstance first("TavrinelQt");
    QVERIFY(!first.isRunning());
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
    QuitOnSignal quit;
    QVERIFY(quit.isActive());
    QVERIFY(!quit.quitRequested());
    QSignalSpy received(&quit, &QuitOnSignal::signalReceived);
    ::raise(SIGTERM);
    QTRY_COMPARE(received.count(), 1);
    QCOMPARE(received.first().first().toInt(), int(SIGTERM));
    QVERIFY(quit.quitRequested());
    ::raise(SIGINT);
    QTRY_COMPARE(received.count(), 2);
    QCOMPARE(received.last().first().toInt(), int(SIGINT));
}

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
