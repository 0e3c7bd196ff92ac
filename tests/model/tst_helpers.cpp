#include "model/helpers.h"
#include "model/md5.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

#include <memory>

namespace {

QString Hex(MD5& md5)
{
    std::unique_ptr<char[]> s(md5.hex_digest());
    return QString::fromLatin1(s.get());
}

}  // namespace

class TestHelpers : public QObject
{
    Q_OBJECT

private slots:
    void getBit();
    void stringReplace();
    void firstOf();
    void reversePathname_data();
    void reversePathname();
    void commafy();
    void formatSeconds();
    void escapeAndLinks();
    void absoluteFileName();
    void extension();
    void fileNameAndFolder_data();
    void fileNameAndFolder();
    void parentFolder();
    void safeFileName_data();
    void safeFileName();
    void focusWidget();
    void md5Vectors();
    void md5Misuse();
};

void TestHelpers::getBit()
{
    QVERIFY(GetBit(1, 1));
    QVERIFY(!GetBit(1, 2));
    QVERIFY(GetBit(0x80000000u, 32));
    // n - 1 wraps modulo 32.
    QVERIFY(GetBit(1, 33));
    QVERIFY(GetBit(0x80000000u, 0));
}

void TestHelpers::stringReplace()
{
    QCOMPARE(StringReplace("a.b.c", ".", "::"), std::string("a::b::c"));
    // A replacement holding the search text is not searched again.
    QCOMPARE(StringReplace("xax", "a", "aa"), std::string("xaax"));
    QCOMPARE(StringReplace("aaaa", "aa", "b"), std::string("bb"));
    QCOMPARE(StringReplace("abc", "z", "y"), std::string("abc"));
    // An empty search text leaves the input as it is (instead of never ending).
    QCOMPARE(StringReplace("abc", "", "y"), std::string("abc"));
}

void TestHelpers::firstOf()
{
    QCOMPARE(findFirstOf(QStringLiteral("hello world"), QStringLiteral("ow"), 0), 4);
    QCOMPARE(findFirstOf(QStringLiteral("hello world"), QStringLiteral("ow"), 5), 6);
    QCOMPARE(findFirstOf(QStringLiteral("hello"), QStringLiteral("O"), 0), -1);
    QCOMPARE(findFirstOf(QStringLiteral("hello"), QString(), 0), -1);
    QCOMPARE(findFirstOf(QStringLiteral("hello"), QStringLiteral("h"), 1), -1);
}

void TestHelpers::reversePathname_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reversed");
    QTest::newRow("slashes") << "a/b/c" << "c/b/a";
    QTest::newRow("backslashes") << "a\\b\\c" << "c/b/a";
    QTest::newRow("mixed trailing") << "a\\b/c\\/" << "c/b/a";
    QTest::newRow("leading") << "/a/b" << "b/a";
    QTest::newRow("doubled") << "a//b" << "b/a";
    QTest::newRow("single") << "a" << "a";
    QTest::newRow("separators only") << "\\/\\" << "";
    QTest::newRow("empty") << "" << "";
}

void TestHelpers::reversePathname()
{
    QFETCH(QString, path);
    QFETCH(QString, reversed);
    QCOMPARE(ReversePathname(path), reversed);
}

void TestHelpers::commafy()
{
    QCOMPARE(CommafyNumber(0), QString());
    QCOMPARE(CommafyNumber(-5), QString());
    QCOMPARE(CommafyNumber(7), QStringLiteral("7"));
    QCOMPARE(CommafyNumber(999), QStringLiteral("999"));
    QCOMPARE(CommafyNumber(1000), QStringLiteral("1,000"));
    QCOMPARE(CommafyNumber(1234567), QStringLiteral("1,234,567"));
    QCOMPARE(CommafyNumber(9223372036854775807LL), QStringLiteral("9,223,372,036,854,775,807"));
}

void TestHelpers::formatSeconds()
{
    QCOMPARE(FormatSeconds(0), QStringLiteral("0m0s"));
    QCOMPARE(FormatSeconds(59), QStringLiteral("0m59s"));
    QCOMPARE(FormatSeconds(3600), QStringLiteral("1h0m0s"));
    QCOMPARE(FormatSeconds(3661), QStringLiteral("1h1m1s"));
    QCOMPARE(FormatSeconds(86400), QStringLiteral("1d0h0m0s"));
    QCOMPARE(FormatSeconds(90061), QStringLiteral("1d1h1m1s"));
}

void TestHelpers::escapeAndLinks()
{
    QCOMPARE(EscapeHTML(QStringLiteral("a<b>&c\"'")), QStringLiteral("a&lt;b&gt;&amp;c\"'"));
    QCOMPARE(EscapeHTML(QStringLiteral("&lt;")), QStringLiteral("&amp;lt;"));

    QCOMPARE(ConvertLinks(QStringLiteral("see http://x.org/a?b=1.")),
             QStringLiteral("see <a href=\"http://x.org/a?b=1\">http://x.org/a?b=1</a>."));
    QCOMPARE(ConvertLinks(QStringLiteral("https://a.b, and http://c.d")),
             QStringLiteral("<a href=\"https://a.b\">https://a.b</a>, and <a href=\"http://c.d\">http://c.d</a>"));
    // Case-sensitive, and only at a word boundary.
    QCOMPARE(ConvertLinks(QStringLiteral("HTTP://x.org")), QStringLiteral("HTTP://x.org"));
    QCOMPARE(ConvertLinks(QStringLiteral("ftp://x.org")), QStringLiteral("ftp://x.org"));
    // The pattern admits "&" and letters, so an escaped closing bracket runs into the address
    // up to its last letter.
    const QString escaped = EscapeHTML(QStringLiteral("<http://x.org>"));
    QCOMPARE(ConvertLinks(escaped),
             QStringLiteral("&lt;<a href=\"http://x.org&gt\">http://x.org&gt</a>;"));
}

