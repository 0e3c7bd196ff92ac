#include "model/delayedinvoker.h"

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
        if (reinvoke-- > 0)
            delayedInvoker->Invoke(this, "1Sort()", 0);
    }
    void Filter() { ++filters; }
};

class TestTimers : public QObject
{
    Q_OBJECT

private slots:
    void burstRunsOnce()
    {
        DelayedInvoker invoker;
        Target target;
        for (int delay : {60000, 60000, 5})
            invoker.Invoke(&target, "1Sort()", delay);
        QVERIFY(invoker.IsPending(&target, "1Sort()"));
        // One pending call, keeping the delay of the first request.
        const QList<QTimer*> timers = invoker.findChildren<QTimer*>();
        QCOMPARE(timers.size(), 1);
        QVERIFY(timers[0]->interval() == 60000 && timers[0]->isSingleShot() && timers[0]->isActive());
        // Fire it now instead of waiting a minute.
        timers[0]->stop();
        QMetaObject::invokeMethod(timers[0], "timeout", Qt::DirectConnection);
        QCOMPARE(target.sorts, 1);
        QVERIFY(!invoker.IsPending(&target, "1Sort()"));
        QTRY_COMPARE(invoker.findChildren<QTimer*>().size(), 0);

        // The same slot on two objects, or two slots on one, run independently.
        Target a, b;
        for (Target* t : {&a, &b, &a})
            invoker.Invoke(t, "1Sort()", 0);
        invoker.Invoke(&a, "1Filter()", 0);
        QCOMPARE(a.sorts, 0);
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
        QVERIFY(target.sorts == 3 && !invoker.IsPending(&target, "1Sort()"));
    }

    void deadTargetsAndInvokerAreHarmless()
    {
        DelayedInvoker invoker;
        // A new object at the address of a dead one with a call still pending gets its own call.
        alignas(Target) unsigned char storage[sizeof(Target)];
        auto* first = new (storage) Target;
        invoker.Invoke(first, "1Sort()", 3600000);
        first->~Target();
        QVERIFY(!invoker.IsPending(first, "1Sort()"));
        auto* second = new (storage) Target;
        invoker.Invoke(second, "1Sort()", 0);
        QTRY_COMPARE(second->sorts, 1);
        QTRY_COMPARE(invoker.findChildren<QTimer*>().size(), 0);
        second->~Target();

        // Deleting the invoker drops what is pending.
        Target target;
        auto* gone = new DelayedInvoker;
        gone->Invoke(&target, "1Sort()", 0);
        delete gone;
        QVERIFY(!delayedInvoker);
        QCoreApplication::processEvents();
        QCOMPARE(target.sorts, 0);
    }
};

QTEST_MAIN(TestTimers)
#include "tst_timers.moc"
