// The Rooms and Chat tabs of the real main window at a heavy user's scale, each size in a process
// of its own with a fresh window logged in to a listener on 127.0.0.1 that only accepts the login;
// the server's messages are handed to the connection as they would arrive in one read. Times are
// CPU time of the GUI thread's work: the handling, then the event loop's work after it.
//   room list: a first list of N public rooms, a second with every count changed, then a list
//     that makes 50 of them private rooms the user is a member of (N = 30,000);
//   members: a room of N members, then 100 members joining and 100 leaving, each on its own
//     (N = 30,000);
//   private chat: one message from each of N new senders in one burst, the same senders again,
//     then N more new senders while the Chat tab is shown (N = 2,000); then, in a fresh window
//     with the Chat tab shown and no conversation open, N new senders and the same again. Every
//     sink the window writes a private message to is live, as by default: the conversation, the
//     Messages list, the chat-log files, the Diagnostics window's tracked users and the pending-
//     event bar. Beside them, the file system alone: N new files made, written and closed the
//     way the chat log makes each one, in a folder beside the logs. Both again with private
//     chats not logged, for the chat log's part as the difference;
//   auto-join: the join replies of N rooms entered at login, in one burst (N = 200).
// Each at N/10, N/3 and N, with the ratios of the times; linear growth gives 3.3 and 3. With
// BENCH_LARGEST_ONLY set, only N runs.
//   bench_rooms [list|members|chat|chat-hidden|chat-shown|autojoin ...]   (default: all; chat-hidden:
//   only the Chat tab not shown at first; chat-shown: only the Chat tab shown from the start)
#include "app/mainwindow.h"
#include "bench/benchutil.h"
#include "model/diagnosticsform.h"
#include "model/stream.h"
#include "server/portforwarder.h"
#include "server/upnpgateway.h"
#include "tests/app/savefile.h"
#include "ui/chat/chatlog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTabWidget>
#include <QTcpServer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

