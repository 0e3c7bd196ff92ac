// The user list window when every listed user comes online in one burst after a login: 2,000
// listed users (a first argument changes the count) go online one after another, as the server's
// status replies record them. Timed: the online handlers with the one deferred sort they leave
// behind, and for comparison a sort after every change, which is what the window would cost
// without the deferral.
#include "bench/benchutil.h"

#include "app/actionsettoolbar.h"
#include "model/delayedinvoker.h"
#include "model/sizemanager.h"
#include "ui/users/userlistform.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

namespace {

void DeclareViewTypes()
{
    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("user_note", PrimacyReachable, false, true), Many, One, false);
    user->RelateToType(d.NewType("unshared", PrimacyLeaf, true, true), Many, One, false);
}

QString Name(int k)
{
    // Mixed case, so the case-insensitive comparison does its work.
    return QString(k % 2 ? "User%1" : "user%1").arg(k, 5, 10, QChar('0'));
}

// The rows in order: every online user before every offline one, names ascending in each block.
bool OrderHolds(QTreeWidget* list)
{
    bool seenOffline = false;
    QString last;
    for (int k = 0; k < list->topLevelItemCount(); ++k) {
        const QString name = list->topLevelItem(k)->text(0);
        const bool online = d.GetType("user")->HasItem(Value(name)).IsConnected("is_online");
        if (online && seenOffline)
            return false;
        if (!online && !seenOffline) {
            seenOffline = true;
            last.clear();
        }
        if (!last.isEmpty() && last.compare(name, Qt::CaseInsensitive) > 0)
            return false;
        last = name;
    }
    return true;
}

// Runs the event loop until the window's deferred sort has run.
void WaitForSort(QObject* form)
{
    QElapsedTimer t;
    t.start();
    while (delayedInvoker->IsPending(form, "1OnSortUserList()") && t.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int users = argc > 1 ? std::max(2, atoi(argv[1])) : 2000;

    QTemporaryDir dir;
    benchutil::StartCore(dir);
    DeclareViewTypes();
    auto* bar = new ActionSetToolBar();
    bar->Init();
    new SizeManager();
    new DelayedInvoker();
    for (int k = 0; k < users; ++k)
        d.GetType("user")->GetItem(Value(Name(k))).NewItem("in_user_list");

    auto* form = new UserListForm();
    QElapsedTimer t;
    t.start();
    form->Init();
    const double initMs = benchutil::Ms(t);
    auto* list = form->findChild<QTreeWidget*>("userList");

    // Every user online, as the status replies of one burst record it.
    t.restart();
    for (int k = 0; k < users; ++k)
        d.GetType("user")->HasItem(Value(Name(k))).NewItem("is_online");
    const double handlersMs = benchutil::Ms(t);
    const bool deferred = delayedInvoker->IsPending(form, "1OnSortUserList()");
    t.restart();
    WaitForSort(form);
    QElapsedTimer sortTimer;
    sortTimer.start();
    QMetaObject::invokeMethod(form, "OnSortUserList");
    const double oneSortMs = benchutil::Ms(sortTimer);
    const bool orderAfterBurst = OrderHolds(list);

    // The same burst with a sort after every change: every user offline, then online again.
    for (int k = 0; k < users; ++k)
        d.GetType("user")->HasItem(Value(Name(k))).Disconnect("is_online");
    WaitForSort(form);
    t.restart();
    for (int k = 0; k < users; ++k) {
        d.GetType("user")->HasItem(Value(Name(k))).NewItem("is_online");
        QMetaObject::invokeMethod(form, "OnSortUserList");
    }
    const double eagerMs = benchutil::Ms(t);

    printf("user list, %d listed users\n", users);
    printf("  Init (fill, track, one sort)        %10.1f ms\n", initMs);
    printf("  online burst: handlers              %10.1f ms   (sort deferred: %s)\n", handlersMs,
           deferred ? "yes" : "no");
    printf("  the one deferred sort               %10.1f ms\n", oneSortMs);
    printf("  burst total, deferred               %10.1f ms   (order holds: %s)\n", handlersMs + oneSortMs,
           orderAfterBurst ? "yes" : "no");
    printf("  burst with a sort per change        %10.1f ms\n", eagerMs);
    printf("  peak resident                       %10ld KiB\n", benchutil::PeakKiB());
    return orderAfterBurst ? 0 : 1;
}
