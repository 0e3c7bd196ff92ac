// Chat-log files and their viewer: the lines and where they go, the gate, the live lines of an
// open viewer, finding with the marked match, and erasing and opening the log's folder.

#include "mainwindowfixture.h"
#include "urlcatcher.h"

#include "common/testfiles.h"
#include "model/settings.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/chatlogform.h"

#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>

namespace {

const QDateTime kEvening(QDate(2026, 3, 7), QTime(21, 5, 9));

QString Folder(ChatLogKind kind)
{
    return QDir::homePath() + (kind == ChatLogKind::Room ? "/Tavrinel Chat Logs/Rooms" : "/Tavrinel Chat Logs/Users");
}

QTextEdit* LogEdit(ChatLogForm* viewer) { return viewer->findChild<QTextEdit*>("logEdit"); }
QLineEdit* SearchEdit(ChatLogForm* viewer) { return viewer->findChild<QLineEdit*>("searchEdit"); }
QPushButton* Back(ChatLogForm* viewer) { return viewer->findChild<QPushButton*>("searchBackButton"); }
QPushButton* Forward(ChatLogForm* viewer) { return viewer->findChild<QPushButton*>("searchForwardButton"); }

QStringList Paragraphs(ChatLogForm* viewer)
{
    QStringList lines;
    for (QTextBlock b = LogEdit(viewer)->document()->begin(); b.isValid(); b = b.next())
        lines << b.text();
    return lines;
}

// The marked range as "start+length", "" when nothing is marked; and the buttons as "<>",
// with "-" for a disabled one.
QString Mark(ChatLogForm* viewer)
{
    const QList<QTextEdit::ExtraSelection> marks = LogEdit(viewer)->extraSelections();
    QString text;
    for (const QTextEdit::ExtraSelection& mark : marks)
        text += QString("%1+%2").arg(mark.cursor.selectionStart()).arg(mark.cursor.selectionEnd() -
                                                                       mark.cursor.selectionStart());
    return text + " " + (Back(viewer)->isEnabled() ? "<" : "-") + (Forward(viewer)->isEnabled() ? ">" : "-");
}

}  // namespace

class TestChatLog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void linesInFiles_data();
    void linesInFiles();
    void gateFolderAndLiveLines();
    void viewerShowsLinesAsTyped();
    void longLinesAndTail();
    void tailIsSaidAtTop();
    void findMarksAndButtons_data();
    void findMarksAndButtons();
    void findColoursAndCase();
    void clearLogAsksAndEmpties();
    void openLogFolder();
    void cleanupTestCase() { delete mainWindow; }

private:
    ChatLogForm* Open(ChatLogKind kind, const QString& name)
    {
        return OpenChatLog(kind, name, Child<QTabWidget>("chatTabControl"), mainWindow);
    }

    MainWindowFixture m_fixture;
    UrlCatcher m_catcher;
};

