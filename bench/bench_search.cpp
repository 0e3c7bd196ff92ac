// Search answers and share lists at scale. An index of 1,000,000 shared files (1,000 folders of
// 1,000, tokenised as the walk does) answers five kinds of query; each is timed whole (match,
// access rule, records, compression) next to a plain intersection of the same tokens' sorted id
// lists. Then a share of 100,000 files is listed and compressed, next to compress2 at level 9
// of the same bytes alone, and its compressed size is set against the 10 MiB frame limit.
#include "bench/benchutil.h"
#include "model/zlibstream.h"

#include <QCoreApplication>

#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <unordered_map>
#include <vector>

namespace {

int g_folders = 1000;  // the index holds g_folders * 1,000 files; a first argument changes it
const int kFilesPerFolder = 1000;
const int kCommonWords = 100;    // each in about 10,000 files
const int kMidWords = 5000;      // each in about 200 files
const int kRareWords = 100000;   // each in about 10 files
const int kListFolders = 100;    // the share list: 100 folders of 1,000 files
const size_t kFrameLimit = 10485760;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ItemPtr AddFile(ItemPtr folder, const QString& name, long long size)
{
    ItemPtr file = d.GetType("shared_file")->NewItem();
    file += folder;
    file += d.GetType("shared_file_name")->GetItem(name);
    file += d.GetType("shared_file_size")->GetItem(Value(size));
    return file;
}

// Median and rate of a function run for about a second (at least 5 times).
template <typename F>
void Time(const char* label, F run, const char* note = "")
{
    std::vector<double> times;
    const double start = Now();
    while (times.size() < 5 || (Now() - start < 1.0 && times.size() < 200000)) {
        const double t0 = Now();
        run();
        times.push_back(Now() - t0);
    }
    const double total = Now() - start;
    std::sort(times.begin(), times.end());
    printf("  %-34s %10.0f per s   median %9.1f us   %s\n", label, times.size() / total,
           times[times.size() / 2] * 1e6, note);
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc > 1)
        g_folders = std::max(1, atoi(argv[1]) / kFilesPerFolder);
    QTemporaryDir dir;
    benchutil::StartCore(dir);
    PeerMessenger::CreateData();
    new SharedFoldersManager();
    SetSetting("username", Value("me"));
    SetSetting("upload_speed", Value("12000"));

    std::mt19937 rng(16);
    std::vector<std::vector<uint32_t>> ids(1);  // plain id lists per token, for the baseline
    std::unordered_map<QString, size_t> tokenIndex;
    auto idList = [&](const QString& token) -> std::vector<uint32_t>& {
        auto it = tokenIndex.find(token);
        if (it == tokenIndex.end())
            it = tokenIndex.emplace(token, ids.size()).first, ids.emplace_back();
        return ids[it->second];
    };

    // The searched index: given to one group of the user list.
    double t0 = Now();
    ItemPtr root = sharedFoldersManager->AddSharedFolder("/bench/share");
    root += d.GetType("user_list_group")->GetItem("searchers");
    d.GetType("user")->GetItem("lisa").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("searchers");
    uint32_t id = 0;
    for (int f = 0; f < g_folders; ++f) {
        const QString path = QString("/bench/share/d%1").arg(f, 3, 10, QChar('0'));
        ItemPtr folder = d.GetType("shared_file_folder")->GetItem(path);
        folder += root;
        for (int k = 0; k < kFilesPerFolder; ++k, ++id) {
            const int common = int(rng() % kCommonWords), mid = int(rng() % kMidWords), rare = int(rng() % kRareWords);
            const QString name = QString("f%1 common%2 mid%3 rare%4.mp3")
                                     .arg(id, 7, 10, QChar('0'))
                                     .arg(common, 2, 10, QChar('0'))
                                     .arg(mid, 4, 10, QChar('0'))
                                     .arg(rare, 6, 10, QChar('0'));
            ItemPtr file = AddFile(folder, name, 3000000 + rng() % 9000000);
            sharedFoldersManager->TokenizeSharedFile(file);
            for (const QString& token : {QString("common%1").arg(common, 2, 10, QChar('0')),
                                          QString("mid%1").arg(mid, 4, 10, QChar('0')),
                                          QString("rare%1").arg(rare, 6, 10, QChar('0')), QString("mp3")})
                idList(token).push_back(id);
        }
    }
    printf("Index of %u files built in %.1f s (%zu search tokens)\n", id, Now() - t0,
           d.GetType("search_token")->ItemCount());
    fflush(stdout);

    // Tokens picked from what was generated: a rare one, and a mid word with a common word.
    const QString rare = d.GetType("search_token")->HasItem(QString("rare000123")) ? "rare000123" : "rare000124";
    const QString mid = "mid0456";
    QString common;
    for (int c = 0; c < kCommonWords && common.isEmpty(); ++c) {
        const QString w = QString("common%1").arg(c, 2, 10, QChar('0'));
        std::vector<uint32_t> both;
        std::set_intersection(idList(w).begin(), idList(w).end(), idList(mid).begin(), idList(mid).end(),
                              std::back_inserter(both));
        if (both.size() >= 2)
            common = w;
    }