namespace {

using benchutil::NoGateway;
using benchutil::ProcessCpuMs;
using benchutil::Str;
using benchutil::U32;

QByteArray StrList(const QStringList& texts)
{
    QByteArray out = U32(static_cast<quint32>(texts.size()));
    for (const QString& text : texts)
        out += Str(text);
    return out;
}

QByteArray IntList(const QList<int>& values)
{
    QByteArray out = U32(static_cast<quint32>(values.size()));
    for (int v : values)
        out += U32(static_cast<quint32>(v));
    return out;
}

void Handle(int code, const QByteArray& fields)
{
    MemStream body;
    body.WriteBuffer(fields.constData(), static_cast<size_t>(fields.size()));
    gp_server->HandleMessage(code, body);
}

// CPU time of the handling and of the event loop's work after it.
struct Cost
{
    double handled = 0;
    double loop = 0;
    double Total() const { return handled + loop; }
};

Cost Measure(const std::function<void()>& work)
{
    Cost cost;
    double cpu0 = ProcessCpuMs();
    work();
    cost.handled = ProcessCpuMs() - cpu0;
    cpu0 = ProcessCpuMs();
    QApplication::processEvents();
    QApplication::processEvents();
    cost.loop = ProcessCpuMs() - cpu0;
    return cost;
}

quint16 ClosedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The real window, shown and active, logged in to `listener`. Null when the login fails.
MainWindow* LoggedInWindow(QTcpServer& listener)
{
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return nullptr;
    // A home of its own for each window: its chat logs are new files, and none of an earlier
    // window's are deleted while it is measured (a deletion makes the next creations dearer).
    const QString home = QDir::homePath() + QString("/window %1").arg(getpid());
    if (!QDir().mkpath(home))
        return nullptr;
    qputenv("HOME", home.toLocal8Bit());
    const QString closed = QString::number(ClosedPort());
    QFile save(MainWindow::SaveFilePath());
    if (!save.open(QIODevice::WriteOnly) ||
        save.write(savefile::BuildSettings({{"use_upnp", "no"},
                                            {"server_host", "127.0.0.1"},
                                            {"server_port", QString::number(listener.serverPort())},
                                            {"web_host", "127.0.0.1:" + closed},
                                            {"listening_port", "0"},
                                            {"username", "bench"},
                                            {"password", "bench"}})) <= 0)
        return nullptr;
    save.close();
    new PortForwarder(std::make_unique<NoGateway>());
    auto* window = new MainWindow;
    window->resize(1200, 800);
    window->show();
    window->Init();
    QApplication::setActiveWindow(window);
    if (!benchutil::AcceptLogin(listener))
        return nullptr;
    for (int k = 0; k < 5; ++k)
        QApplication::processEvents();
    return window;
}

QTreeWidget* RoomList(MainWindow* window)
{
    return window->findChild<QTreeWidget*>("roomList");
}

// Runs `body` at n/10, n/3 and n, each in a process of its own with a fresh window; `body`
// returns the figures to compare (one per measured step) and prints its own line.
void Sizes(const char* title, int n, const QStringList& steps, const std::function<QList<double>(MainWindow*, int)>& body)
{
    printf("%s\n", title);
    const int sizes[] = {n / 10, n / 3, n};
    QList<QList<double>> all;
    for (int size : sizes) {
        // For a profile of the largest size alone (with BENCH_FIRST_PHASE).
        if (getenv("BENCH_LARGEST_ONLY") && size != n) {
            all << QList<double>();
            continue;
        }
        // The figures come back through a pipe from the child.
        int fds[2];
        if (pipe(fds) != 0)
            return;
        benchutil::Phase([&] {
            QTcpServer listener;
            MainWindow* window = LoggedInWindow(listener);
            if (!window) {
                fprintf(stderr, "cannot log in to the listener on 127.0.0.1\n");
                return;
            }
            const QList<double> figures = body(window, size);
            QByteArray out;
            for (double f : figures)
                out += QByteArray::number(f, 'f', 3) + ' ';
            benchutil::WriteAll(fds[1], out.constData(), static_cast<size_t>(out.size()));
        });
        ::close(fds[1]);
        QByteArray in;
        char buffer[512];
        ssize_t got;
        while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0)
            in.append(buffer, static_cast<int>(got));
        ::close(fds[0]);
        QList<double> figures;
        for (const QByteArray& f : in.split(' '))
            if (!f.isEmpty())
                figures << f.toDouble();
        all << figures;
    }
    for (int s = 0; s < steps.size(); ++s) {
        auto at = [&](int k) { return all.value(k).value(s, 0.0); };
        printf("  %-34s %9.1f ms at %6d, %9.1f ms at %6d, %9.1f ms at %6d; ratios %5.1f, %5.1f\n",
               steps[s].toUtf8().constData(), at(0), sizes[0], at(1), sizes[1], at(2), sizes[2],
               at(0) > 0 ? at(1) / at(0) : 0, at(1) > 0 ? at(2) / at(1) : 0);
    }
}

QList<double> RoomListAt(MainWindow* window, int n)
{
    QStringList names;
    QList<int> counts, changed;
    for (int k = 0; k < n; ++k) {
        names << QString("room %1 %2").arg(k * 7919 % n).arg(k % 3 ? "chat" : "Talk");
        // Counts of every size, so that the Users column holds texts of different widths.
        counts << (k * 31 % 500);
        changed << (k * 31 % 500) + 1 + k % 7;
    }
    const QByteArray noPrivate = IntList({}) + IntList({}) + IntList({}) + IntList({}) + IntList({});
    const Cost first = Measure([&] { Handle(64, StrList(names) + IntList(counts) + noPrivate); });
    const Cost second = Measure([&] { Handle(64, StrList(names) + IntList(changed) + noPrivate); });
    // 50 of the rooms become private rooms the user belongs to, 10 of them operated.
    QStringList member, operated;
    QList<int> memberCounts;
    for (int k = 0; k < 50; ++k) {
        member << names[k * (n / 50)];
        memberCounts << 3;
        if (k % 5 == 0)
            operated << member.last();
    }
    const Cost roles = Measure([&] {
        Handle(64, StrList(names) + IntList(changed) + IntList({}) + IntList({}) + StrList(member) +
                       IntList(memberCounts) + StrList(operated));
    });
    const int rows = RoomList(window)->topLevelItemCount();
    const QString top = rows ? RoomList(window)->topLevelItem(0)->text(0) : QString();
    printf("  %6d rooms (%d rows, first \"%s\"): first list %.1f + %.1f ms, second %.1f + %.1f ms, "
           "50 private %.1f + %.1f ms\n",
           n, rows, top.toUtf8().constData(), first.handled, first.loop, second.handled, second.loop,
           roles.handled, roles.loop);
    return {first.Total(), second.Total(), roles.Total()};
}

