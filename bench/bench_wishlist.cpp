// The saved wish list at start-up: N wishes (every other one enabled) are in the graph when the
// save file has been read, and the search view builds their rows. Timed at N/10, N/3 and N, each
// size in a process of its own: the data-loaded step, the event-loop pass after it (deferred
// sorting, layout and the first paint of the rows) and the longest single stretch the GUI thread
// is held in either. The ratios between the sizes show how the cost grows.
#include "bench/searchviewbench.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

struct Figures
{
    double loaded = 0;  // the data-loaded call
    double events = 0;  // the event-loop passes after it, until they run dry
    double longest = 0; // the longest single pass, the data-loaded call included
    double cpu = 0;     // processor time of all of it: the figure that holds on a busy machine
    int rows = 0;
};

Figures Run(int n)
{
    QTemporaryDir dir;
    SearchForm* form = benchutil::NewSearchView(dir);
    Type* wish = d.GetType("wish_list_item");
    QApplication::processEvents();

    ItemPtr enabled = d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
    for (int k = 0; k < n; ++k) {
        // Spread over the alphabet, so that rows do not arrive in their sorted order.
        ItemPtr item = wish->GetItem(Value(QString("wish %1 %2").arg((k * 7919) % n).arg(k)));
        if (k % 2 == 0)
            item += enabled;
    }

    Figures f;
    const double cpuStart = benchutil::ProcessCpuMs();
    QElapsedTimer t;
    t.start();
    form->DataLoaded();
    f.loaded = benchutil::Ms(t);
    f.longest = f.loaded;
    // Pass by pass until nothing is left to do: each pass is one stretch the window cannot answer.
    QElapsedTimer all;
    all.start();
    for (int idle = 0; idle < 3;) {
        t.restart();
        QApplication::processEvents();
        const double pass = benchutil::Ms(t);
        f.longest = std::max(f.longest, pass);
        idle = pass < 1 ? idle + 1 : 0;
    }
    f.events = benchutil::Ms(all);
    f.cpu = benchutil::ProcessCpuMs() - cpuStart;
    f.rows = form->findChild<QTreeWidget*>("wishList")->topLevelItemCount();
    return f;
}

// Runs one size in a child process (a fresh graph each time) and reads its figures back.
Figures Measure(int n)
{
    int fds[2];
    if (pipe(fds) != 0)
        std::exit(1);
    Figures f;
    benchutil::Phase([&] {
        Figures mine = Run(n);
        if (write(fds[1], &mine, sizeof mine) != sizeof mine)
            std::exit(1);
    });
    close(fds[1]);
    if (read(fds[0], &f, sizeof f) != sizeof f)
        f = Figures();
    close(fds[0]);
    return f;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int sizes[] = {n / 10, n / 3, n};
    Figures figures[3];
    std::printf("saved wish list at start-up (N = %d)\n", n);
    std::printf("  %8s %12s %12s %12s %12s %12s\n", "wishes", "loaded ms", "after ms", "total ms", "longest ms",
                "cpu ms");
    for (int k = 0; k < 3; ++k) {
        figures[k] = Measure(sizes[k]);
        const Figures& f = figures[k];
        if (f.rows != sizes[k])
            std::printf("  %8d rows shown instead of %d\n", f.rows, sizes[k]);
        std::printf("  %8d %12.1f %12.1f %12.1f %12.1f %12.1f\n", sizes[k], f.loaded, f.events, f.loaded + f.events,
                    f.longest, f.cpu);
    }
    const auto total = [&](int k) { return figures[k].loaded + figures[k].events; };
    std::printf("  ratios of the totals: N/3 to N/10 %.1f (sizes %.1f), N to N/3 %.1f (sizes %.1f)\n",
                total(1) / total(0), double(sizes[1]) / sizes[0], total(2) / total(1), double(sizes[2]) / sizes[1]);
    std::printf("  ratios of the cpu times: N/3 to N/10 %.1f, N to N/3 %.1f\n", figures[1].cpu / figures[0].cpu,
                figures[2].cpu / figures[1].cpu);
    return 0;
}
