#include "model/helpers.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QtTest>

#include <functional>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class TestHelpers : public QObject
{
    Q_OBJECT

private slots:
    // One row per call: the helper, its input and the expected output.
    void textHelpers_data()
    {
        QTest::addColumn<QString>("helper");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char* helper, const QString& input, const QString& expected) {
            QTest::addRow("%s(%s)", helper, qPrintable(input)) << helper << input << expected;
        };
        row("ReversePathname", "a\\b/c\\/", "c/b/a");
        row("ReversePathname", "\\/\\", "");
        row("GetFileName", "a\\b\\c.mp3", "c.mp3");
        row("GetFileName", "a\\b\\\\", "");
        row("GetFolder", "a\\b\\c.mp3", "a\\b");
        row("GetFolder", "a\\b\\\\", "a\\b");
        // A bare name from a peer has no folder at all.
        row("GetRemoteFolder", "a.mp3", "");
        row("GetRemoteFolder", "a\\b\\c.mp3\\", "a\\b");
        // Only backslashes are dropped first; one slash then goes as in GetFolder.
        row("GetParentFolder", "a\\b\\c\\\\", "a\\b");
        row("GetParentFolder", "a/b//", "a/b");
        row("GetFileExtension", "song.MP3", "mp3");
        row("GetFileExtension", "dir.d/file", "d/file");
        row("GetAbsoluteFileName", "/Home/Music/", "/home/music");
        row("GetAbsoluteFileName", "C:\\Dir\\\\", "c:\\dir\\");
        row("GetAbsoluteFileName", "/\u00c9T\u00c9", "/\u00e9t\u00e9");
        row("FormatSeconds", "3661", "1h1m1s");
        row("CommafyNumber", "0", "");
        row("CommafyNumber", "9223372036854775807", "9,223,372,036,854,775,807");
        row("EscapeHTML", "a<b>&c\"'", "a&lt;b&gt;&amp;c\"'");
        row("ConvertLinks", "see http://x.org/a?b=1, https://c.d.",
            "see <a href=\"http://x.org/a?b=1\">http://x.org/a?b=1</a>, <a href=\"https://c.d\">https://c.d</a>.");
        // Case-sensitive, and only the two schemes.
        row("ConvertLinks", "HTTP://x.org ftp://x.org", "HTTP://x.org ftp://x.org");
        // Raw text in, HTML out: an address ends where the raw text's bracket or quote stands, and
        // the text around and inside it is escaped.
        row("ConvertLinks", "<http://a.b> & \"http://c.d/?x=1&y=2\"",
            "&lt;<a href=\"http://a.b\">http://a.b</a>&gt; &amp; \"<a href=\"http://c.d/?x=1&amp;y=2\">"
            "http://c.d/?x=1&amp;y=2</a>\"");
        // Names from the network become one component of a local path, never a way out of it.
        row("SafeFileName", "a\\b", "a_b");
        row("SafeFileName", QString("a") + QChar(0) + "b", "a_b");
        row("SafeFileName", ".", "_");
        row("SafeFileName", "..", "_.");
        row("SafeFileName", "../../x", "_._.._x");
        row("SafeFileName", "", "_");
        row("SafeFileName", QString::fromUtf8("Müller/Ω"), QString::fromUtf8("Müller_Ω"));
    }

    void textHelpers()
    {
        QFETCH(QString, helper);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const std::string raw = input.toStdString();
        const std::map<QString, std::function<QString()>> call = {
            {"ReversePathname", [&] { return ReversePathname(input); }},
            {"GetFileName", [&] { return Q(GetFileName(raw)); }},
            {"GetFolder", [&] { return Q(GetFolder(raw)); }},
            {"GetRemoteFolder", [&] { return Q(GetRemoteFolder(raw)); }},
            {"GetParentFolder", [&] { return Q(GetParentFolder(raw)); }},
            {"GetFileExtension", [&] { return Q(GetFileExtension(raw)); }},
            {"GetAbsoluteFileName", [&] { return GetAbsoluteFileName(input); }},
            {"FormatSeconds", [&] { return FormatSeconds(input.toLong()); }},
            {"CommafyNumber", [&] { return CommafyNumber(input.toLongLong()); }},
            {"EscapeHTML", [&] { return EscapeHTML(input); }},
            {"ConvertLinks", [&] { return ConvertLinks(input); }},
            {"SafeFileName", [&] { return SafeFileName(input); }},
        };
        QCOMPARE(call.at(helper)(), expected);
        if (helper == "SafeFileName") {
            const QString path = "/logs/" + expected + ".log";
            QCOMPARE(QFileInfo(path).absolutePath(), QString("/logs"));
            QCOMPARE(QDir::cleanPath(path), path);
        }
    }

    // Random texts of the characters that matter to markup and to addresses: the HTML made of
    // each is well formed, its links are whole addresses, and it reads back as the text.
    void convertLinksIsWellFormed()
    {
        const QStringList pieces{"http://", "https://", "<", ">", "&", "\"", "'", ";", "&lt;", "&gt;", "&amp;",
                                 "a", "B", "7", ".", "/", "?", "=", ",", " ", "\n", "%", "#", "<a href=\"x\">",
                                 "</a>", "\u00e9"};
        static const QRegularExpression anchor("<a href=\"([^\"<>]*)\">([^<>]*)</a>");
        static const QRegularExpression entity("&(?!amp;|lt;|gt;)");
        QRandomGenerator random(41);
        for (int round = 0; round < 20000; ++round) {
            QString text;
            for (int k = random.bounded(12); k > 0; --k)
                text += pieces.at(random.bounded(pieces.size()));
            const QString html = ConvertLinks(text);
            QString rest;
            int done = 0;
            for (auto it = anchor.globalMatch(html); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                QCOMPARE(match.captured(1), match.captured(2));
                // A whole address: it neither ends inside an entity nor holds a bracket of the text.
                const QString address = match.captured(1);
                QVERIFY2(address.startsWith("http://") || address.startsWith("https://"), qPrintable(html));
                QVERIFY2(!entity.match(address).hasMatch() && !address.contains("&lt;") && !address.contains("&gt;"),
                         qPrintable(html));
                rest += html.mid(done, match.capturedStart() - done) + match.captured(2);
                done = match.capturedEnd();
            }
            rest += html.mid(done);
            QVERIFY2(!rest.contains('<') && !rest.contains('>') && !entity.match(rest).hasMatch(), qPrintable(html));
            rest.replace("&lt;", "<").replace("&gt;", ">").replace("&amp;", "&");
            QCOMPARE(rest, text);
        }
    }

    void bitsAndSearches()
    {
        QVERIFY(GetBit(1, 1) && !GetBit(1, 2) && GetBit(0x80000000u, 32));
        // n - 1 wraps modulo 32.
        QVERIFY(GetBit(1, 33) && GetBit(0x80000000u, 0));
        QCOMPARE(findFirstOf(QStringLiteral("hello world"), QStringLiteral("ow"), 5), 6);
        QCOMPARE(findFirstOf(QStringLiteral("hello"), QStringLiteral("O"), 0), -1);
        QCOMPARE(findFirstOf(QStringLiteral("hello"), QString(), 0), -1);
        // A replacement holding the search text is not searched again.
        QCOMPARE(StringReplace("xax", "a", "aa"), std::string("xaax"));
        QCOMPARE(StringReplace("aaaa", "aa", "b"), std::string("bb"));
        // An empty search text leaves the input as it is (instead of never ending).
        QCOMPARE(StringReplace("abc", "", "y"), std::string("abc"));
    }

    // Stored times are Qt's text date form with English names, whatever the desktop's language:
    // the bytes an English or C desktop wrote before, read back to the second.
    void storedTimes()
    {
        const QDateTime evening(QDate(2026, 12, 5), QTime(19, 31, 47));
        QCOMPARE(StoredTimeText(evening), QString("Sat Dec 5 19:31:47 2026"));
        QCOMPARE(StoredTimeText(QDateTime(QDate(2025, 1, 17), QTime(7, 5, 9, 999))),
                 QString("Fri Jan 17 07:05:09 2025"));
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        QCOMPARE(StoredTimeText(evening), QString("Sat Dec 5 19:31:47 2026"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(StoredTimeText(QDateTime()), QString());

        const QLocale::Language desktop = QLocale::system().language();
        const bool english = desktop == QLocale::C || desktop == QLocale::English;
        for (QDateTime t(QDate(2024, 1, 1), QTime(0, 0, 7)); t.date().year() == 2024; t = t.addSecs(86400 + 3607)) {
            const QString text = StoredTimeText(t);
            if (english)
                QCOMPARE(text, t.toString(Qt::TextDate));
            QCOMPARE(StoredTimeFromText(text), t);
        }
        // Blanks as Qt's reader allows them; what is not a time reads as none.
        QCOMPARE(StoredTimeFromText("Sat  Dec 5 19:31:47  2026 "), evening);
        for (const char* bad : {"", "x", "Sat Dec 5 19:31:47", "Sat Dex 5 19:31:47 2026", "Sat Dec 32 19:31:47 2026",
                                "Sat Dec 5 24:31:47 2026", "Sat Dec 5 19:31:47 20x6"})
            QVERIFY2(!StoredTimeFromText(bad).isValid(), bad);
    }

    // The current time's text, made once per second, is the text of the current time.
    void currentTimeText()
    {
        for (int k = 0; k < 3; ++k) {
            const QString before = StoredTimeText(QDateTime::currentDateTime());
            const QString now = CurrentTimeText();
            const QString after = StoredTimeText(QDateTime::currentDateTime());
            QVERIFY2(now == before || now == after, qPrintable(before + " | " + now + " | " + after));
        }
    }
};

QTEST_MAIN(TestHelpers)
#include "tst_helpers.moc"
