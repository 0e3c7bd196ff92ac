// Names from the network turned into one component of a local path.

#include "model/helpers.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestSafeFileName : public QObject
{
    Q_OBJECT

private slots:
    void mapsUnsafeNames_data();
    void mapsUnsafeNames();
    void staysInItsFolder();
};

void TestSafeFileName::mapsUnsafeNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("safe");
    QTest::newRow("plain") << "lobby" << "lobby";
    QTest::newRow("inner dots and spaces") << "a.b c..d" << "a.b c..d";
    QTest::newRow("slash") << "a/b" << "a_b";
    QTest::newRow("backslash") << "a\\b" << "a_b";
    QTest::newRow("nul") << QString("a") + QChar(0) + "b" << "a_b";
    QTest::newRow("dot") << "." << "_";
    QTest::newRow("dot dot") << ".." << "_.";
    QTest::newRow("hidden") << ".Tavrinel" << "_Tavrinel";
    QTest::newRow("climbing") << "../../x" << "_._.._x";
    QTest::newRow("absolute") << "/etc/passwd" << "_etc_passwd";
    QTest::newRow("empty") << "" << "_";
    QTest::newRow("unicode") << QString::fromUtf8("Müller/Ω") << QString::fromUtf8("Müller_Ω");
}

void TestSafeFileName::mapsUnsafeNames()
{
    QFETCH(QString, name);
    QFETCH(QString, safe);
    QCOMPARE(SafeFileName(name), safe);
}

void TestSafeFileName::staysInItsFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString folder = QDir(dir.path()).canonicalPath();
    for (const QString& name : {QString(".."), QString("."), QString("../.."), QString("..\\..\\x"),
                                QString("a/../../b"), QString("/"), QString()}) {
        const QString path = folder + "/" + SafeFileName(name) + ".log";
        QCOMPARE(QFileInfo(path).absolutePath(), folder);
        QCOMPARE(QDir::cleanPath(path), path);
    }
}

QTEST_MAIN(TestSafeFileName)
#include "tst_safefilename.moc"
