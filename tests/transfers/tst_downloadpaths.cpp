#include "transfers/downloadpaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestDownloadPaths : public QObject
{
    Q_OBJECT

private slots:
    void folderText_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<int>("level");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<QString>("expected");
        const QString base = QStringLiteral("\\home\\user\\Downloads");
        const auto row = [&](const char* name, const QString& remote, int level, bool complete, const QString& rest) {
            QTest::newRow(name) << remote << level << complete << base + rest;
        };
        row("level 0", "music\\Artist\\Album", 0, false, "\\downloading\\Album");
        row("level 1", "music\\Artist\\Album", 1, true, "\\complete\\Artist\\Album");
        row("trailing backslash", "music\\Artist\\Album\\", 1, true, "\\complete\\Artist\\Album");
        row("trailing slash", "music/Artist/Album/", 1, true, "\\complete\\Artist\\Album");
        row("no remote folder", "", 3, true, "\\complete");
        row("level beyond the depth", "Artist\\Album", 5, false, "\\downloading\\Artist\\Album");
        row("leading separator", "\\Album", 4, false, "\\downloading\\Album");
        // What a peer sends is never a way out of the download folder.
        row("dot-dot folders", "..\\..", 1, false, "\\downloading\\_\\_");
        row("control characters", QString::fromUtf8("a\x01\x7f\n.."), 0, false, "\\downloading\\a..");
        row("only control characters", QString::fromUtf8("x\\..\x01"), 0, true, "\\complete\\_");
    }
    void folderText()
    {
        QFETCH(QString, remote);
        QFETCH(int, level);
        QFETCH(bool, complete);
        QFETCH(QString, expected);
        QCOMPARE(DownloadFolderText(QStringLiteral("/home/user/Downloads"), complete, remote, level), expected);
    }

    void safeComponent_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("hidden") << ".bashrc" << ".bashrc";
        QTest::newRow("empty") << "" << "_";
        QTest::newRow("dot") << "." << "_";
        QTest::newRow("dot-dot") << ".." << "_";
        QTest::newRow("separators") << "a/b\\c" << "a_b_c";
        QTest::newRow("nul and controls") << QString::fromUtf8("a\0b\tc", 5) << "abc";
        QTest::newRow("dot-dot hidden by a control") << QString::fromUtf8(".\x1f.") << "_";
    }
    void safeComponent()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(SafeDownloadComponent(name), expected);
    }

    void insideFolder()
    {
        QVERIFY(LiesInsideFolder("/h/dl/downloading", "/h/dl/downloading/Album/a.mp3"));
        QVERIFY(LiesInsideFolder("/h/dl/downloading/", "/h/dl/downloading/a"));
        QVERIFY(!LiesInsideFolder("/h/dl/downloading", "/h/dl/downloading"));
        QVERIFY(!LiesInsideFolder("/h/dl/downloading", "/h/dl/downloading2/a"));
        QVERIFY(!LiesInsideFolder("/h/dl/downloading", "/h/dl/downloading/../../.bashrc"));
        QVERIFY(!LiesInsideFolder("/h/dl/downloading", "/h/dl/downloading/x/../.."));
        QVERIFY(LiesInsideFolder("/", "/a"));
    }

    void freeFileName()
    {
        QTemporaryDir dir;
        const auto touch = [&](const QString& name) {
            QFile f(dir.filePath(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        };
        touch("a.mp3");
        QCOMPARE(FreeFileName(dir.path(), "a.mp3"), QStringLiteral("a (1).mp3"));
        touch("a (1).mp3");
        QCOMPARE(FreeFileName(dir.path(), "a.mp3"), QStringLiteral("a (2).mp3"));
        QVERIFY(QDir(dir.path()).mkdir("b (1)"));  // a folder of that name is taken too
        QCOMPARE(FreeFileName(dir.path(), "b"), QStringLiteral("b (2)"));
        QCOMPARE(FreeFileName(dir.path(), ".hidden"), QStringLiteral(".hidden (1)"));
        QCOMPARE(FreeFileName(dir.path(), "x.tar.gz"), QStringLiteral("x.tar (1).gz"));
        QCOMPARE(FreeFileName(dir.path(), "%2.%1"), QStringLiteral("%2 (1).%1"));
    }
};

QTEST_GUILESS_MAIN(TestDownloadPaths)
#include "tst_downloadpaths.moc"
