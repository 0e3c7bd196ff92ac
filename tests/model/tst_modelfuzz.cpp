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

// AddressSanitizer brings its own allocator, which these replacements would fight; it checks
// the reads itself, so only the allocation-size measure is lost in such builds.
#if !defined(__SANITIZE_ADDRESS__)
void* Allocate(size_t n)
{
    if (g_tracking.load(std::memory_order_relaxed)) {
        size_t seen = g_largest.load(std::memory_order_relaxed);
        while (n > seen && !g_largest.compare_exchange_weak(seen, n))
            ;
    }
    void* p = std::malloc(n ? n : 1);
    if (!p)
        throw std::bad_alloc();
    return p;
}
#endif
}  // namespace

#if !defined(__SANITIZE_ADDRESS__)
void* operator new(size_t n)
{
    return Allocate(n);
}
void* operator new[](size_t n)
{
    return Allocate(n);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, size_t) noexcept
{
    std::free(p);
}
#endif

namespace {

// Anything above this would mean an allocation sized from a claimed count: the largest honest
// one is a string at the 131072-byte cap.
const size_t kAllocationLimit = 1 << 20;

class Tracking
{
public:
    Tracking()
    {
        g_largest = 0;
        g_tracking = true;
    }
    ~Tracking() { g_tracking = false; }
};

// Input that looks enough like the real thing to get past the first field: small counts,
// counts at and around the caps, short strings, and random bytes.
QByteArray Plausible(QRandomGenerator& rng)
{
    static const uint32_t special[] = {0, 1, 2, 3, 131072, 131073, 0x7fffffffu, 0x80000000u, 0xffffffffu, 5};
    QByteArray out;
    const int tokens = static_cast<int>(rng.bounded(12));
    for (int t = 0; t < tokens; ++t) {
        switch (rng.bounded(4)) {
        case 0: {
            const uint32_t v = special[rng.bounded(10)];
            out.append(reinterpret_cast<const char*>(&v), 4);
            break;
        }
        case 1: {
            const uint32_t n = rng.bounded(6);
            out.append(reinterpret_cast<const char*>(&n), 4);
            for (uint32_t k = 0; k < n; ++k)
                out.append(static_cast<char>(rng.bounded(256)));
            break;
        }
        case 2:
            out.append(static_cast<char>(rng.bounded(3)));
            break;
        default:
            for (int k = static_cast<int>(rng.bounded(9)); k > 0; --k)
                out.append(static_cast<char>(rng.bounded(256)));
        }
    }
    return out;
}

QByteArray Mutated(QRandomGenerator& rng, const QByteArray& valid)
{
    QByteArray out = valid;
    switch (rng.bounded(3)) {
    case 0:
        out.truncate(static_cast<int>(rng.bounded(out.size() + 1)));
        break;
    case 1:
        for (int k = static_cast<int>(rng.bounded(4)) + 1; k > 0 && !out.isEmpty(); --k)
            out[static_cast<int>(rng.bounded(out.size()))] = static_cast<char>(rng.bounded(256));
        break;
    default:
        out.insert(static_cast<int>(rng.bounded(out.size() + 1)), Plausible(rng));
    }
    return out;
}

template <typename T>
void ReadAll(const QByteArray& bytes)
{
    MemStream s;
    s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    T value{};
    while (s.GetPendingReadLength() > 0) {
        const size_t before = s.GetPendingReadLength();
        if (!s.Read(value))
            break;
        // A successful read of these types always consumes something.
        QVERIFY(s.GetPendingReadLength() < before);
    }
    QVERIFY(s.GetReadIndex() <= s.GetWriteIndex());
}

void EveryReader(const QByteArray& bytes)
{
    ReadAll<int>(bytes);
    ReadAll<QString>(bytes);
    ReadAll<std::string>(bytes);
    ReadAll<std::list<int>>(bytes);
    ReadAll<std::list<QString>>(bytes);
    ReadAll<std::set<QString>>(bytes);
    ReadAll<std::vector<uint32_t>>(bytes);
    ReadAll<std::map<int, std::string>>(bytes);
    ReadAll<std::pair<unsigned int, int>>(bytes);
    ReadAll<FileInfoMap>(bytes);
    ReadAll<std::map<std::string, SharedFolderInfo>>(bytes);
    ReadAll<UserStats>(bytes);
    ReadAll<AttributeMap>(bytes);
    ReadAll<SharedFolderInfo>(bytes);
    ReadAll<std::set<FileInfo>>(bytes);
    // A FileInfo with a leading 0 byte reads one byte; the loop above still ends.
    ReadAll<FileInfo>(bytes);
}

QByteArray ValidShareList()
{
    FileInfoMap share;
    FileInfo f("song.mp3", 123456);
    f.attributes.extension = "mp3";
    f.attributes.Add(0, 320);
    f.attributes.Add(2, 0);
    share["a\\b"].insert(f);
    share["a\\b"].insert(FileInfo("x", 1));
    share["c"];
    MemStream s;
    s.Write(share);
    UserStats stats;
    stats.averageSpeed = 99;
    s.Write(stats);
    s.Write(QStringLiteral("tail"));
    return s.ToByteArray();
}

}  // namespace

class TestModelFuzz : public QObject
{
    Q_OBJECT

private slots:
    void streamReaders();
    void load();
};

void TestModelFuzz::streamReaders()
{
    QRandomGenerator rng(20240611);
    const QByteArray valid = ValidShareList();
    Tracking tracking;
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes;
        switch (round % 3) {
        case 0:
            bytes.resize(static_cast<int>(rng.bounded(64)));
            for (char& c : bytes)
                c = static_cast<char>(rng.bounded(256));
            break;
        case 1:
            bytes = Plausible(rng);
            break;
        default:
            bytes = Mutated(rng, valid);
        }
        EveryReader(bytes);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable("input " + bytes.toHex()));
    }
    QVERIFY2(g_largest < kAllocationLimit, qPrintable(QString::number(g_largest)));
}

void TestModelFuzz::load()
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
    saver.AddSavedType("alpha");
    saver.AddSavedType("beta");
    saver.AddSavedType("flag");
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
        QByteArray bytes;
        if (round % 4 == 0) {
            bytes = Plausible(rng);
        } else {
            bytes = Mutated(rng, valid);
        }
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(bytes);
        out.close();
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

QTEST_GUILESS_MAIN(TestModelFuzz)
#include "tst_modelfuzz.moc"
