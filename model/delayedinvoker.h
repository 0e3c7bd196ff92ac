// Runs a slot of an object once after a delay; further requests for the same object and
// slot are ignored while one is pending, so a burst of events costs one update.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <map>
#include <utility>

class QTimer;

class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    explicit DelayedInvoker(QObject* parent = nullptr);
    ~DelayedInvoker() override;

    // i_slot is a slot signature with the prefix of Qt's SLOT macro, as in "1Sort()".
    void Invoke(QObject* ip_target, const QString& i_slot, int i_delay);
    bool IsPending(QObject* ip_target, const QString& i_slot) const;

public slots:
    void OnTimeout();

private:
    typedef std::pair<QObject*, QString> Call;
    struct Pending
    {
        QTimer* timer;
        QPointer<QObject> target;
    };
    void Drop(std::map<Call, Pending>::iterator it);

    std::map<Call, Pending> m_pendingByCall;
    std::map<QTimer*, Call> m_callsByTimer;
};

extern DelayedInvoker* delayedInvoker;
