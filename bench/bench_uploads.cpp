// The upload queue at scale: 50 users each ask for the same 200 shared files, 10,000 queued
// uploads in all (as many as the queue takes); then uploads are started one slot at a time.
// Reports the time per queue
// request and per start, and checks every place in line against a plain recomputation of the
// queue order (so a faster queue cannot change what peers are told).
//
//   bench_uploads            (runs with no network: nobody is connected, nothing is sent)
#include "bench/benchutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <map>
#include <vector>

namespace {

const int kUsers = 50;
const int kFiles = 200;

QString UserName(int k) { return QString("user%1").arg(k, 3, 10, QChar('0')); }

// The places the queue must report: queued entries of online users in queue order, numbered
// along the queue after each start, as a plain sort over (privilege, arrival) gives them (no
// user here is in a group with a priority).
bool PlacesMatchRecomputation()
{
    struct Row
    {
        bool privileged;
        long long order;
        long long place;
    };
    std::vector<Row> rows;
    for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
        if (entry["upload_entry_status"].AsString() == "queued")
            rows.push_back({entry["user"].IsConnected("is_privileged"), entry["upload_order"].AsInt64(),
                            entry["effective_upload_order"].AsInt64()});
    std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return a.privileged != b.privileged ? a.privileged : a.order < b.order;
    });
    // Along the queue the places grow; a gap is an entry started in the last walk.
    for (size_t k = 1; k < rows.size(); ++k)
        if (rows[k].place <= rows[k - 1].place)
            return false;
    return !rows.empty();
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    benchutil::StartEngine(dir);

    const QString share = dir.filePath("share");
    QDir().mkpath(share);
    for (int k = 0; k < kFiles; ++k) {
        QFile file(QString("%1/file%2.bin").arg(share).arg(k, 3, 10, QChar('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(100, 'x')) != 100)
            return 1;
    }
    sharedFoldersManager->AddSharedFolder(share).NewItem("shared_public");
    sharedFoldersManager->RescanShares();
    for (int u = 0; u < kUsers; ++u) {
        ItemPtr user = d.GetType("user")->GetItem(Value(UserName(u)));
        user.NewItem("is_online");
        if (u % 10 == 0)
            user.NewItem("is_privileged");
    }
    QString remoteShare = share;
    remoteShare.replace('/', '\\');

    // Round robin over the users, so the queue interleaves them as peers would.
    QElapsedTimer timer;
    timer.start();
    // A privileged user's request goes ahead of everybody else's and renumbers those behind it.
    std::vector<qint64> times[2];
    for (int f = 0; f < kFiles; ++f)
        for (int u = 0; u < kUsers; ++u) {
            const qint64 before = timer.nsecsElapsed();
            transferQueueManager->OnQueueUploadRequested(UserName(u),
                                                         QString("%1\\file%2.bin").arg(remoteShare).arg(f, 3, 10, QChar('0')));
            times[u % 10 == 0 ? 1 : 0].push_back(timer.nsecsElapsed() - before);
        }
    const double queueSeconds = timer.nsecsElapsed() / 1e9;
    const size_t entries = d.GetType("upload_entry")->GetItems().size();
    std::printf("queued %zu uploads from %d users in %.2f s\n", entries, kUsers, queueSeconds);
    for (int k = 0; k < 2; ++k) {
        std::vector<qint64>& t = times[k];
        std::sort(t.begin(), t.end());
        qint64 sum = 0;
        for (qint64 v : t)
            sum += v;
        std::printf("  %s requests: %zu, mean %.1f us, median %.1f, p99 %.1f, max %.1f\n",
                    k ? "privileged" : "ordinary", t.size(), sum / 1e3 / t.size(), t[t.size() / 2] / 1e3,
                    t[t.size() * 99 / 100] / 1e3, t.back() / 1e3);
    }

    // One more slot each time: every start walks and renumbers the whole waiting queue.
    const int starts = 40;
    timer.restart();
    for (int k = 0; k < starts; ++k) {
        SetSetting("upload_slots", Value(2 + k));
        transferQueueManager->StartNewUploads();
    }
    const double startSeconds = timer.nsecsElapsed() / 1e9;
    std::printf("%d starts over the waiting queue: %.2f ms per StartNewUploads; %d uploads active\n", starts,
                startSeconds * 1e3 / starts, transferQueueManager->ActiveUploadCount());

    // Nothing to start: the common call, after every request while the slots are full.
    timer.restart();
    for (int k = 0; k < 1000; ++k)
        transferQueueManager->StartNewUploads();
    std::printf("StartNewUploads with every slot taken: %.2f us\n", timer.nsecsElapsed() / 1e3 / 1000);

    const bool ok = PlacesMatchRecomputation();
    std::printf("places in line agree with a plain sort of the queue: %s\n", ok ? "yes" : "NO");
    return ok ? 0 : 1;
}
