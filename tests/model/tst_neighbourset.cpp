// The compact neighbour set against an ordered set of handles doing the same work: the same
// items, in the same order both ways, through every size it passes (one item in place, one
// array, many runs, back again).
#include "model/data.h"

#include <QtTest>

#include <random>
#include <vector>

namespace {

// The set compares addresses only: slots of one block stand in for items.
struct Items
{
    explicit Items(size_t n) : block(n * 8) {}
    Item* operator[](size_t k) { return reinterpret_cast<Item*>(block.data() + k * 8); }
    std::vector<char> block;
};

QString Mismatch(const NeighbourSet& s, const ItemSet& expected)
{
    if (s.size() != expected.size() || s.empty() != expected.empty())
        return QString("size %1, expected %2").arg(s.size()).arg(expected.size());
    if (!std::equal(s.begin(), s.end(), expected.begin(), expected.end()))
        return "forward order";
    if (!std::equal(s.rbegin(), s.rend(), expected.rbegin(), expected.rend()))
        return "reverse order";
    if (!expected.empty() && (s.front() != *expected.begin() || s.back() != *expected.rbegin()))
        return "ends";
    if (s.ToItemSet() != expected)
        return "copy";
    return QString();
}

} // namespace

class TestNeighbourSet : public QObject
{
    Q_OBJECT

private slots:
    void sameAsOrderedSet_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("order");
        for (int count : {1, 2, 5, 300, 1500, 3000})
            for (const char* order : {"ascending", "descending", "random"})
                QTest::newRow(qPrintable(QString("%1 %2").arg(count).arg(order))) << count << QString(order);
    }
    void sameAsOrderedSet()
    {
        QFETCH(int, count);
        QFETCH(QString, order);
        Items items(size_t(count) + 1);
        std::vector<size_t> sequence(static_cast<size_t>(count));
        for (size_t k = 0; k < sequence.size(); ++k)
            sequence[k] = order == "descending" ? sequence.size() - k : k;
        std::mt19937 random(static_cast<unsigned>(count));
        if (order == "random")
            std::shuffle(sequence.begin(), sequence.end(), random);

        NeighbourSet s;
        ItemSet expected;
        QVERIFY(!s.Erase(items[0]));
        for (size_t k : sequence) {
            QVERIFY(s.Insert(items[k]));
            expected.insert(items[k]);
            QVERIFY(!s.Insert(items[k]));
        }
        QCOMPARE(Mismatch(s, expected), QString());
        for (size_t k = 0; k <= sequence.size(); ++k) {
            QCOMPARE(s.Contains(items[k]), expected.count(items[k]) != 0);
            QCOMPARE(s.find(items[k]) == s.end(), expected.count(items[k]) == 0);
        }

        // The handle-set copy follows every later change.
        const ItemSet& copy = s.AsItemSet();
        // Every other item out, then the rest in shuffled order, checked along the way: runs
        // shrink, merge and the set falls back to one array and to a single item in place.
        std::shuffle(sequence.begin(), sequence.end(), random);
        for (size_t n = 0; n < sequence.size(); ++n) {
            Item* item = items[sequence[n]];
            if (n % 2 == 0) {
                QVERIFY(s.Erase(item));
                expected.erase(item);
                QVERIFY(!s.Erase(item));
            }
            if (n % 97 == 0)
                QCOMPARE(Mismatch(s, expected), QString());
        }
        QCOMPARE(Mismatch(s, expected), QString());
        QCOMPARE(copy, expected);
        std::shuffle(sequence.begin(), sequence.end(), random);
        for (size_t k : sequence) {
            if (!expected.count(items[k]))
                continue;
            QVERIFY(s.Erase(items[k]));
            expected.erase(items[k]);
            if (expected.size() < 3 || expected.size() % 101 == 0)
                QCOMPARE(Mismatch(s, expected), QString());
        }
        QVERIFY(s.empty());
        QVERIFY(s.begin() == s.end());
        QVERIFY(copy.empty());

        // Moved whole, the items and the copy go along.
        for (size_t k : sequence)
            s.Insert(items[k]);
        NeighbourSet moved(std::move(s));
        QVERIFY(s.empty());
        QCOMPARE(moved.size(), sequence.size());
        QCOMPARE(moved.AsItemSet().size(), sequence.size());
        s = std::move(moved);
        QCOMPARE(s.size(), sequence.size());
        QVERIFY(moved.empty());
    }

    // Room reserved and a copy asked for while the set is empty: both survive the growth to runs
    // and the way back.
    void copyFromTheStart_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("reserved");
        for (int count : {1, 2, 18, 700, 2000})
            for (int reserved : {0, 18, 511})
                QTest::newRow(qPrintable(QString("%1 reserving %2").arg(count).arg(reserved))) << count << reserved;
    }
    void copyFromTheStart()
    {
        QFETCH(int, count);
        QFETCH(int, reserved);
        Items items(static_cast<size_t>(count));
        std::vector<size_t> sequence(static_cast<size_t>(count));
        for (size_t k = 0; k < sequence.size(); ++k)
            sequence[k] = k;
        std::mt19937 random(static_cast<unsigned>(count + reserved));
        std::shuffle(sequence.begin(), sequence.end(), random);

        NeighbourSet s;
        s.Reserve(static_cast<size_t>(reserved));
        QVERIFY(s.empty() && s.begin() == s.end());
        const ItemSet& copy = s.AsItemSet();
        s.Reserve(static_cast<size_t>(reserved) * 2);  // a set with a copy ignores it
        ItemSet expected;
        for (size_t n = 0; n < sequence.size(); ++n) {
            QVERIFY(s.Insert(items[sequence[n]]));
            expected.insert(items[sequence[n]]);
            if (n % 131 == 0 || n + 1 == sequence.size()) {
                QCOMPARE(Mismatch(s, expected), QString());
                QCOMPARE(copy, expected);
            }
        }
        for (size_t n = 0; n < sequence.size(); ++n) {
            QVERIFY(s.Erase(items[sequence[n]]));
            expected.erase(items[sequence[n]]);
            if (n % 131 == 0 || expected.size() < 3) {
                QCOMPARE(Mismatch(s, expected), QString());
                QCOMPARE(copy, expected);
            }
        }
        QVERIFY(s.empty() && copy.empty());
    }
};

QTEST_MAIN(TestNeighbourSet)
#include "tst_neighbourset.moc"