void TestChatLog::initTestCase()
{
    QVERIFY(m_fixture.Start());
    QDesktopServices::setUrlHandler("file", &m_catcher, "Open");
    // The month and the am/pm must not follow the desktop's language.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

void TestChatLog::linesInFiles_data()
{
    QTest::addColumn<bool>("room");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("author");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("private") << false << "bob" << "bob" << "hi" << kEvening << "bob.log"
                             << QByteArray("[Mar 7 9:05:09 pm][bob] hi\n");
    QTest::newRow("action") << false << "bob" << "bob" << "/me  waves " << kEvening << "bob.log"
                            << QByteArray("[Mar 7 9:05:09 pm] * bob waves\n");
    QTest::newRow("action after blanks") << false << "bob" << "bob" << "  /me waves" << kEvening << "bob.log"
                                         << QByteArray("[Mar 7 9:05:09 pm] * bob waves\n");
    QTest::newRow("private text kept") << false << "bob" << "alice" << " two\nlines " << kEvening << "bob.log"
                                       << QByteArray("[Mar 7 9:05:09 pm][alice]  two lines \n");
    // A sender's line breaks, in the text or the name, cannot start lines of their own.
    QTest::newRow("breaks") << true << "lobby" << "ev\re" << "one\r\n[Mar 7 9:05:09 pm][mallory] two" << kEvening
                            << "lobby.log" << QByteArray("[Mar 7 9:05:09 pm][ev e] one  [Mar 7 9:05:09 pm][mallory] two\n");
    QTest::newRow("action breaks") << false << "bob" << "bob" << "/me waves\u2029\u2028\x0b\x0c\u0085!" << kEvening
                                   << "bob.log" << QByteArray("[Mar 7 9:05:09 pm] * bob waves     !\n");
    QTest::newRow("room text trimmed") << true << "lobby" << "carol" << "  hello  " << kEvening << "lobby.log"
                                       << QByteArray("[Mar 7 9:05:09 pm][carol] hello\n");
    QTest::newRow("room action") << true << "lobby" << "carol" << "  /me nods" << kEvening << "lobby.log"
                                 << QByteArray("[Mar 7 9:05:09 pm] * carol nods\n");
    QTest::newRow("morning, midnight hour") << false << "bob" << "bob" << "x"
                                            << QDateTime(QDate(2026, 12, 25), QTime(0, 30, 0)) << "bob.log"
                                            << QByteArray("[Dec 25 12:30:00 am][bob] x\n");
    QTest::newRow("markers kept") << false << "%1" << "%1%2" << "%3 100%" << kEvening << "%1.log"
                                  << QByteArray("[Mar 7 9:05:09 pm][%1%2] %3 100%\n");
    QTest::newRow("action markers kept") << true << "r" << "%2" << "/me %1" << kEvening << "r.log"
                                         << QByteArray("[Mar 7 9:05:09 pm] * %2 %1\n");
    QTest::newRow("slash") << false << "a/b" << "a/b" << "hi" << kEvening << "a_b.log"
                           << QByteArray("[Mar 7 9:05:09 pm][a/b] hi\n");
    QTest::newRow("parent step") << false << ".." << ".." << "hi" << kEvening << "_..log"
                                 << QByteArray("[Mar 7 9:05:09 pm][..] hi\n");
    QTest::newRow("escape") << true << "../../x" << "eve" << "hi" << kEvening << "_._.._x.log"
                            << QByteArray("[Mar 7 9:05:09 pm][eve] hi\n");
}

void TestChatLog::linesInFiles()
{
    QFETCH(bool, room);
    QFETCH(QString, name);
    QFETCH(QString, author);
    QFETCH(QString, text);
    QFETCH(QDateTime, time);
    QFETCH(QString, file);
    QFETCH(QByteArray, bytes);
    const ChatLogKind kind = room ? ChatLogKind::Room : ChatLogKind::User;
    QDir(QDir::homePath() + "/Tavrinel Chat Logs").removeRecursively();

    LogChat(kind, name, author, text, time);
    QCOMPARE(QDir(Folder(kind)).entryList(QDir::Files | QDir::Hidden), QStringList{file});
    QCOMPARE(ReadFile(Folder(kind) + "/" + file), bytes);
    QCOMPARE(ChatLogPath(kind, name), Folder(kind) + "/" + file);
    // Appended, never rewritten.
    LogChat(kind, name, author, text, time);
    QCOMPARE(ReadFile(Folder(kind) + "/" + file), bytes + bytes);
}

void TestChatLog::gateFolderAndLiveLines()
{
    const QString path = Folder(ChatLogKind::User) + "/frank.log";
    QDir(QDir::homePath() + "/Tavrinel Chat Logs").removeRecursively();
    ChatLogForm* viewer = Open(ChatLogKind::User, "frank");
    QCOMPARE(viewer->Path(), path);
    // No file yet: nothing to erase or open, but the lines still come.
    QVERIFY(!MainWindowFixture::Trigger(viewer, "Clear Log"));
    QVERIFY(!MainWindowFixture::Trigger(viewer, "Open Log Folder"));
    // Asked again: the open viewer comes forward.
    QCOMPARE(Open(ChatLogKind::User, "frank"), viewer);

    LogChat(ChatLogKind::User, "frank", "frank", "one", kEvening);
    SetSetting("log_private_chat", "no");
    LogChat(ChatLogKind::User, "frank", "frank", "unlogged", kEvening);
    // The room gate is its own.
    LogChat(ChatLogKind::Room, "frank", "frank", "room line", kEvening);
    QCOMPARE(ReadFile(path), QByteArray("[Mar 7 9:05:09 pm][frank] one\n"));
    QCOMPARE(Paragraphs(viewer), QStringList({"[Mar 7 9:05:09 pm][frank] one"}));

    SetSetting("log_private_chat", "yes");
    QVERIFY(QDir(QDir::homePath() + "/Tavrinel Chat Logs").removeRecursively());
    LogChat(ChatLogKind::User, "frank", "alice", "/me  is back", kEvening);
    QCOMPARE(ReadFile(path), QByteArray("[Mar 7 9:05:09 pm] * alice is back\n"));
    QCOMPARE(Paragraphs(viewer),
             QStringList({"[Mar 7 9:05:09 pm][frank] one", "[Mar 7 9:05:09 pm] * alice is back"}));

    // A file that cannot be written: skipped, the viewer still gets the line.
    QVERIFY(QFile::remove(path));
    QVERIFY(QDir().mkpath(path));
    LogChat(ChatLogKind::User, "frank", "frank", "three", kEvening);
    QCOMPARE(Paragraphs(viewer).size(), 3);
    QVERIFY(QDir(path).removeRecursively());

    // Closed, the viewer is unlinked: a line finds nobody, and the next opening is a new viewer.
    QTabWidget* tabs = Child<QTabWidget>("chatTabControl");
    mainWindow->OnChatTabClosed(tabs->indexOf(viewer));
    LogChat(ChatLogKind::User, "frank", "frank", "four", kEvening);
    viewer = Open(ChatLogKind::User, "frank");
    QCOMPARE(Paragraphs(viewer), QStringList({"[Mar 7 9:05:09 pm][frank] four"}));
    mainWindow->OnChatTabClosed(tabs->indexOf(viewer));
}

void TestChatLog::viewerShowsLinesAsTyped()
{
    const QString path = Folder(ChatLogKind::Room) + "/markup.log";
    QVERIFY(WriteFile(path, "  <b>x</b>  \r\n\nplain &amp; <i>\n"));
    ChatLogForm viewer(path);
    QCOMPARE(Paragraphs(&viewer), QStringList({"<b>x</b>", "", "plain &amp; <i>"}));
    viewer.AddLine(" <a href=\"http://x\">y</a> ");
    QCOMPARE(Paragraphs(&viewer).last(), QString("<a href=\"http://x\">y</a>"));
    QVERIFY(!LogEdit(&viewer)->document()->toHtml().contains("<a href"));

    // An empty log: the first live line is the first paragraph.
    QVERIFY(WriteFile(path, ""));
    ChatLogForm empty(path);
    empty.AddLine("<b>first</b>");
    empty.AddLine("second");
    QCOMPARE(Paragraphs(&empty), QStringList({"<b>first</b>", "second"}));
}

void TestChatLog::longLinesAndTail()
{
    const QString path = Folder(ChatLogKind::Room) + "/long.log";
    const QByteArray longLine(ChatLogForm::kMaxPieceBytes * 2 + 10, 'a');
    QVERIFY(WriteFile(path, "short\n" + longLine + "\n\xff\xfe bad\n"));
    ChatLogForm viewer(path);
    const QStringList lines = Paragraphs(&viewer);
    QCOMPARE(lines.size(), 5);
    QCOMPARE(lines.at(1).size(), int(ChatLogForm::kMaxPieceBytes));
    QCOMPARE(lines.at(3).size(), 10);
    QCOMPARE(lines.at(4), QString::fromUtf8("\xff\xfe bad"));

    // A tail that begins inside a line starts at the next whole line.
    const QByteArray line = "0123456789abcde\n";
    QByteArray bytes = "cut line\n";
    while (bytes.size() < ChatLogForm::kMaxShownBytes + 100)
        bytes += line;
    // The tail's first byte falls on the "3" of a line.
    QVERIFY(WriteFile(path, bytes + "end\n"));
    ChatLogForm tail(path);
    const QStringList shown = Paragraphs(&tail);
    QCOMPARE(shown.size(), int(ChatLogForm::kMaxShownBytes / line.size()));
    QCOMPARE(shown.first(), QString("0123456789abcde"));
    QCOMPARE(shown.last(), QString("end"));
}

void TestChatLog::tailIsSaidAtTop()
{
    const QString path = Folder(ChatLogKind::Room) + "/tail.log";
    QVERIFY(WriteFile(path, "whole\n"));
    ChatLogForm whole(path);
    whole.show();
    QLabel* label = whole.findChild<QLabel*>("tailLabel");
    QVERIFY(label && !label->isVisible());

    QVERIFY(WriteFile(path, QByteArray(ChatLogForm::kMaxShownBytes + 1024 * 1024, 'x') + "\nend\n"));
    ChatLogForm tail(path);
    tail.show();
    label = tail.findChild<QLabel*>("tailLabel");
    QVERIFY(label->isVisible());
    QCOMPARE(label->text(), QString("Only the last 8 MiB of this log are shown; the file holds 9.0 MiB."));
    // Above the lines.
    QVERIFY(label->mapTo(&tail, QPoint()).y() < LogEdit(&tail)->mapTo(&tail, QPoint()).y());

    // Erased, the log has nothing left out.
    BoxAnswerer answers({QMessageBox::Yes});
    tail.OnActionTriggered(&tail, "clear_chat_log");
    QVERIFY(!label->isVisible());
}

void TestChatLog::findMarksAndButtons_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("clicks");
    QTest::addColumn<QStringList>("marks");

    // After typing, then after each click ("<" back, ">" forward).
    QTest::newRow("two matches") << "xx ab\nyy\nab" << "ab" << "><"
                                 << QStringList({"3+2 ->", "9+2 <-", "3+2 ->"});
    QTest::newRow("adjacent matches") << "abab" << "ab" << "><"
                                      << QStringList({"0+2 ->", "2+2 <-", "0+2 ->"});
    QTest::newRow("overlapping") << "aaa" << "aa" << ">" << QStringList({"0+2 ->", "1+2 <-"});
    QTest::newRow("one match") << "only bob here" << "bob" << "" << QStringList({"5+3 --"});
    QTest::newRow("no match") << "nothing" << "zz" << "" << QStringList({" --"});
}

