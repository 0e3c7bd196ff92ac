// User info: the reply other users get from the settings, the page that asks another user and
// shows what comes back (figures, description, picture, failure), its tab, and its links. Fake
// peers hold messaging connections to the client.

#include "mainwindowfixture.h"
#include "menuchoice.h"
#include "viewhelpers.h"

#include "app/eventtoolbar.h"
#include "app/usermenuoptions.h"
#include "common/childprocess.h"
#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/largestalloc.h"
#include "common/peerfixture.h"
#include "common/testfiles.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "ui/users/userinfoform.h"
#include "ui/users/userlistform.h"

#include "urlcatcher.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QImageWriter>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QScopeGuard>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>

#include <map>
#include <memory>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zlib.h>

namespace {

using P = FakePeer;

QByteArray Png(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(0);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray Encode(const QImage& image, const char* format, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray Be32(quint32 value)
{
    QByteArray out(4, 0);
    qToBigEndian(value, out.data());
    return out;
}

QByteArray Le16(quint16 value)
{
    QByteArray out(2, 0);
    qToLittleEndian(value, out.data());
    return out;
}

QByteArray PngChunk(const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    return Be32(quint32(data.size())) + typed +
           Be32(quint32(crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), uInt(typed.size()))));
}

const char kPng[] = "\x89PNG\r\n\x1a\n";

// A PNG of RGBA samples that claims the size and depth, with a few bytes of image data: enough
// for a decoder to set out on it.
QByteArray ClaimingPng(quint32 width, quint32 height, quint8 depth)
{
    const QByteArray header = Be32(width) + Be32(height) + char(depth) + Hex("06 00 00 00");
    return QByteArray(kPng, 8) + PngChunk("IHDR", header) +
           PngChunk("IDAT", qCompress(QByteArray(16, 0)).mid(4)) + PngChunk("IEND", QByteArray());
}

// A GIF of one frame, 1 by 1 unless told, on a logical screen of the size given; the flags of
// its control block tell what becomes of the frame after it is shown.
QByteArray ScreenGif(quint16 width, quint16 height, quint8 controlFlags = 0, quint16 frameWidth = 1,
                     quint16 frameHeight = 1)
{
    return "GIF89a" + Le16(width) + Le16(height) + Hex("00 00 00") + Hex("21 F9 04") + char(controlFlags) +
           Hex("00 00 00 00") + Hex("21 FE 03 61 62 63 00") + Hex("2C 0000 0000") + Le16(frameWidth) +
           Le16(frameHeight) + Hex("80 000000 FFFFFF") + Hex("02 02 44 01 00") + Hex("3B");
}

// A GIF of no screen whose frame of the size given follows a control block of size 0.
QByteArray HiddenFrameGif(quint16 width, quint16 height)
{
    return "GIF89a" + Le16(0) + Le16(0) + Hex("00 00 00") + Hex("21 F9 00 00") + Hex("2C 0000 0000") + Le16(width) +
           Le16(height) + Hex("80 000000 FFFFFF") + Hex("02 02 44 01 00") + Hex("3B");
}

QByteArray TextChunk(int letters)
{
    return PngChunk("zTXt", QByteArray("Comment\0\0", 9) + qCompress(QByteArray(letters, 'a')).mid(4));
}

// A 1 by 1 PNG with compressed text chunks, each of the number of letters given.
QByteArray TextPng(int chunks, int letters)
{
    const QByteArray plain = ClaimingPng(1, 1, 8);
    return plain.left(33) + TextChunk(letters).repeated(chunks) + plain.mid(33);
}

QByteArray JpegSegment(quint8 marker, const QByteArray& body)
{
    return Hex("FF") + char(marker) + Be32(quint32(body.size() + 2)).right(2) + body;
}

// A JPEG's tables and frame header (0xC0 baseline, 0xC2 progressive) for components sampled
// alike. Its Huffman tables hold one code of one bit, so that zero bits, or none, make empty blocks.
QByteArray JpegHead(quint8 frame, quint16 width, quint16 height, int components, const QByteArray& beforeFrame = {})
{
    QByteArray header = Hex("08") + Be32(height).right(2) + Be32(width).right(2) + char(components);
    for (int c = 1; c <= components; ++c)
        header += char(c) + Hex("11 00");
    const QByteArray oneCode = Hex("01") + QByteArray(15, 0) + Hex("00");
    return Hex("FFD8") + JpegSegment(0xDB, Hex("00") + QByteArray(64, 1)) + beforeFrame + JpegSegment(frame, header) +
           JpegSegment(0xC4, Hex("00") + oneCode) + JpegSegment(0xC4, Hex("10") + oneCode);
}

// A scan header over the components numbered from 1, for the coefficients from first to last.
QByteArray JpegScan(int components, quint8 first, quint8 last)
{
    QByteArray body(1, char(components));
    for (int c = 1; c <= components; ++c)
        body += char(c) + Hex("00");
    return JpegSegment(0xDA, body + char(first) + char(last) + Hex("00"));
}

// An icon of one entry that says 16 by 16 and holds the PNG.
QByteArray IconHolding(const QByteArray& png)
{
    return Le16(0) + Le16(1) + Le16(1) + Hex("10 10 00 00") + Le16(1) + Le16(32) + P::U32(quint32(png.size())) +
           P::U32(22) + png;
}

// An interlaced 3400 x 3400 RGBA PNG whose pixels are all there (of one colour, so that it is
// small), after compressed text chunks of the numbers of letters given.
QByteArray InterlacedPng(const QList<int>& texts)
{
    static const QByteArray pixels = [] {
        // The seven passes' rows, each behind its filter byte.
        const int size = 3400, passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                               {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        QByteArray rows;
        for (const auto& p : passes)
            rows += (Hex("00") + Hex("80 40 20 FF").repeated((size - p[0] + p[2] - 1) / p[2]))
                        .repeated((size - p[1] + p[3] - 1) / p[3]);
        return PngChunk("IDAT", qCompress(rows, 9).mid(4));
    }();
    QByteArray png = QByteArray(kPng, 8) + PngChunk("IHDR", Be32(3400) + Be32(3400) + Hex("08 06 00 00 01"));
    for (int letters : texts)
        png += TextChunk(letters);
    return png + pixels + PngChunk("IEND", QByteArray());
}

QByteArray Answer(quint32 width, quint32 height, const QByteArray& rest)
{
    return P::U32(width) + P::U32(height) + rest;
}

// The processes this one started that have not been reaped yet.
QList<int> Children()
{
    QList<int> pids;
    const QByteArray self = QByteArray::number(QCoreApplication::applicationPid());
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        if (entry.at(0).isDigit() && ProcessStat(entry).value(1) == self)
            pids << entry.toInt();
    return pids;
}

// Gone, or a zombie nobody has reaped yet: either way it runs no more.
bool Ended(int pid)
{
    const QList<QByteArray> stat = ProcessStat(QString::number(pid));
    return stat.isEmpty() || stat[0] == "Z";
}

// A limit of a running process as its limits file shows it: "soft hard unit".
QString LimitOf(qint64 pid, const QString& name)
{
    QFile limits(QString("/proc/%1/limits").arg(pid));
    if (!limits.open(QIODevice::ReadOnly))
        return QString();
    for (const QString& line : QString::fromLatin1(limits.readAll()).split('\n'))
        if (line.startsWith(name))
            return line.mid(name.size()).simplified();
    return QString();
}

// The fields of a reply after its code.
QByteArray Reply(const QString& description, const QByteArray* picture, quint32 uploadSlots, quint32 queued, bool free)
{
    QByteArray out = P::Str(description) + P::U8(picture ? 1 : 0);
    if (picture)
        out += P::U32(quint32(picture->size())) + *picture;
    return out + P::U32(uploadSlots) + P::U32(queued) + P::U8(free ? 1 : 0);
}

// The names of the images laid out in the document, and the targets of its links.
QStringList Images(QTextDocument* doc)
{
    QStringList names;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isImageFormat())
                names << it.fragment().charFormat().toImageFormat().name();
    return names;
}

QStringList Links(QTextDocument* doc)
{
    QStringList hrefs;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor())
                hrefs << it.fragment().charFormat().anchorHref();
    return hrefs;
}

