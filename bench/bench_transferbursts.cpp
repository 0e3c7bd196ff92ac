// Bursts of download status changes as a heavy user meets them, with the Transfers page shown:
//
//   bench_transferbursts [N]   (default 10000) at N/10, N/3 and N downloads of one user in one
//                              folder: queueing the whole folder, the user denying every file,
//                              the user coming online with all of them to re-queue (each a queue
//                              request that waits for a connection), and the peer messenger
//                              queueing that many requests alone. Wall time of the GUI thread for
//                              each, and the ratio between the sizes (linear growth gives about
//                              3.3 and 3.0), then the GUI thread's CPU time for each (the figure
//                              that holds on a busy machine). The log lines go where the
//                              program's go: the user's log, full before each burst, and the
//                              Diagnostics pages, looked at once before; last, what opening the
//                              Diagnostics page costs after the bursts.
#include "bench/benchutil.h"
#include "bench/transfersviewbench.h"
#include "model/helpers.h"

#include <QApplication>
#include <QTabWidget>

#include <map>

using namespace benchutil;

namespace {

// Runs what the burst left for the event loop: deferred refreshes count towards it.
void Settle()
{
    for (int k = 0; k < 3; ++k)
        QApplication::processEvents();
}

// Empties the unsent-message queue between runs, as its expiry would.
void DropQueue()
{
    Data::Scope scope(&d);
    for (ItemPtr item : d.GetType("unsent_message")->GetItems()) {
        auto* message = ItemObject<MemStream>(item);
        item.Remove();
        delete message;
    }
    Settle();
}

std::string Path(int k) { return QString("music\\Queue\\f%1.mp3").arg(k).toStdString(); }

// Wall and GUI-thread CPU time of one burst, from its start to the end of what it left for the
// event loop.
struct Stopwatch
{
    QElapsedTimer wall;
    double cpuStart = Cpu::Now().thread;
    Stopwatch()
    {
        Mark("start");
        wall.start();
    }
    void Note(std::map<std::string, double>& o_ms, std::map<std::string, double>& o_cpuMs, const char* name)
    {
        Mark(name);
        o_ms[name] = Ms(wall);
        o_cpuMs[name] = (Cpu::Now().thread - cpuStart) * 1e3;
    }
};

std::map<std::string, double> Run(int n, std::map<std::string, double>& o_cpuMs)
{
    std::map<std::string, double> ms;
    const QString user = QString("user%1").arg(n);

    UserWithFullLog(user);
    {
        Stopwatch t;
        for (int k = 0; k < n; ++k)
            transferQueueManager->AddDownload(user, GetFileName(Path(k)), "music\\Queue", 1 << 20, 0);
        Settle();
        t.Note(ms, o_cpuMs, "queue folder");
    }

    UserWithFullLog(user);
    {
        Stopwatch t;
        for (int k = 0; k < n; ++k)
            transferQueueManager->OnUploadDeniedNotification(user, Path(k), "Too many files");
        Settle();
        t.Note(ms, o_cpuMs, "deny all");
    }

    ItemPtr userItem = UserWithFullLog(user);
    const ItemSet entries = userItem.GetItems("download_entry");
    for (const ItemPtr& entry : entries)
        transferQueueManager->SetDownloadEntryStatus(entry, "aborted");
    Settle();
    {
        Stopwatch t;
        userItem.NewItem("is_online");
        Settle();
        t.Note(ms, o_cpuMs, "online, re-queue");
    }

    {
        Data::Scope scope(&d);
        for (const ItemPtr& entry : entries)
            transferQueueManager->RemoveDownload(entry);
    }
    DropQueue();

    const QString offline = QString("away%1").arg(n);
    {
        Stopwatch t;
        for (int k = 0; k < n; ++k)
            peerMessenger->QueueDownload(offline, Path(k));
        t.Note(ms, o_cpuMs, "queue requests");
    }
    DropQueue();
    return ms;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int n = argc > 1 ? QByteArray(argv[1]).toInt() : 10000;

    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    TransfersForm* form = nullptr;
    QTabWidget* tabs = benchutil::NewTransfersView(dir, &form);
    AddLogSinks(tabs);
    transferQueueManager->DataLoaded();
    tabs->show();
    Settle();
    LookAtLogPagesOnce(tabs, {"Transfer Queue", "Peer Messenger"});

    const int sizes[] = {n / 10, n / 3, n};
    std::map<std::string, double> figures[3], cpuFigures[3];
    for (int k = 0; k < 3; ++k)
        figures[k] = Run(sizes[k], cpuFigures[k]);
    for (auto [title, table] : {std::make_pair("ms", figures), std::make_pair("cpu ms", cpuFigures)}) {
        std::printf("%-18s %10d %10d %10d   ratios\n", title, sizes[0], sizes[1], sizes[2]);
        for (const auto& [name, first] : table[0]) {
            const double second = table[1][name], third = table[2][name];
            std::printf("%-18s %10.1f %10.1f %10.1f   %.1f %.1f\n", name.c_str(), first, second, third,
                        first > 0 ? second / first : 0, second > 0 ? third / second : 0);
        }
    }

    // What the bursts left for the Diagnostics page when the user opens it afterwards: the longest
    // turn of the event loop while it fills, and all of them.
    tabs->setCurrentIndex(tabs->indexOf(diagnosticsForm));
    double longest = 0, total = 0;
    for (int turn = 0; turn < 100; ++turn) {
        QElapsedTimer t;
        t.start();
        QApplication::processEvents();
        longest = std::max(longest, Ms(t));
        total += Ms(t);
    }
    std::printf("opening Diagnostics afterwards: longest turn %.1f ms, 100 turns %.1f ms\n", longest, total);
    delete tabs;
    return 0;
}