void TestChatLog::findMarksAndButtons()
{
    QFETCH(QString, log);
    QFETCH(QString, find);
    QFETCH(QString, clicks);
    QFETCH(QStringList, marks);
    const QString path = Folder(ChatLogKind::Room) + "/find.log";
    QVERIFY(WriteFile(path, log.toUtf8() + "\n"));
    ChatLogForm viewer(path);
    viewer.show();
    QCOMPARE(Mark(&viewer), QString(" --"));

    QTest::keyClicks(SearchEdit(&viewer), find);
    QStringList seen{Mark(&viewer)};
    for (QChar click : clicks) {
        QTest::mouseClick(click == '<' ? Back(&viewer) : Forward(&viewer), Qt::LeftButton);
        seen << Mark(&viewer);
    }
    QCOMPARE(seen, marks);

    // Emptying the find text drops the mark.
    SearchEdit(&viewer)->clear();
    QCOMPARE(Mark(&viewer), QString(" --"));
}

void TestChatLog::findColoursAndCase()
{
    SetSetting("color_input_background", "#102030");
    SetSetting("color_input_text", "#f0e0d0");
    const QString path = Folder(ChatLogKind::Room) + "/colours.log";
    QVERIFY(WriteFile(path, "[Mar 7 9:05:09 pm][carol] hi\n[Mar 7 9:05:10 pm][bob] hi carol\nBob again\n"));
    ChatLogForm viewer(path);
    viewer.show();
    QTest::keyClicks(SearchEdit(&viewer), "BOB");
    const QList<QTextEdit::ExtraSelection> marks = LogEdit(&viewer)->extraSelections();
    QCOMPARE(marks.size(), 1);
    QCOMPARE(marks.first().cursor.selectedText(), QString("bob"));
    QCOMPARE(marks.first().format.foreground().color(), QColor("#102030"));
    QCOMPARE(marks.first().format.background().color(), QColor("#f0e0d0"));
    QCOMPARE(Mark(&viewer), QString("48+3 ->"));
    // The cursor rests at the match's start, where the next find begins.
    QCOMPARE(LogEdit(&viewer)->textCursor().position(), 48);
    QTest::mouseClick(Forward(&viewer), Qt::LeftButton);
    QCOMPARE(Mark(&viewer), QString("62+3 <-"));

    // A live line holding the text is a match ahead.
    viewer.AddLine("no match");
    QCOMPARE(Mark(&viewer), QString("62+3 <-"));
    viewer.AddLine("bob is here");
    QCOMPARE(Mark(&viewer), QString("62+3 <>"));
    QTest::mouseClick(Forward(&viewer), Qt::LeftButton);
    QCOMPARE(Mark(&viewer), QString("81+3 <-"));
}