QSize ShownImageSize(QTextDocument* doc)
{
    return doc->resource(QTextDocument::ImageResource, QUrl("UserImage")).value<QImage>().size();
}

}  // namespace

class TestUserInfo : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void reply_data();
    void reply();
    void replyDescriptionCut();
    void pageShowsReply_data();
    void pageShowsReply();
    void hugePictureRefused();
    void costlyPicturesRefused_data();
    void costlyPicturesRefused();
    void pictureDecodedApart_data();
    void pictureDecodedApart();
    void decoderAnswers_data();
    void decoderAnswers();
    void overtakenPictures();
    void replyFlood();
    void twoChildrenAtATime();
    void stuckPictureEndsByItself();
    void childOnItsOwn();
    void mangledPictureHeaders();
    void damagedPictures();
    void askTwiceAndClose();
    void replyForOthersAndEvents();
    void descriptionIsText();
    void connectionFailure();
    void cleanup();
    void cleanupTestCase();

private:
    FakePeer& Peer(const QString& user) { return m_peers.Get(user, m_fixture.listeningPort); }
    // The bodies the peer received with the code, forgotten once read.
    static QList<QByteArray> Take(FakePeer& peer, quint32 code)
    {
        QList<QByteArray> bodies;
        for (const FakePeer::Frame& frame : peer.TakeFrames())
            if (frame.body.left(4) == P::U32(code))
                bodies << frame.body;
        return bodies;
    }
    // The user's page opened through the per-user menu, as the user does.
    static UserInfoForm* AskForInfo(const QString& user)
    {
        QMenu menu;
        UserMenuOptions options(&menu, user);
        TriggerMenuEntry(menu, "Get User Info");
        return qobject_cast<UserInfoForm*>(Tabs()->currentWidget());
    }
    static QTabWidget* Tabs() { return W<QTabWidget>(userListForm, "userInfoTabs"); }
    static QTextBrowser* Text(UserInfoForm* form) { return W<QTextBrowser>(form, "userInfoText"); }
    static QString Figures(UserInfoForm* form)
    {
        return W<QLineEdit>(form, "uploadSlotsEdit")->text() + "|" + W<QLineEdit>(form, "freeToUploadEdit")->text() +
               "|" + W<QLineEdit>(form, "queuedUploadsEdit")->text();
    }
    // Closes the page with its tab's close mark.
    static void CloseTab(UserInfoForm* form)
    {
        QPointer<UserInfoForm> guard(form);
        QVERIFY(ClickCloseMark(Tabs(), Tabs()->indexOf(form)));
        QTRY_VERIFY(guard.isNull());
    }

    // An executable shell script in the test's folder.
    QString Script(const QString& name, const QString& body)
    {
        const QString path = m_dir.filePath(name);
        QFile::remove(path);
        if (!WriteFile(path, "#!/bin/sh\n" + body.toUtf8()))
            return QString();
        QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }
    // A decoding child that notes its start and end in "runs" and then is the real one, unless
    // "hold" exists (it then sleeps) or "slow" exists (it waits a little first).
    void UseNotingChild()
    {
        const QString dir = m_dir.path();
        QFile::remove(dir + "/runs");
        PictureDecoder::SetProgram(Script("noting", QString("echo start >> '%1/runs'\n"
                                                            "[ -e '%1/hold' ] && exec sleep 60\n"
                                                            "[ -e '%1/slow' ] && sleep 0.5\n"
                                                            "echo end >> '%1/runs'\n"
                                                            "exec '%2' \"$@\"\n")
                                                        .arg(dir, qEnvironmentVariable("TAVRINEL_BINARY"))));
    }
    void UseRealChild()
    {
        PictureDecoder::SetProgram(qEnvironmentVariable("TAVRINEL_BINARY"));
        QFile::remove(m_dir.filePath("hold"));
        QFile::remove(m_dir.filePath("slow"));
    }
    QStringList Runs() { return QString(ReadFile(m_dir.filePath("runs"))).split('\n', Qt::SkipEmptyParts); }
    void Touch(const QString& name) { WriteFile(m_dir.filePath(name), QByteArray()); }
    // The real child run by hand, with the parent and time limit given.
    static void StartChild(QProcess& child, const QString& parent, int limitMs = 60000)
    {
#if defined(__SANITIZE_ADDRESS__)
        // As the page starts it: its leaks at exit are not looked for.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":detect_leaks=0");
        child.setProcessEnvironment(environment);
#endif
        child.start(qEnvironmentVariable("TAVRINEL_BINARY"),
                    {PictureDecoder::kChildOption, parent, QString::number(limitMs)});
        QVERIFY(child.waitForStarted());
    }

    MainWindowFixture m_fixture;
    PeerSet m_peers;
    QTemporaryDir m_dir;
};

