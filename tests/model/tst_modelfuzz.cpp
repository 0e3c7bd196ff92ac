// Random, truncated and mutated input for every stream reader, every record and the save-file
// loader: nothing may crash, and no single allocation may follow a count or length that the
// input merely claims.
#include "model/datasaver.h"
#include "model/records.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<bool> g_tracking{false};
std::atomic<size_t> g_largest{0};
}  // namespace

// AddressSanitizer brings its own allocator, which these replacements would fight; it checks
// the reads itself, so only the allocation-size measure is lost in such builds.
#if !defined(__SANITIZE_ADDRESS__)
static void* Allocate(size_t n)
{
    if (g_tracking.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (n > seen && !g_largest.compare_exchange_weak(seen, n))
            ;
    }
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
#endif

namespace {

// Anything above this would mean an allocation sized from a claimed count: the largest honest
// one is a string at the 131072-byte cap.
const size_t kAllocationLimit = 1 << 20;

struct Tracking
{
    Tracking() { g_largest = 0, g_tracking = true; }
    ~Tracking() { g_tracking = false; }
};

// Input that looks enough like the real thing to get past the first field: small counts,
// counts at and around the caps, short strings, and random bytes.
QByteArray Plausible(QRandomGenerator& rng)
{
    static const uint32_t special[] = {0, 1, 2, 3, 131072, 131073, 0x7fffffffu, 0x80000000u, 0xffffffffu, 5};
    QByteArray out;
    for (int t = static_cast<int>(rng.bounded(12)); t > 0; --t) {
        switch (rng.bounded(4)) {
        case 0: out.append(reinterpret_cast<const char*>(&special[rng.bounded(10)]), 4); break;
        case 1: {
            const uint32_t n = rng.bounded(6);
            out.append(reinterpret_cast<const char*>(&n), 4);
            for (uint32_t k = 0; k < n; ++k)
                out.append(static_cast<char>(rng.bounded(256)));
            break;
        }
        case 2: out.append(static_cast<char>(rng.bounded(3))); break;
        default:
            for (int k = static_cast<int>(rng.bounded(9)); k > 0; --k)
                out.append(static_cast<char>(rng.bounded(256)));
        }
    }
    return out;
}

// A valid input cut short, with a few bytes changed, or with plausible bytes inserted.
QByteArray Mutated(QRandomGenerator& rng, QByteArray out)
{
    const int kind = static_cast<int>(rng.bounded(3));
    if (kind == 0)
        out.truncate(static_cast<int>(rng.bounded(out.size() + 1)));
    for (int k = static_cast<int>(rng.bounded(4)) + 1; kind == 1 && k > 0 && !out.isEmpty(); --k)
        out[static_cast<int>(rng.bounded(out.size()))] = static_cast<char>(rng.bounded(256));
    if (kind == 2)
        out.insert(static_cast<int>(rng.bounded(out.size() + 1)), Plausible(rng));
    return out;
}

template <typename... T>
void ReadAll(const QByteArray& bytes)
{
    auto readOne = [&bytes](auto value) {
        MemStream s;
        s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
        while (s.GetPendingReadLength() > 0) {
            const size_t before = s.GetPendingReadLength();
            if (!s.Read(value))
                break;
            // A successful read of these types always consumes something.
            QVERIFY(s.GetPendingReadLength() < before);
        }
        QVERIFY(s.GetReadIndex() <= s.GetWriteIndex());
    };
    (readOne(T{}), ...);
}

}  // namespace

class TestModelFuzz : public QObject
{
    Q_OBJECT

private slots:
    void streamReaders()
    {
        FileInfo f("song.mp3", 123456);
        f.attributes.extension = "mp3";
        f.attributes.Add(0, 320);
        FileInfoMap share{{"a\\b", {f, FileInfo("x", 1)}}, {"c", {}}};
        MemStream s;
        s.Write(share), s.Write(UserStats()), s.Write(QStringLiteral("tail"));
        const QByteArray valid = s.ToByteArray();

        QRandomGenerator rng(20240611);
        Tracking tracking;
        for (int round = 0; round < 3000; ++round) {
            const QByteArray bytes = round % 2 ? Plausible(rng) : Mutated(rng, valid);
            // A FileInfo with a leading 0 byte reads one byte; the loop still ends.
            ReadAll<int, QString, std::string, std::list<int>, std::list<QString>, std::set<QString>,
                    std::vector<uint32_t>, std::map<int, std::string>, std::pair<unsigned int, int>, FileInfoMap,
                    std::map<std::string, SharedFolderInfo>, UserStats, AttributeMap, SharedFolderInfo,
                    std::set<FileInfo>, FileInfo>(bytes);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable("input " + bytes.toHex()));
        }
        QVERIFY2(g_largest < kAllocationLimit, qPrintable(QString::number(g_largest)));
    }

    void load()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(".Tavrinel");
        Data data;
        Type* alpha = data.NewType("alpha", PrimacyRoot, false, false);
        Type* beta = data.NewType("beta", PrimacyRoot, false, true);
        Type* flag = data.NewType("flag", PrimacyLeaf, true, false);
        alpha->RelateToType(beta, Many, One, false);
        alpha->RelateToType(flag, Many, Many, false);
        DataSaver saver(&data, path);
        for (Type* type : {alpha, beta, flag})
            saver.AddSavedType(type->Name().c_str());
        for (int k = 0; k < 20; ++k) {
            ItemPtr a = alpha->NewItem(Value(k));
            a += beta->NewItem(Value(k % 3));
            if (k % 4 == 0)
                a += flag->NewItem();
        }
        QVERIFY(saver.Save());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray valid = f.readAll();
        f.close();

        QRandomGenerator rng(777);
        int loaded = 0, damaged = 0;
        Tracking tracking;
        for (int round = 0; round < 1500; ++round) {
            const QByteArray bytes = round % 4 == 0 ? Plausible(rng) : Mutated(rng, valid);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size());
            f.close();
            const DataSaver::LoadResult r = saver.Load();
            QVERIFY(r != DataSaver::LoadResult::NoFile);
            (r == DataSaver::LoadResult::Loaded ? loaded : damaged)++;
            QFile::remove(path + ".damaged");
        }
        // Both outcomes occur, so both paths were exercised.
        QVERIFY(loaded > 0);
        QVERIFY(damaged > 0);
        QVERIFY2(g_largest < kAllocationLimit, qPrintable(QString::number(g_largest)));
    }
};

QTEST_GUILESS_MAIN(TestModelFuzz)
#include "tst_modelfuzz.moc"
