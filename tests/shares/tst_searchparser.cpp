// Search texts into whole, part and excluded tokens, and paths matched against them.
#include "shares/searchparser.h"

#include <QtTest>

namespace {

QString Join(const std::set<QString>& tokens)
{
    QStringList list;
    for (const QString& t : tokens)
        list << t;
    return list.join('|');
}

} // namespace

class TestSearchParser : public QObject
{
    Q_OBJECT

private slots:
    void tokenize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("included");
        QTest::addColumn<QString>("parts");
        QTest::addColumn<QString>("excluded");
        QTest::newRow("two words") << "Abc DEF" << true << "abc|def" << "" << "";
        QTest::newRow("repeated") << "abc abc" << true << "abc" << "" << "";
        QTest::newRow("part") << "*abc" << true << "" << "abc" << "";
        QTest::newRow("excluded only") << "-abc" << false << "" << "" << "abc";
        QTest::newRow("with excluded") << "abc -def" << true << "abc" << "" << "def";
        QTest::newRow("minus last") << "abc -" << false << "abc" << "" << "";
        QTest::newRow("star last") << "abc *" << false << "abc" << "" << "";
        QTest::newRow("empty excluded") << "abc - def" << false << "abc" << "" << "";
        QTest::newRow("quoted") << "\"ab cd\"" << true << "ab cd" << "" << "";
        QTest::newRow("unclosed quote") << "\"ab cd" << true << "ab cd" << "" << "";
        QTest::newRow("quote then word") << "\"ab\"cd" << true << "ab|cd" << "" << "";
        QTest::newRow("empty quotes") << "\"\"" << false << "" << "" << "";
        QTest::newRow("quote inside") << "ab\"cd" << false << "" << "" << "";
        QTest::newRow("tab") << "ab\tcd" << true << "ab|cd" << "" << "";
        QTest::newRow("no other separator") << "rock-n-roll a,b_c/d.e" << true << "a,b_c/d.e|rock-n-roll" << ""
                                            << "";
        QTest::newRow("one prefix only") << "x -*abc --abc" << true << "x" << "" << "*abc|-abc";
        QTest::newRow("quoted excluded") << "x -\"a b\"" << true << "x" << "" << "a b";
        QTest::newRow("blank") << " \t " << false << "" << "" << "";
        QTest::newRow("empty") << "" << false << "" << "" << "";
        QTest::newRow("unicode") << QString::fromUtf8("ÄÖ *Ü") << true << QString::fromUtf8("äö")
                                 << QString::fromUtf8("ü") << "";
    }
    void tokenize()
    {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        SearchParser parser;
        QCOMPARE(parser.SetSearchText(text), usable);
        QTEST(Join(parser.GetIncludedTokenSet()), "included");
        QTEST(Join(parser.GetIncludedPartTokenSet()), "parts");
        QTEST(Join(parser.GetExcludedTokenSet()), "excluded");
    }

    void match()
    {
        SearchParser parser;
        QVERIFY(parser.IsMatch("anything at all"));
        QVERIFY(parser.SetSearchText("rain *live -demo"));
        QVERIFY(parser.IsMatch("Songs\\Rainfall\\Live Recording.mp3"));
        QVERIFY(!parser.IsMatch("Songs\\Rainfall\\Live Demo.mp3"));
        QVERIFY(!parser.IsMatch("Songs\\Sunny\\Live.mp3"));
    }

    void randomTextsNeverCrash()
    {
        for (int k = 0; k < 2000; ++k) {
            QString text;
            for (int n = QRandomGenerator::global()->bounded(12); n > 0; --n)
                text += QChar(ushort(QRandomGenerator::global()->bounded(2) ? "ab -*\"\t"[k % 7]
                                                                            : QRandomGenerator::global()->bounded(0x3000)));
            SearchParser parser;
            if (parser.SetSearchText(text))
                QVERIFY(!parser.GetIncludedTokenSet().empty() || !parser.GetIncludedPartTokenSet().empty());
            for (const QString& t : parser.GetIncludedTokenSet())
                QVERIFY(!t.isEmpty());
        }
    }
};

QTEST_MAIN(TestSearchParser)
#include "tst_searchparser.moc"