void TestUserInfo::initTestCase()
{
    // Pictures are decoded by the program itself, as it runs for the user.
    PictureDecoder::SetProgram(qEnvironmentVariable("TAVRINEL_BINARY"));
    QVERIFY(m_fixture.Start());
    mainWindow->resize(900, 700);
}

void TestUserInfo::reply_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("uploadSlots");
    // "" no picture setting; "missing"; "dir" a folder; a path of the system; otherwise the file holds these bytes;
    // "room", "room+1": a file exactly as large as fits beside the rest in a frame, or one byte more;
    // "4G+5": a file of 4 GiB and 5 bytes.
    QTest::addColumn<QString>("picture");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("fresh start") << "" << "1" << "" << Hex("10000000 00000000 00 01000000 00000000 01");
    QTest::newRow("abc") << "abc" << "2" << "" << Hex("10000000 03000000 616263 00 02000000 00000000 01");
    QTest::newRow("picture") << "abc" << "2" << "ABCDE"
                             << Hex("10000000 03000000 616263 01 05000000 4142434445 02000000 00000000 01");
    QTest::newRow("missing picture") << "abc" << "2" << "missing"
                                     << Hex("10000000 03000000 616263 00 02000000 00000000 01");
    QTest::newRow("folder as picture") << "" << "1" << "dir" << Hex("10000000 00000000 00 01000000 00000000 01");
    QTest::newRow("device as picture") << "" << "1" << "/dev/zero" << Hex("10000000 00000000 00 01000000 00000000 01");
    QTest::newRow("no free slot") << "" << "0" << "" << Hex("10000000 00000000 00 00000000 00000000 00");
    QTest::newRow("line break") << "a\nb" << "1" << "" << Hex("10000000 03000000 610a62 00 01000000 00000000 01");
    QTest::newRow("beyond a frame") << "" << "1" << "room+1" << Hex("10000000 00000000 00 01000000 00000000 01");
    QTest::newRow("beyond 32 bits") << "" << "1" << "4G+5" << Hex("10000000 00000000 00 01000000 00000000 01");
    QTest::newRow("fills a frame") << "" << "1" << "room" << QByteArray();
}

void TestUserInfo::reply()
{
    QFETCH(QString, description);
    QFETCH(QString, uploadSlots);
    QFETCH(QString, picture);
    QFETCH(QByteArray, expected);

    // A frame of 10 MiB holds 22 bytes besides the picture when the description is empty.
    const qint64 room = 10485760 - 22;
    const QString path = m_dir.filePath("picture");
    QFile::remove(path);
    QDir(m_dir.path()).rmdir("picture");
    if (picture == "dir") {
        QVERIFY(QDir(m_dir.path()).mkdir("picture"));
    } else if (!picture.isEmpty() && picture != "missing" && !picture.startsWith('/')) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (picture == "room" || picture == "room+1")
            QVERIFY(file.resize(room + (picture == "room+1" ? 1 : 0)));
        else if (picture == "4G+5")
            QVERIFY(file.resize((qint64(1) << 32) + 5));
        else
            QVERIFY(file.write(picture.toLatin1()) == picture.size());
    }
    SetSetting("user_description", description);
    SetSetting("user_picture_file", picture.isEmpty() ? QString() : picture.startsWith('/') ? picture : path);
    SetSetting("upload_slots", uploadSlots);

    FakePeer& peer = Peer("bob");
    peer.TakeFrames();
    peer.SendMessage(15);
    QVERIFY(peer.WaitForFrames(1, 20000));
    const QList<QByteArray> replies = Take(peer, 16);
    QCOMPARE(replies.size(), 1);
    if (picture == "room") {
        QCOMPARE(qint64(replies[0].size()), qint64(10485760));
        QCOMPARE(replies[0].mid(8, 5), Hex("01") + P::U32(quint32(room)));
        QCOMPARE(replies[0].right(9), Hex("01000000 00000000 01"));
    } else {
        QCOMPARE(replies[0].toHex(), expected.toHex());
    }
    QFile::remove(path);
    QDir(m_dir.path()).rmdir("picture");
    SetSetting("user_picture_file", QString());
    SetSetting("upload_slots", "1");
}

