// The walk of a share of 100,000 files in 1,000 folders, next to `find -printf '%s %p\n'` over
// the same tree (warm cache): the first walk, an unchanged rescan, memory and the size of the
// token index; then the save and the load of the graph holding that index, next to writing and
// reading the same bytes with plain buffered stdio. Each phase runs in a child process of its
// own, so its peak resident size is its own.
//
//   bench_shares [folder]     (default: a fresh folder under /tmp, removed at the end)
#include "bench/benchutil.h"
#include "model/data.h"
#include "model/datasaver.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace benchutil;

const int kArtists = 50;
const int kAlbums = 20;  // per artist: 1,000 folders
const int kTracks = 100; // per album: 100,000 files

// CPU time of the calling thread (the scanner thread's reading is not counted), in ms: on a busy
// machine a steadier figure than the elapsed time.
double CpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double ChildrenCpuMs()
{
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// The graph around the index, as the program has it: settings, users and groups, the peer types.
void Declare()
{
    DeclareSettingTypes();
    Type* user = d.NewType("user", PrimacyRoot, false, true);
    Type* group = d.NewType("user_list_group", PrimacyRoot, false, true);
    user->RelateToType(group, Many, Many, false);
    PeerMessenger::CreateData();
    new DataSaver(&d, QString());
    new SharedFoldersManager();
}

size_t LinkCount()
{
    size_t ends = 0;
    for (const auto& entry : d.Types())
        for (Item* item : entry.second->ItemsUnordered())
            for (const auto& relation : entry.second->Relations())
                if (const NeighbourSet* n = item->Links(relation.first))
                    ends += n->size();
    return ends / 2;
}

size_t ItemCount()
{
    size_t items = 0;
    for (const auto& entry : d.Types())
        items += entry.second->ItemCount();
    return items;
}

void Rescan(const char* what)
{
    QElapsedTimer t;
    t.start();
    const double cpu = CpuMs();
    int added = -1, removed = -1;
    auto c = QObject::connect(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned,
                              [&](int a, int r) { added = a, removed = r; });
    Mark("rescan-start");
    sharedFoldersManager->RescanShares();
    Mark("rescan-end");
    QObject::disconnect(c);
    printf("%s: %.0f ms, cpu %.0f ms (%d added, %d removed), resident %ld KiB, peak %ld KiB\n", what, Ms(t),
           CpuMs() - cpu, added, removed, CurrentKiB(), PeakKiB());
}

void TimeCommand(const QString& command, const char* what)
{
    QElapsedTimer t;
    t.start();
    const double cpu = ChildrenCpuMs();
    if (system(command.toLocal8Bit().constData()) != 0)
        printf("command failed: %s\n", qPrintable(command));
    printf("%s: %.0f ms, cpu %.0f ms\n", what, Ms(t), ChildrenCpuMs() - cpu);
}

void PlainIo(const QString& path, qint64 bytes)
{
    const PlainIoTimes times = benchutil::PlainIo(QFile::encodeName(path), bytes, size_t(1) << 16);
    printf("plain stdio, 64 KiB blocks, %lld bytes: write+fsync %.0f ms, read %.0f ms\n",
           static_cast<long long>(times.bytesRead), times.writeMs, times.readMs);
    QFile::remove(path);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QDir::tempPath() + "/bench_shares-XXXXXX");
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString share = folder + "/share";
    const QString save = folder + "/.Tavrinel";

    QElapsedTimer t;
    t.start();
    if (!QFileInfo::exists(share))
        GenerateShare(share, kArtists, kAlbums, kTracks);
    printf("generated %d files in %d folders: %.0f ms\n", kArtists * kAlbums * kTracks, kArtists * kAlbums, Ms(t));

    // Joined rather than filled in with arg(), which would leave "%%" as it is: find would print
    // that text for every file without reading its size.
    const QString find = "find '" + share + "' -printf '%s %p\\n' > /dev/null";
    TimeCommand(find, "find -printf '%s %p' (cold or warm)");
    TimeCommand(find, "find -printf '%s %p' (warm)");
    TimeCommand(find, "find -printf '%s %p' (warm)");
    // The same names without a stat per file: the directory reading alone.
    TimeCommand("find '" + share + "' -printf '%p\\n' > /dev/null", "find -printf '%p', no size (warm)");

    Phase([&] {
        Declare();
        const long before = CurrentKiB();
        QElapsedTimer walk;
        walk.start();
        const double cpu = CpuMs();
        Mark("walk-start");
        sharedFoldersManager->AddSharedFolder(share);
        Mark("walk-end");
        printf("first walk: %.0f ms, cpu %.0f ms, resident %ld KiB (graph adds %ld KiB), peak %ld KiB\n", Ms(walk),
               CpuMs() - cpu, CurrentKiB(), CurrentKiB() - before, PeakKiB());
        Rescan("rescan, no change (after the first walk)");
        Rescan("rescan, no change");
        size_t tokenLinks = 0;
        for (Item* token : d.GetType("search_token")->ItemsUnordered())
            tokenLinks += token->Links(d.GetType("shared_file"))->size();
        printf("files %zu, folders %zu, tokens %zu, token links %zu (%.1f per file); graph: %zu items, %zu links\n",
               d.GetType("shared_file")->ItemCount(), d.GetType("shared_file_folder")->ItemCount(),
               d.GetType("search_token")->ItemCount(), tokenLinks,
               double(tokenLinks) / double(d.GetType("shared_file")->ItemCount()), ItemCount(), LinkCount());

        QElapsedTimer saving;
        saving.start();
        Mark("save-start");
        const bool ok = dataSaver->Save(save);
        Mark("save-end");
        printf("save: %s %.0f ms, file %lld bytes, peak %ld KiB\n", ok ? "ok" : "FAILED", Ms(saving),
               (long long)QFile(save).size(), PeakKiB());
        delete sharedFoldersManager;
    });
    PlainIo(folder + "/plain.bin", QFile(save).size());

    Phase([&] {
        Declare();
        QElapsedTimer loading;
        loading.start();
        Mark("load-start");
        const DataSaver::LoadResult r = dataSaver->Load(save);
        Mark("load-end");
        printf("load: %s %.0f ms, %zu items (%zu files), %zu links, resident %ld KiB, peak %ld KiB\n",
               r == DataSaver::LoadResult::Loaded ? "ok" : "FAILED", Ms(loading), ItemCount(),
               d.GetType("shared_file")->ItemCount(), LinkCount(), CurrentKiB(), PeakKiB());
        Rescan("rescan after the load (tokens rebuilt)");
        Rescan("rescan, no change");
        delete sharedFoldersManager;
    });
    return 0;
}
