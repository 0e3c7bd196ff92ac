// User info with a 9 MiB picture. The reply: built from a 9 MiB picture file. The page: a peer
// sends a reply carrying a 9 MiB picture (a PNG of noise, 2048 x 1536, and a JPEG of noise), or
// an ordinary 640 x 480 photo as JPEG, over a messaging connection; the figures are the time from
// the first byte written to the page taking the reply, to the picture shown, then to the page
// painted. The flood: 2,000 replies in one write, each with a tiny picture, then one with the
// ordinary photo, while the program holds 100 MiB and then 2 GiB of touched memory; the figures
// are the longest the event loop stood still, the GUI thread's processor time, and when the
// last picture showed. Each case runs in a process of its own (the program runs itself with the
// case's name), so that its peak resident size is its own.
#include "bench/benchutil.h"
#include "ui/users/picturedecoder.h"
#include "ui/users/userinfoform.h"
#include "ui/users/userinforeply.h"

#include <QApplication>
#include <QBuffer>
#include <QEventLoop>
#include <QImage>
#include <QProcess>
#include <QTextBrowser>

#include <cstdio>
#include <thread>

using namespace benchutil;

namespace {

const qint64 kPictureBytes = 9 * 1024 * 1024;

QImage Noise(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(5);
    for (int y = 0; y < height; ++y)
        random.fillRange(reinterpret_cast<quint32*>(image.scanLine(y)), width);
    return image;
}

QByteArray Encode(const QImage& image, const char* format, int quality = -1)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format, quality);
    return bytes;
}

// The pictures the page cases send, written once by the parent.
void WritePictures(const QString& dir)
{
    QFile png(dir + "/picture.png");
    png.open(QIODevice::WriteOnly);
    png.write(Encode(Noise(2048, 1536), "PNG"));
    // JPEG of noise at quality 90: about 2.2 bytes per pixel; sized to land near 9 MiB.
    QFile jpeg(dir + "/picture.jpg");
    jpeg.open(QIODevice::WriteOnly);
    jpeg.write(Encode(Noise(3740, 2800), "JPEG", 90));
    // A photo-like picture: smooth gradients compress as a camera's pictures do.
    QImage photo(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y)
        for (int x = 0; x < photo.width(); ++x)
            photo.setPixel(x, y, qRgb(x * 255 / 640, y * 255 / 480, (x + y) % 256));
    QFile ordinary(dir + "/photo.jpeg");
    ordinary.open(QIODevice::WriteOnly);
    ordinary.write(Encode(photo, "JPEG", 85));
    QFile raw(dir + "/picture.bin");
    raw.open(QIODevice::WriteOnly);
    raw.write(QByteArray(int(kPictureBytes), 'p'));
}

void PutString(std::vector<char>& out, const QByteArray& s)
{
    PutU32(out, quint32(s.size()));
    out.insert(out.end(), s.begin(), s.end());
}

void PutFrame(std::vector<char>& out, const std::vector<char>& body)
{
    PutU32(out, quint32(body.size()));
    out.insert(out.end(), body.begin(), body.end());
}

// The reply built 20 times from a 9 MiB picture file.
int Reply(const QString& dir)
{
    QApplication::setApplicationName("bench_userinfo");
    QTemporaryDir temp;
    StartEngine(temp);
    SetSetting("user_description", Value("a description"));
    SetSetting("user_picture_file", Value(dir + "/picture.bin"));
    const long baseKiB = CurrentKiB();
    QElapsedTimer t;
    t.start();
    size_t bytes = 0;
    const int runs = 20;
    for (int k = 0; k < runs; ++k)
        bytes = MakeUserInfoReply().GetWriteIndex();
    printf("reply with a 9 MiB picture file: %zu bytes, built in %.2f ms; peak %ld KiB over %ld KiB\n", bytes,
           Ms(t) / runs, PeakKiB() - baseKiB, baseKiB);
    return 0;
}

// A GIF of one pixel, 35 bytes.
QByteArray TinyGif()
{
    return QByteArray::fromHex("474946383961010001008000000000" "00ffffff" "2c000000000100010000" "02024401" "003b");
}

std::vector<char> ReplyFrame(const QByteArray& picture)
{
    std::vector<char> reply;
    PutU32(reply, 16);
    PutString(reply, "a description");
    reply.push_back(1);
    PutString(reply, picture);
    PutU32(reply, 2);
    PutU32(reply, 0);
    reply.push_back(1);
    std::vector<char> frame;
    PutFrame(frame, reply);
    return frame;
}

QByteArray Contents(const QString& file)
{
    QFile in(file);
    in.open(QIODevice::ReadOnly);
    return in.readAll();
}

// The page of the peer "bench", shown, with its request sent.
UserInfoForm* AskingPage()
{
    auto* form = new UserInfoForm();
    form->resize(900, 600);
    form->show();
    form->Init("bench");
    QApplication::processEvents();
    return form;
}

// The frame with which the peer "bench" opens its messaging connection.
std::vector<char> InitFrame()
{
    std::vector<char> init{1};
    PutString(init, "bench");
    PutString(init, "P");
    PutU32(init, 0);
    std::vector<char> frame;
    PutFrame(frame, init);
    return frame;
}