// A description longer than a receiver takes is cut whole characters short of the limit.
void TestUserInfo::replyDescriptionCut()
{
    const QString description = QString(131071, 'a') + QString::fromUtf8("\xc3\xa9") + "tail";
    SetSetting("user_description", description);
    FakePeer& peer = Peer("bob");
    peer.TakeFrames();
    peer.SendMessage(15);
    QVERIFY(peer.WaitForFrames(1));
    const QList<QByteArray> replies = Take(peer, 16);
    QCOMPARE(replies.size(), 1);
    QCOMPARE(replies[0].mid(4, 4), P::U32(131071));
    QCOMPARE(replies[0].size(), 4 + 4 + 131071 + 1 + 9);
    SetSetting("user_description", QString());
}

void TestUserInfo::pageShowsReply_data()
{
    QTest::addColumn<QString>("description");
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<bool>("hasPicture");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QSize>("shown");

    const QChar image(QChar::ObjectReplacementCharacter);
    QTest::newRow("nothing") << "" << QByteArray() << false << "No user info." << QSize(0, 0);
    QTest::newRow("text") << "two\nlines" << QByteArray() << false << "two\nlines" << QSize(0, 0);
    QTest::newRow("wide picture") << "" << Png(1600, 400) << true << QString(image) + "\n" << QSize(800, 200);
    QTest::newRow("fitting picture") << "hi" << Png(800, 400) << true << QString(image) + "\nhi" << QSize(800, 400);
    QTest::newRow("tall picture") << "" << Png(300, 1200) << true << QString(image) + "\n" << QSize(100, 400);
    QTest::newRow("undecodable with text") << "hi" << QByteArray("not a picture") << true << "hi" << QSize(0, 0);
    QTest::newRow("undecodable alone") << "" << QByteArray("not a picture") << true << "No user info." << QSize(0, 0);
    QTest::newRow("empty picture") << "" << QByteArray() << true << "No user info." << QSize(0, 0);
}

void TestUserInfo::pageShowsReply()
{
    QFETCH(QString, description);
    QFETCH(QByteArray, picture);
    QFETCH(bool, hasPicture);
    QFETCH(QString, text);
    QFETCH(QSize, shown);

    FakePeer& peer = Peer("cat");
    peer.TakeFrames();
    UserInfoForm* form = AskForInfo("cat");
    QVERIFY(form);
    QCOMPARE(Tabs()->tabText(Tabs()->indexOf(form)), QString("cat"));
    QVERIFY(form->isVisible());
    QCOMPARE(Text(form)->toPlainText(), QString("Requesting..."));
    QVERIFY(peer.WaitForFrames(1));
    QCOMPARE(Take(peer, 15), QList<QByteArray>{P::U32(15)});

    peer.SendMessage(16, Reply(description, hasPicture ? &picture : nullptr, 3, 7, false));
    QTRY_COMPARE(Figures(form), QString("3|No|7"));
    QTRY_COMPARE(Text(form)->toPlainText(), text);
    QCOMPARE(ShownImageSize(Text(form)->document()), shown);
    QCOMPARE(Images(Text(form)->document()), !shown.isEmpty() ? QStringList{"UserImage"} : QStringList());
    CloseTab(form);
}

// A picture of more than 64 megapixels is not decoded at all; the rest of the reply shows.
void TestUserInfo::hugePictureRefused()
{
    const QByteArray huge = Png(9000, 8000, QImage::Format_Mono);
    FakePeer& peer = Peer("dan");
    UserInfoForm* form = AskForInfo("dan");
    QVERIFY(form);
    peer.SendMessage(16, Reply("big", &huge, 1, 0, true));
    QTRY_COMPARE(Figures(form), QString("1|Yes|0"));
    QTRY_COMPARE(Text(form)->toPlainText(), QString("big"));
    QVERIFY(ShownImageSize(Text(form)->document()).isEmpty());
    QVERIFY(LogText("Peer Messenger").contains("in the user info of dan not shown"));
    CloseTab(form);
}

void TestUserInfo::costlyPicturesRefused_data()
{
    QTest::addColumn<QByteArray>("picture");
    QTest::newRow("GIF screen of 16383 x 16383") << ScreenGif(16383, 16383);
    QTest::newRow("icon holding a PNG of 16384 x 16384") << IconHolding(ClaimingPng(16384, 16384, 8));
    QTest::newRow("16-bit PNG of 64 megapixels") << ClaimingPng(8192, 8192, 16);
}

// Tiny pictures whose decoding would take hundreds of megabytes, whatever size they tell the
// toolkit, are not decoded: the rest of the reply shows, and nothing near that size is allocated.
void TestUserInfo::costlyPicturesRefused()
{
    QFETCH(QByteArray, picture);
    QVERIFY(picture.size() < 160);
    FakePeer& peer = Peer("kim");
    UserInfoForm* form = AskForInfo("kim");
    QVERIFY(form);
    g_largestNew = 0;
    peer.SendMessage(16, Reply("tiny", &picture, 2, 0, true));
    QTRY_COMPARE(Figures(form), QString("2|Yes|0"));
    QTRY_COMPARE(Text(form)->toPlainText(), QString("tiny"));
    const size_t largest = g_largestNew;
    QVERIFY2(largest < 16u * 1024 * 1024, qPrintable(QString::number(largest)));
    QVERIFY(ShownImageSize(Text(form)->document()).isEmpty());
    QVERIFY(LogText("Peer Messenger")
                .contains(QString("Picture of %1 bytes in the user info of kim not shown").arg(picture.size())));
    CloseTab(form);
}