void TestHelpers::absoluteFileName()
{
    QCOMPARE(GetAbsoluteFileName(QString()), QString());
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("/Home/Music/")), QStringLiteral("/home/music"));
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("C:\\Dir\\\\")), QStringLiteral("c:\\dir\\"));
    QCOMPARE(GetAbsoluteFileName(QStringLiteral("/\u00c9T\u00c9")), QStringLiteral("/\u00e9t\u00e9"));
}

void TestHelpers::extension()
{
    QCOMPARE(GetFileExtension("song.MP3"), std::string("mp3"));
    QCOMPARE(GetFileExtension("noext"), std::string());
    QCOMPARE(GetFileExtension("dir.d/file"), std::string("d/file"));
    QCOMPARE(GetFileExtension("trailing."), std::string());
    QCOMPARE(GetFileExtension("a.\xc3\x89"), std::string("\xc3\x89"));
}

void TestHelpers::fileNameAndFolder_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("folder");
    QTest::newRow("backslash") << "a\\b\\c.mp3" << "c.mp3" << "a\\b";
    QTest::newRow("slash") << "a/b/c" << "c" << "a/b";
    QTest::newRow("one trailing") << "a\\b\\" << "b" << "a";
    QTest::newRow("two trailing") << "a\\b\\\\" << "" << "a\\b";
    QTest::newRow("bare") << "name" << "name" << "name";
    QTest::newRow("empty") << "" << "" << "";
    QTest::newRow("root") << "/" << "" << "";
}

void TestHelpers::fileNameAndFolder()
{
    QFETCH(QString, path);
    QFETCH(QString, name);
    QFETCH(QString, folder);
    QCOMPARE(QString::fromStdString(GetFileName(path.toStdString())), name);
    QCOMPARE(QString::fromStdString(GetFolder(path.toStdString())), folder);
}

void TestHelpers::parentFolder()
{
    QCOMPARE(GetParentFolder(""), std::string());
    QCOMPARE(GetParentFolder("a\\b\\c\\\\"), std::string("a\\b"));
    QCOMPARE(GetParentFolder("\\\\"), std::string());
    // Only backslashes are dropped first; one slash then goes as in GetFolder.
    QCOMPARE(GetParentFolder("a/b/"), std::string("a"));
    QCOMPARE(GetParentFolder("a/b//"), std::string("a/b"));
    QCOMPARE(GetParentFolder("x"), std::string("x"));
}

// Names from the network become one component of a local path, never a way out of the folder.
void TestHelpers::safeFileName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("safe");
    QTest::newRow("plain") << "lobby" << "lobby";
    QTest::newRow("inner dots and spaces") << "a.b c..d" << "a.b c..d";
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

void TestHelpers::safeFileName()
{
    QFETCH(QString, name);
    QFETCH(QString, safe);
    QCOMPARE(SafeFileName(name), safe);
    const QString path = "/logs/" + SafeFileName(name) + ".log";
    QCOMPARE(QFileInfo(path).absolutePath(), QString("/logs"));
    QCOMPARE(QDir::cleanPath(path), path);
}

void TestHelpers::focusWidget()
{
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* outer = new QTabWidget;
    layout->addWidget(outer);
    auto* outerFirst = new QWidget;
    auto* outerSecond = new QWidget;
    outer->addTab(outerFirst, QStringLiteral("one"));
    outer->addTab(outerSecond, QStringLiteral("two"));
    auto* inner = new QTabWidget(outerSecond);
    auto* innerFirst = new QLineEdit;
    auto* innerPage = new QWidget;
    inner->addTab(innerFirst, QStringLiteral("a"));
    inner->addTab(innerPage, QStringLiteral("b"));
    auto* edit = new QLineEdit(innerPage);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(outer->currentIndex(), 0);
    QCOMPARE(inner->currentIndex(), 0);

    FocusWidget(edit);
    QCOMPARE(outer->currentIndex(), 1);
    QCOMPARE(inner->currentIndex(), 1);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));

    // The widget that is itself a page.
    FocusWidget(innerFirst);
    QCOMPARE(inner->currentIndex(), 0);
    FocusWidget(nullptr);
}

void TestHelpers::md5Vectors()
{
    const struct
    {
        const char* input;
        const char* digest;
    } vectors[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : vectors) {
        MD5 md5;
        md5.update(reinterpret_cast<unsigned char*>(const_cast<char*>(v.input)),
                   static_cast<unsigned int>(strlen(v.input)));
        md5.finalize();
        QCOMPARE(Hex(md5), QString::fromLatin1(v.digest));
    }
    // Split feeding gives the same digest.
    MD5 split;
    unsigned char a[] = {'a'};
    unsigned char bc[] = {'b', 'c'};
    split.update(a, 1);
    split.update(bc, 2);
    split.finalize();
    QCOMPARE(Hex(split), QStringLiteral("900150983cd24fb0d6963f7d28e17f72"));
}

void TestHelpers::md5Misuse()
{
    MD5 early;
    QCOMPARE(Hex(early), QString());
    early.finalize();
    // Neither a late update nor a second finalize changes the digest.
    unsigned char x[] = {'x'};
    early.update(x, 1);
    early.finalize();
    QCOMPARE(Hex(early), QStringLiteral("d41d8cd98f00b204e9800998ecf8427e"));
}

QTEST_MAIN(TestHelpers)
#include "tst_helpers.moc"
