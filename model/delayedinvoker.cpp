#include "model/delayedinvoker.h"

#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* parent) : QObject(parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
}

void DelayedInvoker::Invoke(QObject* ip_target, const QString& i_slot, int i_delay)
{
    if (!ip_target)
        return;
    const Call call(ip_target, i_slot);
    auto it = m_pendingByCall.find(call);
    if (it != m_pendingByCall.end()) {
        if (it->second.target)
            return;
        // The object the call was for is gone, and a new one was made at its address:
        // the new object's request must not be swallowed by the dead one's.
        Drop(it);
    }

    auto* timer = new QTimer(this);
    // OnTimeout comes first so that the entries are gone when the target slot runs
    // and a request made from inside that slot schedules a new call.
    connect(timer, &QTimer::timeout, this, &DelayedInvoker::OnTimeout);
    const QByteArray slot = i_slot.toLatin1();
    QObject::connect(timer, SIGNAL(timeout()), ip_target, slot.constData());
    timer->setInterval(i_delay);
    timer->setSingleShot(true);
    m_pendingByCall.emplace(call, Pending{timer, QPointer<QObject>(ip_target)});
    m_callsByTimer.emplace(timer, call);
    timer->start();
}

bool DelayedInvoker::IsPending(QObject* ip_target, const QString& i_slot) const
{
    auto it = m_pendingByCall.find(Call(ip_target, i_slot));
    return it != m_pendingByCall.end() && it->second.target;
}

void DelayedInvoker::OnTimeout()
{
    auto* timer = qobject_cast<QTimer*>(sender());
    auto it = m_callsByTimer.find(timer);
    if (it == m_callsByTimer.end())
        return;
    m_pendingByCall.erase(it->second);
    m_callsByTimer.erase(it);
    timer->deleteLater();
}

void DelayedInvoker::Drop(std::map<Call, Pending>::iterator it)
{
    QTimer* timer = it->second.timer;
    m_callsByTimer.erase(timer);
    m_pendingByCall.erase(it);
    timer->stop();
    timer->deleteLater();
}
