// Private chat at scale, each phase in a process of its own. The conversation view keeps every
// line: 100,000 lines go into one shown chat tab, with the time per line of each tenth and the
// memory taken; logged (as by default), then not logged, to tell the file's share. The message
// list keeps every message: 100,000 messages with 1,000 partners are stored, saved and loaded
// again (the rows rebuilt), with the save file's growth per message.
#include "bench/benchutil.h"
#include "ui/chat/chatform.h"
#include "ui/chat/messagelistform.h"

#include <QApplication>
#include <QFileInfo>
#include <QTabWidget>
#include <QTreeWidget>

#include <cstdio>
#include <ctime>

namespace {

using benchutil::ProcessCpuMs;

const int kLines = 100000;
const int kMessages = 100000;
const int kPartners = 1000;

// What the main window and the transfer engine declare before any chat tab is made.
void DeclareChatTypes()
{
    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("user_chat_widget", PrimacyRoot, false, true), One, One, false);
    d.NewType("chat_log_form", PrimacyRoot, false, true)->RelateToType(user, One, One, false);
    // Made by the transfer engine, which this benchmark leaves out.
    user->RelateToType(d.NewType("sent_empty_share_warning_message", PrimacyLeaf, false, true), Many, One, false);
}

QString Text(int n)
{
    return QString("message number %1 with some ordinary chat text and http://example.org/%1").arg(n);
}

void Conversation(const QTemporaryDir& dir, bool logged)
{
    benchutil::StartCore(dir);
    DeclareChatTypes();
    SetSetting("username", "alice");
    SetSetting("log_private_chat", logged ? "yes" : "no");
    SetSetting("chat_timestamps", "per_message_short");
    QTabWidget tabs;
    tabs.resize(800, 600);
    auto* form = new ChatForm("bob", &tabs);
    tabs.addTab(form, "bob");
    tabs.show();
    QApplication::processEvents();

    const long before = benchutil::CurrentKiB();
    const int tenth = kLines / 10;
    double total = 0;
    for (int part = 0; part < 10; ++part) {
        const double cpu0 = ProcessCpuMs();
        for (int k = part * tenth; k < (part + 1) * tenth; ++k)
            form->AddChat(k % 2 ? "alice" : "bob", Text(k));
        QApplication::processEvents();
        const double ms = ProcessCpuMs() - cpu0;
        total += ms;
        printf("  lines %6d-%6d: %7.1f us per line\n", part * tenth, (part + 1) * tenth, ms * 1000 / tenth);
    }
    printf("conversation (%s): %d lines in %.0f ms CPU, %ld KiB more resident (%.2f KiB per line)\n",
           logged ? "logged" : "not logged", kLines, total, benchutil::CurrentKiB() - before,
           double(benchutil::CurrentKiB() - before) / kLines);
}

void StoreAndSave(const QTemporaryDir& dir)
{
    benchutil::StartCore(dir);
    SetSetting("username", "alice");
    MessageListForm list;
    list.Init();
    if (!dataSaver->Save())
        return;
    const qint64 empty = QFileInfo(dataSaver->Path()).size();

    QElapsedTimer t;
    t.start();
    double cpu0 = ProcessCpuMs();
    for (int k = 0; k < kMessages; ++k) {
        const QString user = QString("user%1").arg(k % kPartners);
        if (k % 3)
            list.OnPrivateChat(user, Text(k), 1700000000 + k, false);
        else
            list.OnPrivateChatSent(user, Text(k));
    }
    printf("message list: %d messages stored in %.0f ms CPU (%.0f ms wall), %d rows\n", kMessages,
           ProcessCpuMs() - cpu0, benchutil::Ms(t), list.messageList()->topLevelItemCount());

    t.restart();
    cpu0 = ProcessCpuMs();
    const bool saved = dataSaver->Save();
    const qint64 size = QFileInfo(dataSaver->Path()).size();
    printf("  save: %s in %.0f ms CPU (%.0f ms wall), file %lld bytes, %.1f bytes per message\n",
           saved ? "written" : "FAILED", ProcessCpuMs() - cpu0, benchutil::Ms(t), size,
           double(size - empty) / kMessages);
}

void Load(const QTemporaryDir& dir)
{
    benchutil::StartCore(dir);
    MessageListForm list;
    list.Init();
    const long before = benchutil::CurrentKiB();
    QElapsedTimer t;
    t.start();
    const double cpu0 = ProcessCpuMs();
    const bool loaded = dataSaver->Load() == DataSaver::LoadResult::Loaded;
    printf("  load: %s with the rows rebuilt in %.0f ms CPU (%.0f ms wall), %d rows, %ld KiB more resident\n",
           loaded ? "read" : "FAILED", ProcessCpuMs() - cpu0, benchutil::Ms(t), list.messageList()->topLevelItemCount(),
           benchutil::CurrentKiB() - before);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    benchutil::Phase([&] { Conversation(dir, true); });
    benchutil::Phase([&] { Conversation(dir, false); });
    benchutil::Phase([&] { StoreAndSave(dir); });
    benchutil::Phase([&] { Load(dir); });
    return 0;
}
