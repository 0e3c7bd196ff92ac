#include "model/diagnosticsform.h"
#include "model/log.h"

#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>
#include <QTextBlock>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

class TestDiagnosticsLog : public QObject
{
    Q_OBJECT

private:
    static QStringList Lines(QTextBrowser* view) { return view->toPlainText().split(QLatin1Char('\n')); }
    // The part after the time stamp.
    static QString Body(const QString& line) { return line.mid(line.indexOf(QLatin1String("] ")) + 2); }

private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void lineFormat()
    {
        const QDateTime when(QDate(2026, 12, 5), QTime(19, 31, 47));
        QCOMPARE(FormatLogLine(when, 2, "Found upload"), QString("[Sat Dec 5 19:31:47 2026]    Found upload"));
        QCOMPARE(FormatLogLine(when, 1, "x"), QString("[Sat Dec 5 19:31:47 2026] x"));
        QCOMPARE(FormatLogLine(when, 3, "x"), QString("[Sat Dec 5 19:31:47 2026]       x"));
        QCOMPARE(FormatLogLine(when, 0, "x"), QString("[Sat Dec 5 19:31:47 2026] x"));
        QCOMPARE(FormatLogLine(when, -4, "x"), QString("[Sat Dec 5 19:31:47 2026] x"));
        QCOMPARE(FormatLogLine(when, 2, ""), QString("[Sat Dec 5 19:31:47 2026]    "));
        // Two-digit days and the year keep their digits; hours keep their leading zero.
        QCOMPARE(FormatLogLine(QDateTime(QDate(2025, 1, 17), QTime(7, 5, 9)), 1, "y"),
                 QString("[Fri Jan 17 07:05:09 2025] y"));
        // Same as Qt's text date form in the C locale.
        QCOMPARE(FormatLogLine(when, 1, ""), "[" + when.toString(Qt::TextDate) + "] ");
        // The time stamp stays English whatever the user's locale.
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(FormatLogLine(when, 1, "a"), QString("[Sat Dec 5 19:31:47 2026] a"));
    }

    void formLayout()
    {
        DiagnosticsForm form;
        QCOMPARE(form.objectName(), QString("DiagnosticsForm"));
        QCOMPARE(form.size(), QSize(437, 331));
        auto* tabs = form.findChild<QTabWidget*>("tabWidget");
        QVERIFY(tabs);
        QCOMPARE(tabs->count(), 2);
        QCOMPARE(tabs->tabText(0), QString("Tracked Users"));
        QCOMPARE(tabs->tabText(1), QString("Logs"));
        QCOMPARE(tabs->widget(0)->objectName(), QString("tab_2"));
        QCOMPARE(tabs->widget(1)->objectName(), QString("tab"));
        QCOMPARE(tabs->currentIndex(), 1);
        QTreeWidget* tree = form.TrackedUsersTree();
        QCOMPARE(tree->objectName(), QString("trackedUsersTree"));
        QCOMPARE(tree->columnCount(), 2);
        QCOMPARE(tree->headerItem()->text(0), QString("User"));
        QCOMPARE(tree->headerItem()->text(1), QString());
        QCOMPARE(tree->columnWidth(0), 300);
        QCOMPARE(tree->columnWidth(1), 100);
        QCOMPARE(form.LogTabWidget()->objectName(), QString("logTabWidget"));
        // The tracked-users page follows the server connection's user marks: they come first.
        if (!d.HasType("user")) {
            Type* user = d.NewType("user", PrimacyRoot, false, true);
            user->RelateToType(d.NewType("is_online", PrimacyLeaf, true, true), Many, One, false);
            user->RelateToType(d.NewType("is_tracked", PrimacyLeaf, true, true), Many, One, false);
        }
        form.Init();
        QVERIFY(d.HasType("track_user_node"));
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
        Log("Port Forwarding", 1, "");

        QCOMPARE(pages->count(), 3);
        QCOMPARE(pages->tabText(0), QString("server"));
        QCOMPARE(pages->tabText(1), QString("Port Forwarding"));
        QCOMPARE(pages->tabText(2), QString("Server"));

        const QStringList server = Lines(form.LogView("server"));
        QCOMPARE(server.size(), 2);
        for (const QString& line : server)
            QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
        QCOMPARE(Body(server[0]), QString("Connecting"));
        QCOMPARE(Body(server[1]), QString("   detail"));
        QCOMPARE(Body(Lines(form.LogView("Server")).value(0)), QString("      deeper"));
        const QStringList upnp = Lines(form.LogView("Port Forwarding"));
        QCOMPARE(upnp.size(), 2);
        QVERIFY(upnp[1].endsWith("] "));
        QCOMPARE(pages->widget(0), form.LogView("server"));
        QVERIFY(!form.LogView("Search"));

        // The page is known to the item graph under its category.
        ItemPtr widgetItem = d.GetType("log")->HasItem(Value(QString("server")))["log_widget"];
        QCOMPARE(widgetItem.AsUInt64(), (unsigned long long)reinterpret_cast<quintptr>(form.LogView("server")));

        // The item argument changes nothing.
        Log("Search", 2, "same", widgetItem);
        Log("Search", 2, "same");
        const QStringList search = Lines(form.LogView("Search"));
        QCOMPARE(Body(search[0]), Body(search[1]));
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
        QCOMPARE(Body(lines[0]), "   " + hostile);
        QCOMPARE(Body(lines[1]), QString("user <i>name</i>"));
        // Nothing became markup: every fragment is ordinary text.
        for (QTextBlock block = view->document()->begin(); block.isValid(); block = block.next()) {
            for (auto it = block.begin(); !it.atEnd(); ++it) {
                const QTextCharFormat format = it.fragment().charFormat();
                QVERIFY(!format.isImageFormat());
                QVERIFY(!format.isAnchor());
                QVERIFY(format.fontWeight() <= QFont::Normal);
                QVERIFY(!format.fontItalic());
            }
        }
    }

    void windowBuiltAgainStartsWithNoPages()
    {
        // Without a window (before it is built, after it is gone) a line is dropped harmlessly.
        QVERIFY(!diagnosticsForm);
        Log("server", 1, "dropped");
        {
            DiagnosticsForm first;
            QCOMPARE(diagnosticsForm, &first);
            Log("Shared", 1, "one");
        }
        QVERIFY(!diagnosticsForm);
        Log("Shared", 2, "dropped too");
        DiagnosticsForm second;
        QCOMPARE(second.LogTabWidget()->count(), 0);
        Log("Shared", 1, "two");
        QCOMPARE(second.LogTabWidget()->count(), 1);
        QCOMPARE(Lines(second.LogView("Shared")).size(), 1);
        QCOMPARE(Body(Lines(second.LogView("Shared"))[0]), QString("two"));
    }
};

QTEST_MAIN(TestDiagnosticsLog)
#include "tst_diagnosticslog.moc"
