// Sends the enabled wish-list entries as wish-list searches, one per period the server allows,
// cycling through them in alphabetical order.
#pragma once

#include <QObject>
#include <QTimer>

class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    explicit WishListSearcher(QObject* ip_parent);
    ~WishListSearcher() override;

    const QTimer& SearchTimer() const { return m_searchTimer; }

public slots:
    void OnWishListWait(uint i_waitPeriod);
    void OnSearchTimerTimeout();

private:
    QTimer m_searchTimer;
};

extern WishListSearcher* wishListSearcher;