void TestUserInfo::pictureDecodedApart_data()
{
    QTest::addColumn<QByteArray>("picture");
    QTest::addColumn<bool>("answers");
    QTest::addColumn<QSize>("shown");

    const QSize none(0, 0);
    const QByteArray jpegEnd = Hex("00 00 FF D9");
    QTest::newRow("baseline JPEG whose first scan holds one of three components")
        << JpegHead(0xC0, 12000, 12000, 3) + JpegScan(1, 0, 63) + jpegEnd << true << none;
    QTest::newRow("PNG of four compressed texts of 7 MB") << TextPng(4, 7 << 20) << true << none;
    QTest::newRow("progressive JPEG with a stray byte before its frame")
        << JpegHead(0xC2, 3500, 3500, 3, Hex("00")) + JpegScan(3, 0, 0) + jpegEnd << true << none;
    QTest::newRow("GIF restoring the screen after its frame") << ScreenGif(3500, 3500, 0x0D, 3500, 3500) << true << none;
    QTest::newRow("GIF frame behind a control block of size 0") << HiddenFrameGif(16383, 16383) << true << none;
    QTest::newRow("PNG of forty compressed texts of 7 MB") << TextPng(40, 7 << 20) << true << none;
    QTest::newRow("XBM header") << QByteArray("#define p_width 32767\n#define p_height 32767\nstatic char p_bits[] = {\n0x00,\n") << true
                                << none;
    QTest::newRow("progressive JPEG of 20000 empty scans")
        << JpegHead(0xC2, 2000, 2000, 1) + JpegScan(1, 0, 0) + JpegScan(1, 1, 63).repeated(20000) + jpegEnd << true
        << none;
    QTest::newRow("GIF screen of 16383 x 16383") << ScreenGif(16383, 16383) << true << none;
    QTest::newRow("icon holding a PNG of 16384 x 16384") << IconHolding(ClaimingPng(16384, 16384, 8)) << true << none;
    QTest::newRow("16-bit PNG of 64 megapixels") << ClaimingPng(8192, 8192, 16) << true << none;
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    QTest::newRow("JPEG of 640 x 480") << Encode(photo, "jpeg") << true << QSize(533, 400);
    QTest::newRow("PNG of 640 x 480") << Encode(photo, "png") << true << QSize(533, 400);
    QTest::newRow("GIF of 640 x 480") << ScreenGif(640, 480) << true << QSize(533, 400);
    QTest::newRow("decoder that never answers") << Encode(photo, "png") << false << none;
}

// Whatever a picture makes its decoder do, the page decodes it in a child of bounded memory and
// time: this process takes no large block for it, and a picture that is not shown leaves the rest
// of the reply, and its reason in the log.
void TestUserInfo::pictureDecodedApart()
{
    QFETCH(QByteArray, picture);
    QFETCH(bool, answers);
    QFETCH(QSize, shown);
    if (!answers)
        PictureDecoder::SetProgram(Script("sleeper", "exec sleep 60\n"));
    FakePeer& peer = Peer("lou");
    UserInfoForm* form = AskForInfo("lou");
    QVERIFY(form);
    const int timeLimit = PictureDecoder::TimeLimit();
    if (!answers)
        PictureDecoder::SetTimeLimit(300);
    g_largestNew = 0;
    peer.SendMessage(16, Reply("apart", &picture, 4, 1, true));
    QTRY_COMPARE(Figures(form), QString("4|Yes|1"));
    QTRY_VERIFY_WITH_TIMEOUT(Text(form)->toPlainText().endsWith("apart"), 20000);
    const size_t largest = g_largestNew;
    PictureDecoder::SetProgram(qEnvironmentVariable("TAVRINEL_BINARY"));
    PictureDecoder::SetTimeLimit(timeLimit);
    QVERIFY2(largest < 16u * 1024 * 1024, qPrintable(QString::number(largest)));
    QCOMPARE(ShownImageSize(Text(form)->document()), shown);
    QCOMPARE(Text(form)->toPlainText(),
             (shown.isEmpty() ? QString() : QString(QChar::ObjectReplacementCharacter) + "\n") + "apart");
    if (shown.isEmpty())
        QVERIFY(LogText("Peer Messenger")
                    .contains(QString("Picture of %1 bytes in the user info of lou not shown").arg(picture.size())));
    // A child that took too long is killed, not left to sleep.
    QTRY_VERIFY(Children().isEmpty());
    CloseTab(form);
}

void TestUserInfo::decoderAnswers_data()
{
    QTest::addColumn<QString>("answer");  // a file the child writes, or a device
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");  // empty when the picture shows
    const QString malformed = "its decoder's answer is malformed";
    QTest::newRow("picture of 2 x 1") << "" << Answer(2, 1, QByteArray(8, char(0xFF))) << "";
    QTest::newRow("refusal") << "" << Answer(0, 0, "because") << "because";
    QTest::newRow("wider than the box") << "" << Answer(801, 1, QByteArray(801 * 4, 0)) << malformed;
    QTest::newRow("higher than the box") << "" << Answer(1, 401, QByteArray(401 * 4, 0)) << malformed;
    QTest::newRow("shorter than its pixels") << "" << Answer(100, 100, QByteArray(92, 0)) << malformed;
    QTest::newRow("reason over its bound") << "" << Answer(0, 0, QByteArray(201, 'r')) << malformed;
    QTest::newRow("far too long") << "/dev/zero" << QByteArray() << "its decoder's answer is too long";
}

