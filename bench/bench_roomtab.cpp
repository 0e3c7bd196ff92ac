// A room tab at scale. First the server's join reply for a room of 10,000 members reaches an open,
// shown tab, then the reply after a reconnection (the same 10,000 unlinked and linked again):
// time for each, the event-loop work after it, and the peak memory of the process. Then 10,000
// chat lines reach the tab, the event loop running after each as it does between lines that come
// 20 a second: mean and longest time per line, the handler alone and with the loop's work.
// With --paced the lines really come 20 a second (about eight and a half minutes).
// Last, bursts of N/10, N/3 and N lines (N = 1,000) each reach a fresh tab in one go, as one read
// of the server's socket hands them over: time per burst and the ratios between them, then the
// cost of each further line once the view is full. With --bursts only this last part runs.
#include "bench/benchutil.h"
#include "model/stream.h"
#include "ui/chat/roomform.h"

#include <QApplication>
#include <QTcpServer>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstring>

namespace {

const int kMembers = 10000;
const int kLines = 10000;
const int kBurst = 1000;
const int kAfterBurst = 1000;

using benchutil::ProcessCpuMs;
using benchutil::Str;
using benchutil::U32;

// Code 14 for the room with kMembers members, every tenth an operator.
QByteArray JoinReply(int round)
{
    QByteArray names = U32(kMembers), statuses = U32(kMembers), stats = U32(kMembers), countries = U32(kMembers);
    QByteArray operators = U32(kMembers / 10);
    const char* codes[] = {"DE", "FR", "US", "BR", "PL", "", "GB", "NL"};
    for (int k = 0; k < kMembers; ++k) {
        const QString name = QString("member%1").arg(k);
        names += Str(name);
        statuses += U32(1);
        stats += U32(static_cast<quint32>(k * 37 + round)) + QByteArray(8, '\0') + U32(static_cast<quint32>(k)) +
                 U32(0);
        countries += Str(codes[k % 8]);
        if (k % 10 == 0)
            operators += Str(name);
    }
    return Str("bench") + names + statuses + stats + U32(0) + countries + Str("member1") + operators;
}

void Handle(Server* server, int code, const QByteArray& fields)
{
    MemStream body;
    body.WriteBuffer(fields.constData(), static_cast<size_t>(fields.size()));
    server->HandleMessage(code, body);
}

// Logs the connection in to a listener on 127.0.0.1 that only accepts the login: the messages
// are handled only while logged in.
bool LogIn(Server* server, QTcpServer& listener)
{
    if (!listener.listen(QHostAddress::LocalHost, 0))
        return false;
    SetSetting("use_upnp", Value("no"));
    SetSetting("username", Value("bench"));
    SetSetting("password", Value("bench"));
    SetSetting("server_host", Value("127.0.0.1"));
    SetSetting("server_port", Value(static_cast<int>(listener.serverPort())));
    server->Connect();
    return benchutil::AcceptLogin(listener);
}

void DeclareViewTypes()
{
    Type* room = d.GetType("room");
    Type* user = d.GetType("user");
    room->RelateToType(d.NewType("room_form", PrimacyRoot, false, true), One, One, false);
    user->RelateToType(d.NewType("user_note", PrimacyReachable, false, true), Many, One, false);
    Type* chatLogForm = d.NewType("chat_log_form", PrimacyRoot, false, true);
    chatLogForm->RelateToType(room, One, One, false);
    chatLogForm->RelateToType(user, One, One, false);
}

RoomForm* ShownTab()
{
    auto* form = new RoomForm("bench");
    form->resize(1000, 700);
    form->show();
    QApplication::processEvents();
    return form;
}

int Rows(RoomForm* form)
{
    return form->findChild<QTreeWidget*>("userList")->topLevelItemCount();
}

void Members(Server* server)
{
    RoomForm* form = ShownTab();
    const QByteArray first = JoinReply(0);
    const QByteArray again = JoinReply(1);
    const long before = benchutil::PeakKiB();
    for (const auto& step : {std::make_pair("join reply", &first), std::make_pair("after a reconnect", &again)}) {
        QElapsedTimer t;
        t.start();
        double cpu0 = ProcessCpuMs();
        Handle(server, 14, *step.second);
        const double handled = ProcessCpuMs() - cpu0;
        const double wall = benchutil::Ms(t);
        cpu0 = ProcessCpuMs();
        QApplication::processEvents();
        printf("  %-18s %5d members: %8.1f ms CPU (%.1f ms wall), then the event loop %.1f ms; "
               "%d rows, user_count %s\n",
               step.first, kMembers, handled, wall, ProcessCpuMs() - cpu0, Rows(form),
               d.GetType("room")->GetItem(Value("bench"))["user_count"].AsStdString().c_str());
    }
    printf("  peak resident %ld KiB (%ld KiB before the replies)\n", benchutil::PeakKiB(), before);
    delete form;
}

void Lines(Server* server, bool paced)
{
    SetSetting("chat_timestamps", Value("per_message_short"));
    RoomForm* form = ShownTab();
    auto* view = form->findChild<QTextBrowser*>("chatView");
    double handlerSum = 0, handlerMax = 0, lineSum = 0, lineMax = 0;
    int n = 0;
    const auto one = [&] {
        const QString text = n % 10 == 0 ? QString("line %1 see https://example.org/page?id=%1&x=y for it").arg(n)
                                         : QString("line %1, an ordinary chat line of a busy room").arg(n);
        const double cpu0 = ProcessCpuMs();
        emit server->RoomChat("bench", QString("member%1").arg(n % 500), text);
        const double handled = ProcessCpuMs() - cpu0;
        QApplication::processEvents();
        const double whole = ProcessCpuMs() - cpu0;
        handlerSum += handled;
        lineSum += whole;
        handlerMax = std::max(handlerMax, handled);
        lineMax = std::max(lineMax, whole);
        ++n;
    };
    QElapsedTimer t;
    t.start();
    if (paced) {
        QTimer timer;
        timer.setInterval(50);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            one();
            if (n == kLines)
                QApplication::quit();
        });
        timer.start();
        QApplication::exec();
    } else {
        while (n < kLines)
            one();
    }
    printf("  %d chat lines%s: handler mean %.2f ms, longest %.2f ms; with the loop's work mean %.2f ms, "
           "longest %.2f ms (%.0f ms wall in all)\n",
           kLines, paced ? " at 20 a second" : ", loop run after each", handlerSum / kLines, handlerMax,
           lineSum / kLines, lineMax, benchutil::Ms(t));
    printf("  view at the end: %d characters of HTML, %d paragraphs; peak resident %ld KiB\n",
           static_cast<int>(view->toHtml().size()), view->document()->blockCount(), benchutil::PeakKiB());
    delete form;
}

