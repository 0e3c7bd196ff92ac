// The tracked-users page of the diagnostics window when the server answers for a long list of
// watched users: N users are tracked (not logged in, so nothing is sent), then every one comes
// online and goes offline again, as the server's status replies record it. Timed at N/10, N/3
// and N (N = 10,000; a first argument changes it): the tracking, and the status changes.
#include "bench/benchutil.h"

#include "model/diagnosticsform.h"

#include <QApplication>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>

namespace {

struct Figures
{
    double trackMs = 0;
    double statusMs = 0;
};

QString Name(int k) { return QString("tracked%1").arg(k, 6, 10, QChar('0')); }

// Users base .. base + n - 1 tracked, then online and offline again; false when a row does not
// show what its user is.
bool Run(int base, int n, Figures& o_figures)
{
    auto* form = new DiagnosticsForm();
    form->Init();
    QTreeWidget* tree = form->TrackedUsersTree();
    Type* users = d.GetType("user");

    QElapsedTimer t;
    t.start();
    for (int k = base; k < base + n; ++k)
        gp_server->TrackUser(Name(k));
    o_figures.trackMs = benchutil::Ms(t);

    t.restart();
    for (int k = base; k < base + n; ++k)
        users->HasItem(Value(Name(k))).NewItem("is_online");
    const bool allOnline = tree->topLevelItemCount() == n && tree->topLevelItem(n - 1)->text(1) == "Online";
    for (int k = base; k < base + n; ++k)
        users->HasItem(Value(Name(k))).Disconnect("is_online");
    o_figures.statusMs = benchutil::Ms(t);
    const bool allOffline = tree->topLevelItem(n / 2)->text(1) == "Offline";

    for (int k = base; k < base + n; ++k)
        gp_server->UntrackUser(Name(k));
    const bool ok = allOnline && allOffline && tree->topLevelItemCount() == 0;
    delete form;
    return ok;
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int n = argc > 1 ? std::max(30, atoi(argv[1])) : 10000;

    QTemporaryDir dir;
    benchutil::StartCore(dir);

    const int sizes[] = {n / 10, n / 3, n};
    Figures figures[3];
    bool ok = true;
    int base = 0;
    for (int s = 0; s < 3; ++s) {
        ok = Run(base, sizes[s], figures[s]) && ok;
        base += sizes[s];
    }

    printf("tracked-users page\n");
    printf("  %8s %14s %22s\n", "users", "track (ms)", "online+offline (ms)");
    for (int s = 0; s < 3; ++s)
        printf("  %8d %14.1f %22.1f\n", sizes[s], figures[s].trackMs, figures[s].statusMs);
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    printf("  ratio N/3 : N/10  %6.1f %22.1f   (sizes %.1f)\n", ratio(figures[1].trackMs, figures[0].trackMs),
           ratio(figures[1].statusMs, figures[0].statusMs), double(sizes[1]) / sizes[0]);
    printf("  ratio N : N/3     %6.1f %22.1f   (sizes %.1f)\n", ratio(figures[2].trackMs, figures[1].trackMs),
           ratio(figures[2].statusMs, figures[1].statusMs), double(sizes[2]) / sizes[1]);
    printf("  rows right: %s\n", ok ? "yes" : "no");
    return ok ? 0 : 1;
}