// Whatever a child answers, only a picture within the box and of exactly its pixels shows, and
// only a short reason is taken; the child's standard error goes nowhere.
void TestUserInfo::decoderAnswers()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    if (answer.isEmpty()) {
        answer = m_dir.filePath("answer");
        QVERIFY(WriteFile(answer, bytes));
    }
    PictureDecoder::SetProgram(Script("answering", QString("readlink /proc/$$/fd/2 > '%1/stderr'\n"
                                                           "cat > /dev/null\nexec cat '%2'\n")
                                                       .arg(m_dir.path(), answer)));
    FakePeer& peer = Peer("lou");
    UserInfoForm* form = AskForInfo("lou");
    QVERIFY(form);
    const QByteArray picture = QTest::currentDataTag();
    peer.SendMessage(16, Reply("fake", &picture, 1, 0, true));
    QTRY_VERIFY(Text(form)->toPlainText().endsWith("fake"));
    UseRealChild();
    QCOMPARE(ReadFile(m_dir.filePath("stderr")), QByteArray("/dev/null\n"));
    QCOMPARE(ShownImageSize(Text(form)->document()), reason.isEmpty() ? QSize(2, 1) : QSize(0, 0));
    if (!reason.isEmpty())
        QTRY_VERIFY(LogText("Peer Messenger")
                        .contains(QString("Picture of %1 bytes in the user info of lou not shown: %2")
                                  .arg(picture.size())
                                  .arg(reason)));
    QTRY_VERIFY(Children().isEmpty());
    CloseTab(form);
}