QString BurstLine(int n)
{
    return n % 10 == 0 ? QString("burst line %1 see https://example.org/page?id=%1&x=y for it").arg(n)
                       : QString("burst line %1, an ordinary chat line of a busy room").arg(n);
}

void Bursts(Server* server)
{
    SetSetting("chat_timestamps", Value("per_message_short"));
    const int sizes[] = {kBurst / 10, kBurst / 3, kBurst};
    double burstMs[3] = {};
    for (int i = 0; i < 3; ++i) {
        RoomForm* form = ShownTab();
        const double cpu0 = ProcessCpuMs();
        for (int n = 0; n < sizes[i]; ++n)
            emit server->RoomChat("bench", QString("member%1").arg(n % 500), BurstLine(n));
        QApplication::processEvents();
        burstMs[i] = ProcessCpuMs() - cpu0;
        printf("  burst of %4d lines: %8.1f ms CPU (%.3f ms a line)\n", sizes[i], burstMs[i],
               burstMs[i] / sizes[i]);
        if (i == 2) {
            // The view is full now: every further line meets the bound.
            double sum = 0, longest = 0;
            for (int n = 0; n < kAfterBurst; ++n) {
                const double c0 = ProcessCpuMs();
                emit server->RoomChat("bench", QString("member%1").arg(n % 500), BurstLine(kBurst + n));
                QApplication::processEvents();
                const double one = ProcessCpuMs() - c0;
                sum += one;
                longest = std::max(longest, one);
            }
            auto* view = form->findChild<QTextBrowser*>("chatView");
            printf("  then %d more lines, one at a time: mean %.3f ms, longest %.2f ms; view %d paragraphs\n",
                   kAfterBurst, sum / kAfterBurst, longest, view->document()->blockCount());
        }
        delete form;
    }
    printf("  ratios: N/3 to N/10 %.2f (lines 3.33), N to N/3 %.2f (lines 3.00)\n", burstMs[1] / burstMs[0],
           burstMs[2] / burstMs[1]);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    const bool paced = argc > 1 && std::strcmp(argv[1], "--paced") == 0;
    const bool burstsOnly = argc > 1 && std::strcmp(argv[1], "--bursts") == 0;
    QApplication app(argc, argv);
    Server* server = benchutil::StartCore(dir);
    DeclareViewTypes();
    QTcpServer listener;
    if (!LogIn(server, listener)) {
        std::fprintf(stderr, "cannot log in to the listener on 127.0.0.1\n");
        return 1;
    }
    SetSetting("log_room_chat", Value("yes"));
    SetSetting("color_chat_timestamp", Value("#0066ff"));
    SetSetting("color_chat_username", Value("#0033ff"));
    SetSetting("color_chat_status", Value("#339933"));

    printf("room tab\n");
    if (!burstsOnly) {
        benchutil::Phase([&] { Members(server); });
        benchutil::Phase([&] { Lines(server, paced); });
    }
    benchutil::Phase([&] { Bursts(server); });
    server->Disconnect();
    return 0;
}
