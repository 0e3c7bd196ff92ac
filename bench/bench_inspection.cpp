// The developer windows on the program's own schema and data. The type navigator over every type
// the running window declares: the time until its first chart, and the slowest start and target
// pair. The item browser while a garbage collection removes 100,000 items: the collection alone,
// with the window open on another type, and with the window listing the collected type.
#include "app/mainwindow.h"
#include "bench/benchutil.h"
#include "model/data.h"
#include "server/portforwarder.h"
#include "server/upnpgateway.h"
#include "tests/app/savefile.h"
#include "ui/settings/datadialog.h"
#include "ui/settings/typenavigatordialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTreeWidget>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <memory>

namespace {

using benchutil::Ms;
using benchutil::NoGateway;

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// Walks of one to six steps from the type, which following every walk would visit.
double WalkCount(Type* start)
{
    std::map<Type*, double> ways{{start, 1}};
    double total = 0;
    for (int step = 1; step <= 6; ++step) {
        std::map<Type*, double> next;
        for (const auto& w : ways)
            for (const auto& r : w.first->Relations())
                next[r.first] += w.second;
        for (const auto& w : next)
            total += w.second;
        ways.swap(next);
    }
    return total;
}

// Every walk of up to six steps followed, with nothing remembered: the cost the breadth-first
// search of the window avoids.
void EveryWalk(const std::string& i_type, std::set<std::string>& io_types, int i_depth)
{
    if (i_depth > 6)
        return;
    std::map<Type*, RelationInfo> related;
    d.GetType(i_type)->GetRelatedTypes(related);
    for (const auto& r : related) {
        io_types.insert(r.first->Name());
        EveryWalk(r.first->Name(), io_types, i_depth + 1);
    }
}

void BenchNavigator()
{
    QElapsedTimer t;
    t.start();
    auto* navigator = new TypeNavigatorDialog;
    navigator->Init();
    const double firstChartMs = Ms(t);
    auto* from = navigator->findChild<QComboBox*>("fromTypeBox");
    auto* to = navigator->findChild<QComboBox*>("toTypeBox");
    auto* chart = navigator->findChild<QTextBrowser*>("chartEdit");

    double slowestStartMs = 0, slowestPairMs = 0, allMs = 0;
    QString slowestStart, slowestPair;
    int pairs = 0, slowestPaths = 0;
    double mostWalks = 0;
    QString mostWalksType;
    for (int f = 0; f < from->count(); ++f) {
        const double walks = WalkCount(d.GetType(from->itemText(f).toStdString()));
        if (walks > mostWalks) {
            mostWalks = walks;
            mostWalksType = from->itemText(f);
        }
        t.restart();
        from->setCurrentIndex(f);
        const double startMs = Ms(t);
        allMs += startMs;
        if (startMs > slowestStartMs) {
            slowestStartMs = startMs;
            slowestStart = from->itemText(f);
        }
        for (int k = 1; k < to->count(); ++k) {
            t.restart();
            to->setCurrentIndex(k);
            const double pairMs = Ms(t);
            allMs += pairMs;
            ++pairs;
            if (pairMs > slowestPairMs) {
                slowestPairMs = pairMs;
                slowestPair = from->itemText(f) + " to " + to->itemText(k);
                slowestPaths = chart->document()->blockCount();
            }
        }
    }
    printf("type navigator, %d types of the running program\n", from->count());
    printf("  construction, Init, first chart       %10.1f ms\n", firstChartMs);
    printf("  slowest start type (%s), with its first chart %6.1f ms\n", qPrintable(slowestStart), slowestStartMs);
    printf("  slowest pair (%s): %d paths   %10.1f ms\n", qPrintable(slowestPair), slowestPaths, slowestPairMs);
    printf("  every start and target pair (%d)      %10.1f ms\n", pairs, allMs);
    const std::string hub = mostWalksType.toStdString();
    std::set<std::string> reached{hub}, walked{hub};
    t.restart();
    navigator->GetRelatedTypes(hub, reached, 1);
    const double breadthMs = Ms(t);
    t.restart();
    EveryWalk(hub, walked, 1);
    const double everyWalkMs = Ms(t);
    printf("  targets of %s (%.3g walks of 1-6 steps): breadth first %.2f ms, every walk %.1f ms, same set: %s\n",
           qPrintable(mostWalksType), mostWalks, breadthMs, everyWalkMs, reached == walked ? "yes" : "no");
    delete navigator;
}

// Items of a type that nothing holds, made in an order unlike that of their texts, as the
// program's items come; then one collection.
void Make(int count)
{
    Type* type = d.GetType("bench_collected");
    for (int k = 0; k < count; ++k)
        type->NewItem(Value(QString("item %1").arg((k * 7919) % count, 6, 10, QChar('0'))));
}

double Collect(int count)
{
    Make(count);
    QElapsedTimer t;
    t.start();
    d.RemoveDisconnectedItems();
    return Ms(t);
}

void BenchBrowser()
{
    const int count = 100000;
    d.NewType("bench_collected", PrimacyReachable, false, true);
    const double aloneMs = Collect(count);

    auto* browser = new DataDialog(&d);
    browser->show();
    QApplication::processEvents();
    auto* types = browser->findChild<QTreeWidget*>("typeList");
    types->setCurrentItem(types->findItems("user", Qt::MatchExactly).first());
    const double otherTypeMs = Collect(count);
    QApplication::processEvents();

    Make(count);
    QElapsedTimer t;
    t.start();
    types->setCurrentItem(types->findItems("bench_collected", Qt::MatchExactly).first());
    const double listMs = Ms(t);
    const int rows = browser->findChild<QListWidget*>("itemList")->count();
    t.restart();
    d.RemoveDisconnectedItems();
    QApplication::processEvents();
    const double listedTypeMs = Ms(t);
    const int left = browser->findChild<QListWidget*>("itemList")->count();
    delete browser;

    printf("item browser, a collection of %d items\n", count);
    printf("  collection, no window                 %10.1f ms\n", aloneMs);
    printf("  collection, window on another type    %10.1f ms\n", otherTypeMs);
    printf("  listing the type (%d rows)        %10.1f ms\n", rows, listMs);
    printf("  collection, window listing the type   %10.1f ms   (%d rows left)\n", listedTypeMs, left);
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    benchutil::UseHomeIn(home);
    QApplication app(argc, argv);

    // Everything points at this machine, where nothing answers.
    const QString closed = QString::number(ClosedPort());
    QFile save(MainWindow::SaveFilePath());
    if (!save.open(QIODevice::WriteOnly) ||
        save.write(savefile::BuildSettings({{"use_upnp", "no"},
                                            {"server_host", "127.0.0.1"},
                                            {"server_port", closed},
                                            {"web_host", "127.0.0.1:" + closed},
                                            {"listening_port", "0"},
                                            {"username", "bench"},
                                            {"password", "bench"}})) <= 0)
        return 1;
    save.close();
    new PortForwarder(std::make_unique<NoGateway>());
    auto* window = new MainWindow;
    window->Init();

    if (!qEnvironmentVariableIsSet("BENCH_BROWSER_ONLY"))
        BenchNavigator();
    BenchBrowser();
    delete window;
    return 0;
}