// A peer sends the picture; the page shows it.
int Page(const QString& file)
{
    QTemporaryDir temp;
    StartCore(temp);
    const quint16 port = StartListeningMessenger();
    if (!port)
        return 1;

    const QByteArray picture = Contents(file);
    auto* form = AskingPage();
    std::vector<char> bytes = InitFrame();
    const std::vector<char> reply = ReplyFrame(picture);
    bytes.insert(bytes.end(), reply.begin(), reply.end());

    const long baseKiB = CurrentKiB();
    QEventLoop loop;
    QElapsedTimer t;
    double received = 0;
    // Connected after the page: runs once the page has taken the reply.
    QObject::connect(peerMessenger, &PeerMessenger::UserInfoReceived, [&] {
        received = Ms(t);
        loop.quit();
    });
    int fd = -1;
    t.start();
    std::thread writer([&] {
        fd = DialLoopback(port);
        WriteAll(fd, bytes.data(), bytes.size());
    });
    loop.exec();
    // The picture may come some time after the reply; the page's text is set once it has.
    QTextDocument* document = form->findChild<QTextBrowser*>("userInfoText")->document();
    const auto image = [document] {
        return document->resource(QTextDocument::ImageResource, QUrl("UserImage")).value<QImage>();
    };
    if (image().isNull()) {
        QObject::connect(document, &QTextDocument::contentsChanged, &loop, &QEventLoop::quit);
        QTimer::singleShot(20000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double shownMs = Ms(t);
    form->repaint();
    const double painted = Ms(t);
    writer.join();
    const QImage shown = image();
    printf("page, %s of %d bytes: shown %dx%d; reply taken %.1f ms, picture shown %.1f ms, painted %.1f ms; peak %ld "
           "KiB over %ld KiB\n",
           qPrintable(QFileInfo(file).suffix()), int(picture.size()), shown.width(), shown.height(), received, shownMs,
           painted, PeakKiB() - baseKiB, baseKiB);
    ::close(fd);
    return 0;
}

// A peer floods the page with replies while the program holds the given amount of memory.
int Flood(const QString& photoFile, int heldMiB, int replies)
{
    QTemporaryDir temp;
    StartCore(temp);
    const quint16 port = StartListeningMessenger();
    if (!port)
        return 1;
    const QByteArray photo = Contents(photoFile);

    // Touched, so that every page of it is the process's own.
    const size_t held = size_t(heldMiB) << 20;
    char* ballast = static_cast<char*>(malloc(held));
    for (size_t at = 0; at < held; at += 4096)
        ballast[at] = char(at);

    auto* form = AskingPage();
    std::vector<char> bytes = InitFrame();
    const std::vector<char> tiny = ReplyFrame(TinyGif());
    for (int k = 0; k < replies; ++k)
        bytes.insert(bytes.end(), tiny.begin(), tiny.end());
    const std::vector<char> last = ReplyFrame(photo);
    bytes.insert(bytes.end(), last.begin(), last.end());

    QTextDocument* document = form->findChild<QTextBrowser*>("userInfoText")->document();
    const auto shownSize = [document] {
        return document->resource(QTextDocument::ImageResource, QUrl("UserImage")).value<QImage>().size();
    };
    QEventLoop loop;
    QElapsedTimer t;
    int taken = 0;
    double lastTaken = 0;
    double shown = 0;
    QObject::connect(peerMessenger, &PeerMessenger::UserInfoReceived, [&] {
        if (++taken == replies + 1)
            lastTaken = Ms(t);
    });
    QObject::connect(document, &QTextDocument::contentsChanged, [&] {
        if (taken == replies + 1 && shownSize() == QSize(533, 400) && !shown) {
            shown = Ms(t);
            loop.quit();
        }
    });
    // How long the event loop stands still: the largest gap between two turns of it.
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QElapsedTimer gap;
    double longestGap = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestGap = qMax(longestGap, Ms(gap));
        gap.restart();
    });
    QTimer::singleShot(60000 + replies * 200, &loop, &QEventLoop::quit);
    const Cpu before = Cpu::Now();
    const int started = PictureDecoder::ChildrenStarted();
    int fd = -1;
    gap.start();
    tick.start(1);
    t.start();
    std::thread writer([&] {
        fd = DialLoopback(port);
        WriteAll(fd, bytes.data(), bytes.size());
    });
    loop.exec();
    const Cpu after = Cpu::Now();
    tick.stop();
    writer.join();
    printf("flood of %d replies holding %d MiB: all taken after %.1f ms, longest event-loop stall %.1f ms, GUI "
           "thread CPU %.1f ms; last picture %dx%d shown %.1f ms after the last reply; %d decoding children started\n",
           replies, heldMiB, lastTaken, longestGap, (after.thread - before.thread) * 1000, shownSize().width(),
           shownSize().height(), shown ? shown - lastTaken : -1.0, PictureDecoder::ChildrenStarted() - started);
    ::close(fd);
    free(ballast);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    // The page's pictures are decoded by this program run again, as the client runs itself.
    if (PictureDecoder::IsChildRun(argc, argv))
        return PictureDecoder::RunChild(argc, argv);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1] == "reply")
        return Reply(args[2]);
    if (args.size() == 3 && args[1] == "page")
        return Page(args[2]);
    if (args.size() == 5 && args[1] == "flood")
        return Flood(args[2], args[3].toInt(), args[4].toInt());

    QTemporaryDir dir;
    WritePictures(dir.path());
    auto run = [&](const QStringList& arguments) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(app.applicationFilePath(), arguments);
        child.waitForFinished(-1);
    };
    run({"reply", dir.path()});
    run({"page", dir.filePath("picture.png")});
    run({"page", dir.filePath("picture.jpg")});
    run({"page", dir.filePath("photo.jpeg")});
    // BENCH_FLOOD sets the number of replies of the flood (2000 unless set).
    const QString replies = qEnvironmentVariableIsSet("BENCH_FLOOD") ? qEnvironmentVariable("BENCH_FLOOD") : "2000";
    run({"flood", dir.filePath("photo.jpeg"), "100", replies});
    run({"flood", dir.filePath("photo.jpeg"), "2048", replies});
    return 0;
}