QByteArray Joined(const QString& room, const QString& user)
{
    return Str(room) + Str(user) + U32(1) + U32(2048) + QByteArray(8, '\0') + U32(100) + U32(0) + U32(0) +
           Str("DE");
}

QList<double> MembersAt(MainWindow* window, int n)
{
    QStringList names, countries;
    QByteArray statuses = U32(static_cast<quint32>(n)), stats = U32(static_cast<quint32>(n));
    for (int k = 0; k < n; ++k) {
        names << QString("member%1").arg(k * 7919 % n);
        countries << (k % 3 ? "DE" : "FR");
        statuses += U32(1);
        stats += U32(static_cast<quint32>(k * 37)) + QByteArray(8, '\0') + U32(static_cast<quint32>(k)) + U32(0);
    }
    const Cost join = Measure([&] {
        Handle(14, Str("big") + StrList(names) + statuses + stats + U32(0) + StrList(countries) + Str("member1") +
                       StrList({"member2"}));
    });
    QTreeWidget* list = nullptr;
    for (QTreeWidget* tree : window->findChildren<QTreeWidget*>("userList"))
        list = tree;
    const int joins = 100;
    double joinSum = 0, joinMax = 0, leaveSum = 0, leaveMax = 0;
    for (int k = 0; k < joins; ++k) {
        const Cost one = Measure([&] { Handle(16, Joined("big", QString("newcomer%1").arg(k * 37 % joins))); });
        joinSum += one.Total();
        joinMax = std::max(joinMax, one.Total());
    }
    for (int k = 0; k < joins; ++k) {
        const Cost one = Measure([&] { Handle(17, Str("big") + Str(QString("member%1").arg(k * 13 % n))); });
        leaveSum += one.Total();
        leaveMax = std::max(leaveMax, one.Total());
    }
    printf("  %6d members (%d rows): join reply %.1f + %.1f ms; a join mean %.2f ms (longest %.2f), "
           "a leave mean %.2f ms (longest %.2f)\n",
           n, list ? list->topLevelItemCount() : -1, join.handled, join.loop, joinSum / joins, joinMax,
           leaveSum / joins, leaveMax);
    return {join.Total(), joinSum / joins, leaveSum / joins};
}

QByteArray PrivateMessage(quint32 id, const QString& user, const QString& text)
{
    return U32(id) + U32(1700000000) + Str(user) + Str(text) + QByteArray(1, '\1');
}

// One message from each of n senders named `prefix` and a number, all handled in one go as when
// they come in one read.
Cost Burst(quint32* io_id, const QString& prefix, int n, const QString& text)
{
    return Measure([&] {
        for (int k = 0; k < n; ++k)
            Handle(22, PrivateMessage(++*io_id, QString("%1%2").arg(prefix).arg(k), text.arg(k)));
    });
}

void ShowChatPage(MainWindow* window)
{
    if (auto* main = window->findChild<QTabWidget*>("tabControl"))
        main->setCurrentWidget(window->findChild<QWidget*>("chatTab"));
    QApplication::processEvents();
}

// What the burst left in the sinks besides the tabs: the log files and the tracked users.
QString Sinks()
{
    const int files = QDir(QFileInfo(ChatLogPath(ChatLogKind::User, "x")).path()).entryList(QDir::Files).size();
    const int tracked = diagnosticsForm ? diagnosticsForm->TrackedUsersTree()->topLevelItemCount() : -1;
    return QString("%1 log files, %2 tracked users").arg(files).arg(tracked);
}

QList<double> PrivateChatAt(MainWindow* window, int n, bool logged)
{
    if (!logged)
        SetSetting("log_private_chat", "no");
    quint32 id = 0;
    const Cost burst = Burst(&id, "sender", n, "hello %1, are you there?");
    const Cost more = Burst(&id, "sender", n, "and again %1");
    // The user looking at the Chat tab: the tab row is laid out as tabs come.
    auto* tabs = window->findChild<QTabWidget*>("chatTabControl");
    ShowChatPage(window);
    const Cost shown = Burst(&id, "watched sender", n, "hello %1");
    printf("  %6d senders (%d tabs, %s): new senders %.1f + %.1f ms, the same again %.1f + %.1f ms, "
           "new ones with the tabs shown %.1f + %.1f ms\n",
           n, tabs ? tabs->count() : -1, Sinks().toUtf8().constData(), burst.handled, burst.loop, more.handled,
           more.loop, shown.handled, shown.loop);
    return {burst.Total(), more.Total(), shown.Total()};
}

