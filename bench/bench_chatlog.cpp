// Chat logs at scale. A 100 MiB log (about 1.6 million lines) is opened in the viewer: the time
// until its view first paints and the memory it takes, each in a process of its own; then a find
// that walks the whole shown log (a text found only on the last line, and one found nowhere).
// Last, 10,000 lines are appended to an open viewer: straight into the view, and through the
// writer (file and viewer), next to the same lines written with one open file.
#include "bench/benchutil.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/chatlogform.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QAbstractTextDocumentLayout>
#include <QTextEdit>

#include <cstdio>
#include <ctime>

namespace {

using benchutil::ProcessCpuMs;

const qint64 kLogBytes = 100LL * 1024 * 1024;
const int kAppended = 10000;

QString LogLine(int n)
{
    return QString("[Mar 7 9:05:09 pm][user%1] message number %1 with some ordinary chat text").arg(n % 5000);
}

bool WriteLog(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block;
    qint64 written = 0;
    int n = 0;
    while (written < kLogBytes) {
        block.clear();
        for (int k = 0; k < 1000; ++k)
            block += LogLine(n++).toUtf8() + '\n';
        written += file.write(block);
    }
    file.write("[Mar 7 9:05:09 pm][zed] the needle\n");
    return true;
}

// Spins the event loop until the widget has painted once.
class PaintWatch : public QObject
{
public:
    bool painted = false;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

void Open(const QString& path)
{
    const long before = benchutil::CurrentKiB();
    QElapsedTimer t;
    t.start();
    const double cpu0 = ProcessCpuMs();
    ChatLogForm viewer(path);
    const double built = ProcessCpuMs() - cpu0;
    PaintWatch watch;
    viewer.findChild<QTextEdit*>("logEdit")->viewport()->installEventFilter(&watch);
    viewer.resize(800, 600);
    viewer.show();
    while (!watch.painted)
        QApplication::processEvents();
    const double painted = ProcessCpuMs() - cpu0;
    printf("  open 100 MiB log: built %.1f ms, first paint %.1f ms CPU (%.1f ms wall), %d paragraphs, "
           "+%ld KiB resident, peak %ld KiB\n",
           built, painted, benchutil::Ms(t), viewer.findChild<QTextEdit*>("logEdit")->document()->blockCount(),
           benchutil::CurrentKiB() - before, benchutil::PeakKiB());
}

void Find(const QString& path)
{
    ChatLogForm viewer(path);
    viewer.resize(800, 600);
    viewer.show();
    QApplication::processEvents();
    auto* edit = viewer.findChild<QLineEdit*>("searchEdit");
    // First while the view has laid out only what it shows, then once it has laid out the whole log
    // (as it does in the background soon after opening).
    bool laidOut = false;
    for (const char* text : {"the needle", "found nowhere", "", "the needle"}) {
        if (!*text) {
            viewer.findChild<QTextEdit*>("logEdit")->document()->documentLayout()->documentSize();
            laidOut = true;
            continue;
        }
        edit->clear();
        QElapsedTimer t;
        t.start();
        const double cpu0 = ProcessCpuMs();
        edit->setText(text);
        const double ms = ProcessCpuMs() - cpu0;
        printf("  find \"%s\" from the top%s: %.1f ms CPU (%.1f ms wall, marked: %s)\n", text,
               laidOut ? ", log laid out" : "", ms, benchutil::Ms(t),
               viewer.findChild<QTextEdit*>("logEdit")->extraSelections().isEmpty() ? "no" : "yes");
    }
}

void Append(const QString& path)
{
    QFile::remove(path);
    QFile(path).open(QIODevice::WriteOnly);
    QApplication::processEvents();
    {
        ChatLogForm viewer(path);
        viewer.resize(800, 600);
        viewer.show();
        QApplication::processEvents();
        QElapsedTimer t;
        t.start();
        const double cpu0 = ProcessCpuMs();
        for (int n = 0; n < kAppended; ++n)
            viewer.AddLine(LogLine(n));
        QApplication::processEvents();
        printf("  %d lines into an open viewer:        %8.1f ms CPU (%.1f ms wall)\n", kAppended, ProcessCpuMs() - cpu0,
               benchutil::Ms(t));
    }

    auto* tabs = new QTabWidget;
    tabs->resize(800, 600);
    tabs->show();
    OpenChatLog(ChatLogKind::Room, "bench", tabs);
    QApplication::processEvents();
    const QDateTime now = QDateTime::currentDateTime();
    QElapsedTimer t;
    t.start();
    double cpu0 = ProcessCpuMs();
    for (int n = 0; n < kAppended; ++n)
        LogChat(ChatLogKind::Room, "bench", "user", "message text of a room line", now);
    QApplication::processEvents();
    printf("  %d lines logged (file and viewer):   %8.1f ms CPU (%.1f ms wall)\n", kAppended, ProcessCpuMs() - cpu0,
           benchutil::Ms(t));

    t.restart();
    cpu0 = ProcessCpuMs();
    QFile once(QDir::homePath() + "/once.log");
    once.open(QIODevice::WriteOnly | QIODevice::Append);
    for (int n = 0; n < kAppended; ++n)
        once.write(ChatLogLine(ChatLogKind::Room, "user", "message text of a room line", now).toUtf8() + '\n');
    once.close();
    printf("  the same lines through one open file: %8.1f ms CPU (%.1f ms wall)\n", ProcessCpuMs() - cpu0,
           benchutil::Ms(t));
    delete tabs;
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir;
    qputenv("HOME", dir.path().toLocal8Bit());
    QApplication app(argc, argv);
    DeclareSettingTypes();
    SetSetting("log_room_chat", "yes");
    Type* room = d.NewType("room", PrimacyRoot, false, true);
    Type* link = d.NewType("chat_log_form", PrimacyRoot, false, true);
    link->RelateToType(room, One, One, false);

    const QString path = dir.filePath("big.log");
    QElapsedTimer t;
    t.start();
    if (!WriteLog(path))
        return 1;
    printf("chat log viewer (log of %lld bytes written in %.0f ms)\n", QFileInfo(path).size(), benchutil::Ms(t));
    benchutil::Phase([&] { Open(path); });
    benchutil::Phase([&] { Find(path); });
    benchutil::Phase([&] { Append(dir.filePath("append.log")); });
    return 0;
}
