// Save and load of a graph of 1,000,000 items and 1,000,000 links, next to writing and reading
// the same number of bytes with plain buffered stdio. Each phase runs in its own child process so
// its peak resident size (ru_maxrss) is its own.
//
//   bench_datasaver [folder]     (default: a fresh folder under /tmp)
#include "bench/benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <string>

using namespace benchutil;

namespace {

const int kHalf = 500000;

void Declare(Data& data)
{
    Type* a = data.NewType("node_a", PrimacyRoot, false, false);
    Type* b = data.NewType("node_b", PrimacyRoot, false, false);
    a->RelateToType(b, Many, Many, false);
}

// 500,000 items of each of two types; item k of the first links to items k and k + 1 of the
// second: 1,000,000 items, 1,000,000 links.
void Build(Data& data)
{
    Type* a = data.GetType("node_a");
    Type* b = data.GetType("node_b");
    std::vector<ItemPtr> bs(kHalf);
    for (int k = 0; k < kHalf; ++k)
        bs[k] = b->NewItem(Value("b" + std::to_string(k)));
    for (int k = 0; k < kHalf; ++k) {
        ItemPtr item = a->NewItem(Value("a" + std::to_string(k)));
        item += bs[k];
        item += bs[(k + 1) % kHalf];
    }
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temp(QDir::tempPath() + "/bench_datasaver-XXXXXX");
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temp.path();
    const QString path = folder + "/.Tavrinel";
    const QByteArray plainPath = QFile::encodeName(folder + "/plain.bin");

    printf("items %d, links %d\n", 2 * kHalf, 2 * kHalf);

    Phase([&] {
        Data data;
        Declare(data);
        QElapsedTimer t;
        t.start();
        Build(data);
        const double build = Ms(t);
        const long afterBuild = CurrentKiB();
        const long peakBuild = PeakKiB();
        DataSaver saver(&data, path);
        saver.AddSavedType("node_a");
        saver.AddSavedType("node_b");
        printf("build graph: %.0f ms, resident %ld KiB\n", build, afterBuild);
        // Three saves: the first also faults in the pages of its buffers.
        for (int round = 0; round < 3; ++round) {
            t.restart();
            const double cpu = ProcessCpuMs();
            Mark("save start");
            const bool ok = saver.Save();
            Mark("save end");
            const double save = Ms(t);
            printf("save: %s %.0f ms (cpu %.0f ms), peak %ld KiB (peak before save %ld KiB, save adds %ld KiB), file %lld bytes\n",
                   ok ? "ok" : "FAILED", save, ProcessCpuMs() - cpu, PeakKiB(), peakBuild, PeakKiB() - peakBuild,
                   static_cast<long long>(QFile(path).size()));
        }
    });

    Phase([&] {
        Data data;
        Declare(data);
        DataSaver saver(&data, path);
        const long before = PeakKiB();
        QElapsedTimer t;
        t.start();
        const double cpu = ProcessCpuMs();
        Mark("load start");
        const DataSaver::LoadResult r = saver.Load();
        Mark("load end");
        const double load = Ms(t);
        printf("load: %s %.0f ms (cpu %.0f ms), peak %ld KiB (before %ld KiB), items %zu + %zu\n",
               r == DataSaver::LoadResult::Loaded ? "ok" : "FAILED", load, ProcessCpuMs() - cpu, PeakKiB(), before,
               data.GetType("node_a")->ItemCount(), data.GetType("node_b")->ItemCount());
    });

    const qint64 bytes = QFile(path).size();
    // The same number of bytes through plain stdio, in field-sized pieces as a naive saver
    // would write them, and in 64 KiB blocks.
    for (const size_t piece : {size_t(4), size_t(1) << 16}) {
        Phase([&] {
            const PlainIoTimes times = PlainIo(plainPath, bytes, piece);
            printf("plain stdio, %zu-byte pieces: write+fsync %.0f ms, read %.0f ms (%lld bytes), peak %ld KiB\n",
                   piece, times.writeMs, times.readMs, static_cast<long long>(times.bytesRead), PeakKiB());
        });
    }
    return 0;
}
