#include "model/delayedinvoker.h"
#include "model/timermanager.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <new>

class Target : public QObject
{
    Q_OBJECT

public:
    int sorts = 0;
    int filters = 0;
    int reinvoke = 0;  // how many more times Sort asks for itself again

public slots:
    void Sort()
    {
        ++sorts;
        if (reinvoke > 0) {
            --reinvoke;
            delayedInvoker->Invoke(this, "1Sort()", 0);
        }
    }
    void Filter() { ++filters; }
};

class TestTimers : public QObject
{
    Q_OBJECT

private slots:
    void sharedTimers()
    {
        QVERIFY(!timerManager);
        {
            TimerManager timers;
            QCOMPARE(timerManager, &timers);
            QTimer* const all[] = {timers.everyHalfMinute(), timers.everyFiveMinutes(), timers.everyHour()};
            const int intervals[] = {30000, 300000, 3600000};
            for (int i = 0; i < 3; ++i) {
                QVERIFY(all[i]->isActive());
                QVERIFY(!all[i]->isSingleShot());
                QCOMPARE(all[i]->interval(), intervals[i]);
            }
            QVERIFY(!timers.everyHalfMinute()->parent());
            // Users connect to the tick; a tick reaches every connected slot.
            Target target;
            QObject::connect(timers.everyHalfMinute(), &QTimer::timeout, &target, &Target::Filter);
            QMetaObject::invokeMethod(timers.everyHalfMinute(), "timeout", Qt::DirectConnection);
            QCOMPARE(target.filters, 1);
        }
        QVERIFY(!timerManager);
    }

    void burstRunsOnce()
    {
        DelayedInvoker invoker;
        QCOMPARE(delayedInvoker, &invoker);
        Target target;
        invoker.Invoke(&target, "1Sort()", 60000);
        QVERIFY(invoker.IsPending(&target, "1Sort()"));
        invoker.Invoke(&target, "1Sort()", 60000);
        invoker.Invoke(&target, "1Sort()", 5);
        // One pending call, keeping the delay of the first request.
        const QList<QTimer*> timers = invoker.findChildren<QTimer*>();
        QCOMPARE(timers.size(), 1);
        QCOMPARE(timers[0]->interval(), 60000);
        QVERIFY(timers[0]->isSingleShot());
        QVERIFY(timers[0]->isActive());
        // Fire it now instead of waiting a minute.
        timers[0]->stop();
        QMetaObject::invokeMethod(timers[0], "timeout", Qt::DirectConnection);
        QCOMPARE(target.sorts, 1);
        QVERIFY(!invoker.IsPending(&target, "1Sort()"));
        QTRY_COMPARE(invoker.findChildren<QTimer*>().size(), 0);
        QCOMPARE(target.sorts, 1);
    }

    void zeroDelayRunsOnNextPass()
    {
        DelayedInvoker invoker;
        Target target;
        invoker.Invoke(&target, "1Sort()", 0);
        invoker.Invoke(&target, "1Sort()", 0);
        QCOMPARE(target.sorts, 0);
        QTRY_COMPARE(target.sorts, 1);
        QCoreApplication::processEvents();
        QCOMPARE(target.sorts, 1);

        // The same slot on two objects, or two slots on one, run independently.
        Target a, b;
        invoker.Invoke(&a, "1Sort()", 0);
        invoker.Invoke(&b, "1Sort()", 0);
        invoker.Invoke(&a, "1Filter()", 0);
        invoker.Invoke(&a, "1Sort()", 0);
        QTRY_VERIFY(a.sorts == 1 && b.sorts == 1 && a.filters == 1);
        QCoreApplication::processEvents();
        QCOMPARE(a.sorts + b.sorts + a.filters + b.filters, 3);
    }

    void invokeFromInsideTheSlotSchedulesAnew()
    {
        DelayedInvoker invoker;
        Target target;
        target.reinvoke = 2;
        invoker.Invoke(&target, "1Sort()", 0);
        QTRY_COMPARE(target.sorts, 3);
        QCoreApplication::processEvents();
        QCOMPARE(target.sorts, 3);
        QVERIFY(!invoker.IsPending(&target, "1Sort()"));
    }

    void destroyedTargetIsNotCalled()
    {
        DelayedInvoker invoker;
        auto* target = new Target;
        invoker.Invoke(target, "1Sort()", 10);
        delete target;
        QVERIFY(!invoker.IsPending(target, "1Sort()"));
        QTRY_COMPARE(invoker.findChildren<QTimer*>().size(), 0);

        // A new object at the address of a dead one with a call still pending gets its own call.
        alignas(Target) unsigned char storage[sizeof(Target)];
        auto* first = new (storage) Target;
        invoker.Invoke(first, "1Sort()", 3600000);
        first->~Target();
        auto* second = new (storage) Target;
        invoker.Invoke(second, "1Sort()", 0);
        QTRY_COMPARE(second->sorts, 1);
        QTRY_COMPARE(invoker.findChildren<QTimer*>().size(), 0);
        second->~Target();
    }

    void deletingTheInvokerDropsPendingCalls()
    {
        Target target;
        {
            DelayedInvoker invoker;
            invoker.Invoke(&target, "1Sort()", 0);
        }
        QVERIFY(!delayedInvoker);
        QCoreApplication::processEvents();
        QCOMPARE(target.sorts, 0);
    }

    void unknownSlotStillClears()
    {
        DelayedInvoker invoker;
        Target target;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("QObject::connect: No such slot.*"));
        invoker.Invoke(&target, "1NoSuchSlot()", 0);
        QTRY_VERIFY(!invoker.IsPending(&target, "1NoSuchSlot()"));
        invoker.Invoke(&target, "1Sort()", 0);
        QTRY_COMPARE(target.sorts, 1);
    }
};

QTEST_MAIN(TestTimers)
#include "tst_timers.moc"
