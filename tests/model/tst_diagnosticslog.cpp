#include "model/diagnosticsform.h"
#include "model/log.h"

#include <QDateTime>

#include <climits>
#include <QLocale>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

class TestDiagnosticsLog : public QObject
{
    Q_OBJECT

    static QStringList Lines(QTextBrowser* view) { return view->toPlainText().split(QLatin1Char('\n')); }
    // The part after the time stamp.
    static QString Body(const QString& line) { return line.mid(line.indexOf(QLatin1String("] ")) + 2); }

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void lineFormat()
    {
        const QDateTime when(QDate(2026, 12, 5), QTime(19, 31, 47));
        QCOMPARE(FormatLogLine(when, 2, "Found upload"), QString("[Sat Dec 5 19:31:47 2026]    Found upload"));
        QCOMPARE(FormatLogLine(when, -4, "x"), QString("[Sat Dec 5 19:31:47 2026] x"));
        // Deep levels stop indenting at 32 (31 steps of three spaces).
        for (int level : {32, 33, 1000000, INT_MAX})
            QCOMPARE(FormatLogLine(when, level, "x"), "[Sat Dec 5 19:31:47 2026] " + QString(93, ' ') + "x");
        // Two-digit days and the year keep their digits; hours keep their leading zero.
        QCOMPARE(FormatLogLine(QDateTime(QDate(2025, 1, 17), QTime(7, 5, 9)), 1, "y"),
                 QString("[Fri Jan 17 07:05:09 2025] y"));
        // The time stamp stays English whatever the user's locale.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(FormatLogLine(when, 1, "a"), QString("[Sat Dec 5 19:31:47 2026] a"));
    }

    void pagesPerCategoryInFirstUseOrder()
    {
        DiagnosticsForm form;
        QTabWidget* pages = form.LogTabWidget();
        const QRegularExpression stamp(
            "^\\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [1-9][0-9]? "
            "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\\] ");
        Log("server", 1, "Connecting");
        Log("Port Forwarding", 1, "Initializing UPnP");
        Log("server", 2, "detail", ItemPtr());
        Log("Server", 3, "deeper");
        QStringList tabs;
        for (int k = 0; k < pages->count(); ++k)
            tabs << pages->tabText(k);
        QCOMPARE(tabs, (QStringList{"server", "Port Forwarding", "Server"}));
        QCOMPARE(pages->widget(0), form.LogView("server"));
        QVERIFY(!form.LogView("Search"));

        const QStringList server = Lines(form.LogView("server"));
        QCOMPARE(server.size(), 2);
        for (const QString& line : server)
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(Body(server[0]) + "|" + Body(server[1]), QString("Connecting|   detail"));
        QCOMPARE(Body(Lines(form.LogView("Server")).value(0)), QString("      deeper"));
    }

    // A burst of lines reaches its shown page in order once it returns to the event loop, a share
    // per turn; a hidden page gets its lines when it is shown.
    void burstReachesThePageAfterIt()
    {
        DiagnosticsForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        Log("Transfer Queue", 1, "one");
        QTextBrowser* view = form.LogView("Transfer Queue");
        QVERIFY(view->isVisible());
        Log("Transfer Queue", 2, "two");
        Log("Shared", 1, "elsewhere");
        Log("Transfer Queue", 1, "three");
        QCOMPARE(Lines(view).size(), 1);
        QCoreApplication::processEvents();
        QStringList bodies;
        for (const QString& line : Lines(view))
            bodies << Body(line);
        QCOMPARE(bodies, (QStringList{"one", "   two", "three"}));

        QCOMPARE(form.LogTabWidget()->tabText(1), QString("Shared"));
        auto* hidden = qobject_cast<QTextBrowser*>(form.LogTabWidget()->widget(1));
        QVERIFY(!hidden->isVisible());
        QVERIFY(hidden->document()->isEmpty());
        form.LogTabWidget()->setCurrentIndex(1);
        QCoreApplication::processEvents();
        QCOMPARE(Body(Lines(hidden).value(0)), QString("elsewhere"));

        for (int k = 0; k < DiagnosticsForm::kLogLinesPerTurn + 5; ++k)
            Log("Shared", 1, QString::number(k));
        QCoreApplication::processEvents();
        QCOMPARE(Lines(hidden).size(), 1 + DiagnosticsForm::kLogLinesPerTurn);
        QCoreApplication::processEvents();
        QCOMPARE(Lines(hidden).size(), 1 + DiagnosticsForm::kLogLinesPerTurn + 5);
        QCOMPARE(Body(Lines(hidden).last()), QString::number(DiagnosticsForm::kLogLinesPerTurn + 4));
    }