// The figures show as soon as a reply comes. A newer reply's picture is the one shown: the child
// still at work for the older one is killed, and a newer reply without a picture shows none.
void TestUserInfo::overtakenPictures()
{
    UseNotingChild();
    FakePeer& peer = Peer("max");
    UserInfoForm* form = AskForInfo("max");
    QVERIFY(form);
    Touch("hold");
    const QByteArray first = Png(640, 480);
    peer.SendMessage(16, Reply("first", &first, 5, 0, true));
    QTRY_COMPARE(Figures(form), QString("5|Yes|0"));
    QTRY_COMPARE(Children().size(), 1);
    const int held = Children().first();
    QCOMPARE(Text(form)->toPlainText(), QString("Requesting..."));

    QFile::remove(m_dir.filePath("hold"));
    const QByteArray second = Png(100, 50);
    peer.SendMessage(16, Reply("second", &second, 6, 0, true));
    QTRY_COMPARE(Text(form)->toPlainText(), QString(QChar::ObjectReplacementCharacter) + "\nsecond");
    QCOMPARE(ShownImageSize(Text(form)->document()), QSize(100, 50));
    QTRY_VERIFY(Ended(held));

    Touch("slow");
    const QByteArray third = Png(200, 100);
    peer.SendMessage(16, Reply("third", &third, 7, 0, true));
    QTRY_COMPARE(Children().size(), 1);
    peer.SendMessage(16, Reply("fourth", nullptr, 8, 0, true));
    QTRY_COMPARE(Text(form)->toPlainText(), QString("fourth"));
    QTRY_VERIFY(Children().isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(Text(form)->toPlainText(), QString("fourth"));
    QVERIFY(Images(Text(form)->document()).isEmpty());
    QCOMPARE(Figures(form), QString("8|Yes|0"));
    UseRealChild();
    CloseTab(form);
}

// A peer's burst of replies, each with a picture, starts a child for the last of them, not one
// for each (the burst may come in two reads). Without a program set, the running program decodes:
// here, this test itself.
void TestUserInfo::replyFlood()
{
    PictureDecoder::SetProgram(QString());
    FakePeer& peer = Peer("ned");
    UserInfoForm* form = AskForInfo("ned");
    QVERIFY(form);
    const QByteArray tiny = ScreenGif(1, 1);
    QByteArray burst = P::PlainFrame(P::U32(16) + Reply("tiny", &tiny, 1, 0, true)).repeated(300);
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    const QByteArray last = Encode(photo, "jpeg");
    const int started = PictureDecoder::ChildrenStarted();
    peer.SendRaw(burst + P::PlainFrame(P::U32(16) + Reply("last", &last, 2, 0, true)));
    QTRY_COMPARE(ShownImageSize(Text(form)->document()), QSize(533, 400));
    QCOMPARE(Text(form)->toPlainText(), QString(QChar::ObjectReplacementCharacter) + "\nlast");
    const int starts = PictureDecoder::ChildrenStarted() - started;
    QVERIFY2(starts <= 2, qPrintable(QString("%1 children started").arg(starts)));
    UseRealChild();
    CloseTab(form);
}

// Pictures of four pages at once: two children at a time, the others wait their turn.
void TestUserInfo::twoChildrenAtATime()
{
    UseNotingChild();
    Touch("slow");
    const QStringList users{"ora", "pia", "quin", "rae"};
    QList<UserInfoForm*> forms;
    for (const QString& user : users) {
        Peer(user);
        forms << AskForInfo(user);
        QVERIFY(forms.last());
    }
    const QByteArray picture = Png(300, 100);
    for (const QString& user : users)
        Peer(user).SendMessage(16, Reply(user, &picture, 1, 0, true));
    for (UserInfoForm* form : forms)
        QTRY_COMPARE_WITH_TIMEOUT(ShownImageSize(Text(form)->document()), QSize(300, 100), 10000);
    int running = 0, most = 0;
    for (const QString& run : Runs())
        most = qMax(most, running += run == "start" ? 1 : -1);
    QCOMPARE(Runs().size(), 8);
    QCOMPARE(most, PictureDecoder::kMaxChildren);
    UseRealChild();
    for (UserInfoForm* form : forms)
        CloseTab(form);
}

// Pictures that kept smooth scaling waiting for good on a pool thread the memory limit refused
// (where the limit falls depends on the build, hence several): each child answers by itself, well
// within its own time.
void TestUserInfo::stuckPictureEndsByItself()
{
    const QString self = QString::number(QCoreApplication::applicationPid());
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (int letters = 4800000; letters <= 5600000; letters += 200000) {
        const QByteArray picture = InterlacedPng({letters, 250000});
        QVERIFY(picture.size() < 100 * 1024);
        children.push_back(std::make_unique<ChildProcess>());
        StartChild(*children.back(), self);
        children.back()->write(picture);
        children.back()->closeWriteChannel();
    }
    for (const auto& child : children) {
        const bool ended = child->waitForFinished(20000);
        if (!ended)
            child->kill();
        QVERIFY(ended);
        QCOMPARE(child->exitStatus(), QProcess::NormalExit);
        QCOMPARE(child->exitCode(), 0);
        QVERIFY(child->readAllStandardOutput().size() >= 8);
    }
}

// The child run by hand reads no more than a reply holds. It holds its limits before it reads a
// byte, and ends by itself: after its own time though its picture never comes, at once when its
// parent is not the one that started it, and when its parent dies.
void TestUserInfo::childOnItsOwn()
{
    const QString self = QString::number(QCoreApplication::applicationPid());
    for (const qint64 size : {PictureDecoder::kMaxPictureBytes, PictureDecoder::kMaxPictureBytes + 1}) {
        ChildProcess child;
        StartChild(child, self);
        child.write(QByteArray(int(size), 'x'));
        child.closeWriteChannel();
        QVERIFY(child.waitForFinished(20000));
        QCOMPARE(child.readAllStandardOutput(),
                 Answer(0, 0, size > PictureDecoder::kMaxPictureBytes ? "it is larger than a reply holds"
                                                                       : "it does not decode"));
    }

    ChildProcess stalled;
    StartChild(stalled, self, 200);
    QVERIFY(stalled.waitForFinished(20000));
    QCOMPARE(stalled.exitStatus(), QProcess::CrashExit);
    QCOMPARE(stalled.exitCode(), int(SIGALRM));

    ChildProcess orphan;
    StartChild(orphan, "1");
    QVERIFY(orphan.waitForFinished(20000));
    QCOMPARE(orphan.exitStatus(), QProcess::NormalExit);

    // A parent that starts the child, which waits for its picture from a pipe this test holds
    // open, then is killed.
    const QByteArray pipe = QFile::encodeName(m_dir.filePath("pipe"));
    QVERIFY(::mkfifo(pipe.constData(), 0600) == 0);
    const int writer = ::open(pipe.constData(), O_RDWR);
    const auto closeWriter = qScopeGuard([&] {
        ::close(writer);
        ::unlink(pipe.constData());
    });
    ChildProcess parent;
    parent.start("/bin/sh", {"-c", "\"$0\" --decode-picture $$ 60000 < \"$1\" & echo $!; exec sleep 60",
                             qEnvironmentVariable("TAVRINEL_BINARY"), QFile::decodeName(pipe)});
    QVERIFY(parent.waitForReadyRead());
    const int child = parent.readLine().trimmed().toInt();
    QVERIFY(child > 0);
    QTRY_COMPARE(LimitOf(child, "Max cpu time"), QString("3 4 seconds"));
    QCOMPARE(LimitOf(child, "Max core file size"), QString("0 0 bytes"));
    QCOMPARE(LimitOf(child, "Max file size"), QString("0 0 bytes"));
#if !defined(__SANITIZE_ADDRESS__)
    QCOMPARE(LimitOf(child, "Max data size"), QString("134217728 134217728 bytes"));
#endif
    parent.kill();
    QVERIFY(parent.waitForFinished());
    const bool ended = QTest::qWaitFor([child] { return Ended(child); }, 10000);
    if (!ended)
        ::kill(child, SIGKILL);
    QVERIFY(ended);
}

// Pictures of every format read here, their headers mangled at random: no decode takes more
// than its bound, and whatever decodes fits the page.
void TestUserInfo::mangledPictureHeaders()
{
    QImage photo(120, 90, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    const QList<QByteArray> pictures{ScreenGif(40, 30),
                                     IconHolding(Png(40, 40)),
                                     Encode(photo, "ico"),
                                     Png(60, 20, QImage::Format_RGBA64),
                                     Png(60, 20, QImage::Format_Indexed8),
                                     Encode(photo, "jpeg"),
                                     Encode(photo, "jpeg", true),
                                     Encode(photo, "bmp"),
                                     Encode(photo, "ppm")};
    for (const QByteArray& picture : pictures)
        QVERIFY(!UserInfoForm::DecodePicture(picture.constData(), picture.size()).isNull());
    QRandomGenerator random(41);
    for (int round = 0; round < 1500; ++round) {
        QByteArray bad = pictures[round % pictures.size()];
        for (int k = int(random.bounded(1, 5)); k > 0; --k) {
            const int at = int(random.bounded(qMin(bad.size(), 200)));
            bad[at] = char(random.bounded(2) ? 0xFF : random.bounded(256));
        }
        g_largestNew = 0;
        const QImage image = UserInfoForm::DecodePicture(bad.constData(), bad.size());
        const size_t largest = g_largestNew;
        QVERIFY2(largest <= 50u * 1024 * 1024, qPrintable(QString("%1 bytes in round %2").arg(largest).arg(round)));
        QVERIFY(image.isNull() || (image.width() <= 800 && image.height() <= 400));
    }
}

// Cut and garbled pictures: nothing breaks, and whatever decodes fits the page.
void TestUserInfo::damagedPictures()
{
    QBuffer jpegBuffer;
    jpegBuffer.open(QIODevice::WriteOnly);
    QImage(1600, 400, QImage::Format_RGB32).save(&jpegBuffer, "JPEG");
    QRandomGenerator random(3);
    for (const QByteArray& good : {Png(1600, 400), jpegBuffer.data()}) {
        for (int k = 0; k < 150; ++k) {
            QByteArray bad = good.left(int(random.bounded(good.size())));
            for (int flips = 0; k % 2 && !bad.isEmpty() && flips < 8; ++flips)
                bad[int(random.bounded(bad.size()))] = char(random.bounded(256));
            const QImage image = UserInfoForm::DecodePicture(bad.constData(), bad.size());
            QVERIFY(image.isNull() || (image.width() <= 800 && image.height() <= 400));
        }
    }
    const QByteArray noise = RandomBytes(4096, 9);
    QVERIFY(UserInfoForm::DecodePicture(noise.constData(), noise.size()).isNull());
}

void TestUserInfo::askTwiceAndClose()
{
    FakePeer& peer = Peer("eve");
    peer.TakeFrames();
    const int tabs = Tabs()->count();
    UserInfoForm* form = AskForInfo("eve");
    QVERIFY(form);
    QCOMPARE(AskForInfo("eve"), form);
    QCOMPARE(Tabs()->count(), tabs + 1);
    QVERIFY(peer.WaitForFrames(1));
    QTest::qWait(100);
    QCOMPARE(Take(peer, 15).size(), 1);
    ItemPtr eve = d.GetType("user")->GetItem(Value("eve"));
    QVERIFY(eve.HasItem("user_info_form"));

    CloseTab(form);
    QCOMPARE(Tabs()->count(), tabs);
    QVERIFY(!eve.HasItem("user_info_form"));
    // Asked again, the user gets a fresh request.
    UserInfoForm* again = AskForInfo("eve");
    QVERIFY(again);
    QVERIFY(peer.WaitForFrames(1));
    QCOMPARE(Take(peer, 15).size(), 1);
    CloseTab(again);
}

// A reply from another user leaves the page alone; a reply raises the page's event button
// only while the page is not on screen, and showing the page takes it away.
void TestUserInfo::replyForOthersAndEvents()
{
    FakePeer& fay = Peer("fay");
    FakePeer& gus = Peer("gus");
    UserInfoForm* fayPage = AskForInfo("fay");
    UserInfoForm* gusPage = AskForInfo("gus");
    QVERIFY(fayPage && gusPage && gusPage->isVisible() && !fayPage->isVisible());

    gus.SendMessage(16, Reply("from gus", nullptr, 2, 0, true));
    QTRY_COMPARE(Text(gusPage)->toPlainText(), QString("from gus"));
    QCOMPARE(Text(fayPage)->toPlainText(), QString("Requesting..."));
    QVERIFY(!eventToolBar->EventAction(gusPage));

    fay.SendMessage(16, Reply("from fay", nullptr, 1, 0, true));
    QTRY_COMPARE(Text(fayPage)->toPlainText(), QString("from fay"));
    QCOMPARE(Text(gusPage)->toPlainText(), QString("from gus"));
    QVERIFY(eventToolBar->EventAction(fayPage));
    Tabs()->setCurrentWidget(fayPage);
    QVERIFY(!eventToolBar->EventAction(fayPage));

    // A failure after the answer changes nothing.
    emit peerMessenger->ConnectionToUserFailed("fay", "P");
    QCOMPARE(Text(fayPage)->toPlainText(), QString("from fay"));
    CloseTab(fayPage);
    CloseTab(gusPage);
}

// The description is the other user's text: markup shows as typed, web addresses become links
// that open in the browser, nothing else is a link.
void TestUserInfo::descriptionIsText()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler("http", &catcher, "Open");
    QDesktopServices::setUrlHandler("file", &catcher, "Open");

    FakePeer& peer = Peer("hal");
    UserInfoForm* form = AskForInfo("hal");
    QVERIFY(form);
    const QString description =
        "<b>bold</b> <a href=\"file:///etc/passwd\">here</a>\n<img src=\"file:///x.png\">see http://example.com/a?b=1&c=2";
    peer.SendMessage(16, Reply(description, nullptr, 1, 0, true));
    QTRY_COMPARE(Text(form)->toPlainText(), description);
    QCOMPARE(Links(Text(form)->document()), QStringList{"http://example.com/a?b=1&c=2"});
    QVERIFY(Images(Text(form)->document()).isEmpty());

    // The link taken with the keyboard opens outside the page, which stays as it was.
    Text(form)->setFocus();
    QTest::keyClick(Text(form), Qt::Key_Tab);
    QTest::keyClick(Text(form), Qt::Key_Return);
    QTRY_COMPARE(catcher.urls, QList<QUrl>{QUrl("http://example.com/a?b=1&c=2")});
    QCOMPARE(Text(form)->toPlainText(), description);
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("file");
    CloseTab(form);
}

// No connection can be formed: the page says so, once, and only for a messaging connection.
void TestUserInfo::connectionFailure()
{
    PeerFixture::StoreAddress("ivy", PeerFixture::ClosedPort());
    QVERIFY(m_fixture.Sync());
    UserInfoForm* form = AskForInfo("ivy");
    QVERIFY(form);
    emit peerMessenger->ConnectionToUserFailed("ivy", "F");
    emit peerMessenger->ConnectionToUserFailed("other", "P");
    QCOMPARE(Text(form)->toPlainText(), QString("Requesting..."));

    // The server reports that its way failed too; the direct attempt has failed already.
    QList<FakeServer::Frame> requests = m_fixture.FramesOf(18);
    QCOMPARE(requests.size(), 1);
    const quint32 token = qFromLittleEndian<quint32>(requests[0].fields.constData());
    QVERIFY(Deliver(m_fixture.server, 1001, P::U32(token)));
    QTRY_COMPARE(Text(form)->toPlainText(), QString("A connection could not be successfully formed to the user."));
    CloseTab(form);
}

// A case that failed half-way leaves no page behind for the next.
void TestUserInfo::cleanup()
{
    while (Tabs()->count() > 0)
        emit Tabs()->tabCloseRequested(0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void TestUserInfo::cleanupTestCase()
{
    PeerFixture::Clear();
    m_peers.Clear();
    delete mainWindow;
}

int main(int argc, char** argv)
{
    // The page's pictures are decoded by the running program unless told otherwise: here, this test.
    if (PictureDecoder::IsChildRun(argc, argv))
        return PictureDecoder::RunChild(argc, argv);
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestUserInfo test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_userinfo.moc"
#include "moc_urlcatcher.cpp"