// The file system's part of a burst: n new files made, written and closed as the chat log makes
// each, beside the chat logs (where the file system finds room for them as for the logs); CPU
// and wall time.
QPair<double, double> NewFiles(int n)
{
    const QString folder = QFileInfo(ChatLogPath(ChatLogKind::User, "x")).path() + "/file system alone/";
    QDir().mkpath(folder);
    const QByteArray line = "[Nov 14 11:13:20 pm][sender] hello, are you there?\n";
    QElapsedTimer wall;
    wall.start();
    const double cpu0 = ProcessCpuMs();
    for (int k = 0; k < n; ++k) {
        QFile file(folder + QString("sender%1.log").arg(k));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(line);
            file.close();
        }
    }
    return {ProcessCpuMs() - cpu0, benchutil::Ms(wall)};
}

QList<double> PrivateChatShownAt(MainWindow* window, int n, bool logged)
{
    if (!logged)
        SetSetting("log_private_chat", "no");
    ShowChatPage(window);
    quint32 id = 0;
    QElapsedTimer wall;
    wall.start();
    const Cost burst = Burst(&id, "sender", n, "hello %1, are you there?");
    const double burstWall = benchutil::Ms(wall);
    const Cost more = Burst(&id, "sender", n, "and again %1");
    auto* tabs = window->findChild<QTabWidget*>("chatTabControl");
    const QString sinks = Sinks();
    const QPair<double, double> files = NewFiles(n);
    printf("  %6d senders (%d tabs, %s): new senders %.1f + %.1f ms (wall %.1f ms), the same again "
           "%.1f + %.1f ms; %d new files alone %.1f ms (wall %.1f ms)\n",
           n, tabs ? tabs->count() : -1, sinks.toUtf8().constData(), burst.handled, burst.loop, burstWall,
           more.handled, more.loop, n, files.first, files.second);
    return {burst.Total(), more.Total(), files.first};
}

QList<double> AutoJoinAt(MainWindow* window, int n)
{
    const QByteArray members = StrList({"ann", "bob", "cy"}) + IntList({1, 1, 1}) + U32(3) +
                               QByteArray(3 * 20, '\0') + U32(0) + StrList({"DE", "FR", ""});
    const Cost burst = Measure([&] {
        for (int k = 0; k < n; ++k)
            Handle(14, Str(QString("autojoin room %1").arg(k)) + members);
    });
    auto* tabs = window->findChild<QTabWidget*>("roomsTabControl");
    QWidget* focused = QApplication::focusWidget();
    printf("  %6d rooms (%d tabs, current \"%s\", focus on %s): %.1f + %.1f ms\n", n, tabs ? tabs->count() : -1,
           tabs ? tabs->tabText(tabs->currentIndex()).toUtf8().constData() : "",
           focused ? focused->objectName().toUtf8().constData() : "nothing", burst.handled, burst.loop);
    return {burst.Total()};
}

}  // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    benchutil::UseHomeIn(home);
    QApplication app(argc, argv);
    QStringList which;
    for (int k = 1; k < argc; ++k)
        which << argv[k];
    const auto wanted = [&](const char* name) { return which.isEmpty() || which.contains(name); };

    if (wanted("list"))
        Sizes("room list", 30000, {"first list", "second list (counts change)", "50 private rooms"}, RoomListAt);
    if (wanted("members"))
        Sizes("room members", 30000, {"join reply", "one join", "one leave"}, MembersAt);
    // Each also with private chats not logged: the chat log's part is the difference.
    for (const bool logged : {true, false}) {
        const QByteArray unlogged = logged ? "" : ", not logged";
        if (wanted("chat") || wanted("chat-hidden"))
            Sizes(("private chat" + unlogged).constData(), 2000,
                  {"a burst of new senders", "the same senders again", "new senders, Chat tab shown"},
                  [=](MainWindow* window, int n) { return PrivateChatAt(window, n, logged); });
        if (wanted("chat") || wanted("chat-shown"))
            Sizes(("private chat, Chat tab shown from the start" + unlogged).constData(), 2000,
                  {"a burst of new senders", "the same senders again", "new files alone"},
                  [=](MainWindow* window, int n) { return PrivateChatShownAt(window, n, logged); });
    }
    if (wanted("autojoin"))
        Sizes("auto-join", 200, {"join replies"}, AutoJoinAt);
    return 0;
}