void TestChatLog::clearLogAsksAndEmpties()
{
    QDir(QDir::homePath() + "/Tavrinel Chat Logs").removeRecursively();
    LogChat(ChatLogKind::Room, "club", "bob", "hi bob", kEvening);
    LogChat(ChatLogKind::Room, "club", "bob", "bob again", kEvening);
    const QString path = Folder(ChatLogKind::Room) + "/club.log";
    ChatLogForm* viewer = OpenChatLog(ChatLogKind::Room, "club", Child<QTabWidget>("roomsTabControl"), mainWindow);
    QTest::keyClicks(SearchEdit(viewer), "bob");
    QCOMPARE(Mark(viewer), QString("19+3 ->"));

    {
        BoxAnswerer answers({QMessageBox::No});
        QVERIFY(MainWindowFixture::Trigger(viewer, "Clear Log"));
        QCOMPARE(answers.seen.size(), 1);
        QCOMPARE(answers.seen.first().title, QString("Clear log?"));
        QCOMPARE(answers.seen.first().text, QString("Are you sure you want to erase the contents of this log?"));
        QCOMPARE(answers.seen.first().defaultButton, QMessageBox::No);
    }
    QVERIFY(QFile::exists(path));
    QCOMPARE(Paragraphs(viewer).size(), 2);
    QCOMPARE(Mark(viewer), QString("19+3 ->"));

    {
        BoxAnswerer answers({QMessageBox::Yes});
        QVERIFY(MainWindowFixture::Trigger(viewer, "Clear Log"));
        QCOMPARE(answers.seen.size(), 1);
    }
    QVERIFY(!QFile::exists(path));
    QCOMPARE(LogEdit(viewer)->toPlainText(), QString());
    // Nothing is left to find: no mark, and no button to step from the match that went.
    QCOMPARE(Mark(viewer), QString(" --"));
    viewer->OnSearchForward();
    viewer->OnSearchBack();
    QCOMPARE(Mark(viewer), QString(" --"));

    // Erased again: the file is already gone.
    {
        BoxAnswerer answers({QMessageBox::Yes});
        QVERIFY(MainWindowFixture::Trigger(viewer, "Clear Log"));
    }
    LogChat(ChatLogKind::Room, "club", "carol", "back", kEvening);
    QCOMPARE(ReadFile(path), QByteArray("[Mar 7 9:05:09 pm][carol] back\n"));
    QCOMPARE(Paragraphs(viewer), QStringList({"[Mar 7 9:05:09 pm][carol] back"}));

    // Typing after a failed find and stepping from there marks nothing either.
    QTest::keyClicks(SearchEdit(viewer), "zz");
    viewer->OnSearchForward();
    viewer->OnSearchBack();
    QCOMPARE(Mark(viewer), QString(" --"));
    mainWindow->OnRoomTabClosed(Child<QTabWidget>("roomsTabControl")->indexOf(viewer));
}

void TestChatLog::openLogFolder()
{
    LogChat(ChatLogKind::User, "gina", "gina", "hi", kEvening);
    ChatLogForm* viewer = Open(ChatLogKind::User, "gina");
    m_catcher.urls.clear();
    QVERIFY(MainWindowFixture::Trigger(viewer, "Open Log Folder"));
    QCOMPARE(m_catcher.urls, QList<QUrl>{QUrl::fromLocalFile(Folder(ChatLogKind::User))});

    // Another viewer's action is not this one's.
    ChatLogForm* other = Open(ChatLogKind::User, "frank");
    m_catcher.urls.clear();
    viewer->OnActionTriggered(other, "open_log_folder");
    QVERIFY(m_catcher.urls.isEmpty());
}

QTEST_MAIN(TestChatLog)
#include "tst_chatlog.moc"
#include "moc_urlcatcher.cpp"