    struct Query
    {
        const char* label;
        QString text;
        QStringList tokens;  // the whole words, for the baseline
    };
    const std::vector<Query> queries = {
        {"absent token", "nosuchword", {"nosuchword"}},
        {"rare token", rare, {rare}},
        {"token in every file", "mp3", {"mp3"}},
        {"two tokens", mid + " " + common, {mid, common}},
        {"token and an exclusion", mid + " -" + common, {mid}},
    };
    printf("\nSearch answers over %u files (user in the group given the share):\n", id);
    for (const Query& q : queries) {
        const MemStream reply = sharedFoldersManager->BuildSearchReply("lisa", 7, q.text);
        size_t files = 0;
        if (reply.GetWriteIndex() > 0) {
            std::string body;
            Inflate(reply.GetBuffer() + 4, reply.GetWriteIndex() - 4, body);
            files = uint8_t(body[10]) | uint8_t(body[11]) << 8;  // after "me" and the token
        }
        char note[64];
        snprintf(note, sizeof note, reply.GetWriteIndex() ? "reply of %zu files, %zu bytes" : "no reply", files,
                 reply.GetWriteIndex());
        Time(q.label, [&] { sharedFoldersManager->BuildSearchReply("lisa", 7, q.text); }, note);
        if (reply.GetWriteIndex() > 0) {
            std::string body;
            Inflate(reply.GetBuffer() + 4, reply.GetWriteIndex() - 4, body);
            Time("  of which compress2 alone", [&] {
                uLongf n = compressBound(uLong(body.size()));
                std::vector<Bytef> out(n);
                compress2(out.data(), &n, reinterpret_cast<const Bytef*>(body.data()), uLong(body.size()), 9);
            });
        }
    }
    printf("Plain intersection of the sorted id lists of the same whole words:\n");
    for (const Query& q : queries) {
        std::vector<const std::vector<uint32_t>*> lists;
        for (const QString& t : q.tokens)
            lists.push_back(&idList(t));
        std::sort(lists.begin(), lists.end(), [](auto a, auto b) { return a->size() < b->size(); });
        size_t found = 0;
        Time(q.label, [&] {
            std::vector<uint32_t> result(*lists.front());
            for (size_t k = 1; k < lists.size(); ++k) {
                std::vector<uint32_t> next;
                std::set_intersection(result.begin(), result.end(), lists[k]->begin(), lists[k]->end(),
                                      std::back_inserter(next));
                result.swap(next);
            }
            found = result.size();
        });
        (void)found;
    }

    // The share list: 100,000 files given to one group.
    ItemPtr listed = sharedFoldersManager->AddSharedFolder("/bench/music");
    listed += d.GetType("user_list_group")->GetItem("friends");
    d.GetType("user")->GetItem("gina").NewItem("in_user_list") += d.GetType("user_list_group")->GetItem("friends");
    for (int f = 0; f < kListFolders; ++f) {
        const QString path = QString("/bench/music/Artist %1/Album %2").arg(f / 10).arg(f);
        ItemPtr folder = d.GetType("shared_file_folder")->GetItem(path);
        folder += listed;
        for (int k = 0; k < kFilesPerFolder; ++k) {
            ItemPtr file = AddFile(folder, QString("%1 - Track %2 - Title words %3.mp3").arg(f).arg(k).arg(rng() % 100000),
                                   3000000 + rng() % 9000000);
            file += d.GetType("bitrate")->GetItem(int(128 + 32 * (rng() % 6)));
            file += d.GetType("bitrate_mode")->GetItem(rng() % 4 ? "cbr" : "vbr");
        }
    }
    printf("\nShare list of %d files (user in the group):\n", kListFolders * kFilesPerFolder);
    MemStream message = sharedFoldersManager->GetSharedFilesMessage("gina");
    FileInfoMap files;
    AttributeTranslationTable table;
    sharedFoldersManager->GetSharedFilesAsUserShare("gina", files, table);
    MemStream body;
    body.Write(files);
    body.Write(table);
    Time("build, write and compress", [&] { sharedFoldersManager->GetSharedFilesMessage("gina"); });
    Time("  of which: build the map", [&] {
        FileInfoMap m;
        sharedFoldersManager->GetSharedFilesAsUserShare("gina", m, table);
    });
    Time("compress2 level 9 alone", [&] {
        uLongf n = compressBound(uLong(body.GetWriteIndex()));
        std::vector<Bytef> out(n);
        compress2(out.data(), &n, reinterpret_cast<const Bytef*>(body.GetBuffer()), uLong(body.GetWriteIndex()), 9);
    });
    printf("  inner body %zu bytes, message %zu bytes (%.1f%% of the %zu-byte frame limit)\n", body.GetWriteIndex(),
           message.GetWriteIndex(), 100.0 * double(message.GetWriteIndex()) / double(kFrameLimit), kFrameLimit);
    fflush(stdout);
    _exit(0);  // the graph of millions of items needs no tidying before the process ends
}