    void networkTextStaysPlain()
    {
        DiagnosticsForm form;
        const QString hostile = "<img src=\"file:///etc/hostname\"><b>bold</b> <a href=\"http://x\">x</a> &amp; "
                                "<script>alert(1)</script>";
        Log("Peer Messenger", 2, hostile);
        Log("Peer Messenger", 1, "user <i>name</i>");
        QTextBrowser* view = form.LogView("Peer Messenger");
        const QStringList lines = Lines(view);
        QCOMPARE(lines.size(), 2);
        QCOMPARE(Body(lines[0]) + "|" + Body(lines[1]), "   " + hostile + "|user <i>name</i>");
        // Nothing became markup: every fragment is ordinary text.
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                QVERIFY(!format.isImageFormat() && !format.isAnchor() && !format.fontItalic());
                QVERIFY(format.fontWeight() <= QFont::Normal);
            }
        }
    }

    // A page keeps the newest lines only, and a text from the network is cut to a readable
    // length, with a note of what was left out.
    void pagesAndLinesBounded()
    {
        DiagnosticsForm form;
        const int total = DiagnosticsForm::kMaxLogLines + 10;
        for (int k = 0; k < total; ++k)
            Log("Peer Messenger", 1, QString::number(k));
        QTextBrowser* view = form.LogView("Peer Messenger");
        QCOMPARE(view->document()->blockCount(), DiagnosticsForm::kMaxLogLines);
        QCOMPARE(Body(view->document()->firstBlock().text()), QString("10"));
        QCOMPARE(Body(view->document()->lastBlock().text()), QString::number(total - 1));

        const QString name(131072, QLatin1Char('n'));
        const QString filtered = "Filtered out search result " + name + " from user u";
        Log("Search", 2, filtered);
        Log("Search", 1, QString(1000, QLatin1Char('k')));
        const QStringList lines = Lines(form.LogView("Search"));
        QCOMPARE(lines.size(), 2);
        QCOMPARE(Body(lines[0]), "   Filtered out search result " + name.left(1000 - 27) +
                                   QString("... (%1 more characters)").arg(filtered.size() - 1000));
        QCOMPARE(Body(lines[1]), QString(1000, QLatin1Char('k')));
    }

    void windowBuiltAgainStartsWithNoPages()
    {
        // Without a window (before it is built, after it is gone) a line is dropped harmlessly; the
        // pages of a window that is gone are never written to.
        Log("Shared", 1, "dropped");
        {
            DiagnosticsForm first;
            Log("Shared", 1, "one");
        }
        QVERIFY(!diagnosticsForm);
        Log("Shared", 1, "dropped");
        DiagnosticsForm second;
        Log("Shared", 1, "two");
        QCOMPARE(second.LogTabWidget()->count(), 1);
        QCOMPARE(Lines(second.LogView("Shared")).size(), 1);

        // A page address in the graph that is not one of this window's pages is never written to.
        QTextBrowser stranger;
        d.GetType("log")->GetItem(Value("Strange")) += d.GetType("log_widget")->GetItem(Value(&stranger));
        Log("Strange", 1, "three");
        QVERIFY(stranger.toPlainText().isEmpty());
        QCOMPARE(Body(Lines(second.LogView("Strange")).value(0)), QString("three"));
    }
};

QTEST_MAIN(TestDiagnosticsLog)
#include "tst_diagnosticslog.moc"
