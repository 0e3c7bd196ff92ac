// Blocks handed out by size never overlap a live block, keep their bytes until given back, and
// are reused once given back, whatever the mix of sizes (pooled or not).
#include "model/smallblocks.h"

#include <QtTest>

#include <cstring>
#include <map>
#include <random>
#include <vector>

class TestSmallBlocks : public QObject
{
    Q_OBJECT

private slots:
    void mixedSizes_data()
    {
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<int>("count");
        QTest::newRow("pointer-sized") << 8 << 5000;
        QTest::newRow("every pooled size") << int(smallblocks::kMax) << 20000;
        QTest::newRow("beside larger blocks") << int(smallblocks::kMax) * 4 << 3000;
    }
    void mixedSizes()
    {
        QFETCH(int, maxBytes);
        QFETCH(int, count);
        std::mt19937 random(static_cast<unsigned>(maxBytes));
        struct Block
        {
            unsigned char* p;
            size_t bytes;
            unsigned char fill;
        };
        std::vector<Block> live;
        const auto check = [&live]() {
            std::map<unsigned char*, size_t> spans;
            for (const Block& b : live) {
                for (size_t k = 0; k < b.bytes; ++k)
                    if (b.p[k] != b.fill)
                        return false;
                spans[b.p] = b.bytes;
            }
            unsigned char* end = nullptr;
            for (const auto& s : spans) {
                if (end && s.first < end)
                    return false;
                end = s.first + s.second;
            }
            return true;
        };
        for (int round = 0; round < 3; ++round) {
            for (int k = 0; k < count; ++k) {
                const size_t bytes = 1 + random() % size_t(maxBytes);
                const unsigned char fill = static_cast<unsigned char>(random());
                auto* p = static_cast<unsigned char*>(smallblocks::Get(bytes));
                std::memset(p, fill, bytes);
                live.push_back({p, bytes, fill});
            }
            QVERIFY(check());
            // Every other block back; the next round takes their places.
            std::vector<Block> kept;
            for (size_t k = 0; k < live.size(); ++k) {
                if (k % 2)
                    smallblocks::Put(live[k].p, live[k].bytes);
                else
                    kept.push_back(live[k]);
            }
            live.swap(kept);
            QVERIFY(check());
        }
        for (const Block& b : live)
            smallblocks::Put(b.p, b.bytes);
        smallblocks::Put(nullptr, 8);  // nothing to give back
    }
};

QTEST_APPLESS_MAIN(TestSmallBlocks)
#include "tst_smallblocks.moc"
