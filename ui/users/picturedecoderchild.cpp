// The decoding child's side: it holds its own limits before it reads a byte, so that it ends by
// itself whatever the picture does and whatever becomes of the client.
#include "ui/users/picturedecoder.h"

#include "ui/users/userinfoform.h"

#include <QCoreApplication>
#include <QSemaphore>
#include <QThreadPool>
#include <QtEndian>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

const char* const PictureDecoder::kChildOption = "--decode-picture";

namespace {

// What the child may take. Its own data is under a MiB before it reads; a picture as costly as
// its headers allow (48 MiB) peaks near 100 MiB with its bytes, the decoder's rows and the
// scaled copy, and fits; a decoder that goes its own way does not.
const rlim_t kChildDataBytes = 128 << 20;
const rlim_t kChildCpuSeconds = 3;
const uint kChildThreadStackBytes = 512 * 1024;
// The child's own clock runs a little past the client's, so that the client's reason is the one
// told while it lives.
const long kWallMarginMs = 500;
const long kDefaultWallMs = 5000;
const long kLongestWallMs = 60000;

bool Limit(int i_resource, rlim_t i_soft, rlim_t i_hard)
{
    const rlimit limit{i_soft, i_hard};
    return setrlimit(i_resource, &limit) == 0;
}

// Under AddressSanitizer its shadow memory takes terabytes of address space, so the memory limit
// is the sanitizer's own, set by the parent through its options.
bool LimitChild()
{
    bool limited = Limit(RLIMIT_CORE, 0, 0) && Limit(RLIMIT_FSIZE, 0, 0) &&
                   Limit(RLIMIT_CPU, kChildCpuSeconds, kChildCpuSeconds + 1);
#if !defined(__SANITIZE_ADDRESS__)
    limited = limited && Limit(RLIMIT_DATA, kChildDataBytes, kChildDataBytes);
#endif
    return limited;
}

// A decoder that waits on something that never comes uses no processor time, which the CPU limit
// would count: a wall clock ends it.
bool LimitWallClock(long i_ms)
{
    std::signal(SIGALRM, SIG_DFL);
    itimerval timer{};
    timer.it_value.tv_sec = i_ms / 1000;
    timer.it_value.tv_usec = (i_ms % 1000) * 1000;
    return setitimer(ITIMER_REAL, &timer, nullptr) == 0;
}

long Number(const char* i_text, long i_lowest, long i_highest, long i_otherwise)
{
    char* end = nullptr;
    errno = 0;
    const long value = i_text ? std::strtol(i_text, &end, 10) : 0;
    if (!i_text || errno || end == i_text || *end || value < i_lowest || value > i_highest)
        return i_otherwise;
    return value;
}

// Standard input up to the bound; more than that is no picture of a reply.
bool ReadInput(QByteArray& o_bytes)
{
    o_bytes.reserve(64 * 1024);
    char piece[64 * 1024];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, piece, sizeof piece);
        if (got == 0)
            return true;
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (o_bytes.size() + got > PictureDecoder::kMaxPictureBytes)
            return false;
        o_bytes.append(piece, int(got));
    }
}

bool WriteOutput(const QByteArray& i_bytes)
{
    const char* at = i_bytes.constData();
    qint64 left = i_bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(STDOUT_FILENO, at, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        at += written;
        left -= written;
    }
    return true;
}

QByteArray Header(quint32 i_width, quint32 i_height)
{
    QByteArray header(8, 0);
    qToLittleEndian(i_width, header.data());
    qToLittleEndian(i_height, header.data() + 4);
    return header;
}

// Smooth scaling hands bands of rows to the global thread pool and waits for all of them: a pool
// thread that can no longer be started near the memory limit would keep it waiting for good. One
// thread is started now, while memory is plenty, kept for good, and is the only one the pool
// ever has, so every band goes to it.
bool StartPoolThread()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setStackSize(kChildThreadStackBytes);
    pool->setExpiryTimeout(-1);
    pool->setMaxThreadCount(1);
    QSemaphore started;
    pool->start([&started] { started.release(); });
    return started.tryAcquire(1, 1000);
}

}  // namespace

bool PictureDecoder::IsChildRun(int argc, char** argv)
{
    return argc >= 2 && argc <= 4 && std::strcmp(argv[1], kChildOption) == 0;
}

int PictureDecoder::RunChild(int argc, char** argv)
{
    // It dies with the client. A client that died before this was set has left it to another
    // parent: it is not there to read the answer.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (argc >= 3 && getppid() != pid_t(Number(argv[2], 1, INT_MAX, -1)))
        return 3;
    // A crash of a decoder leaves nothing behind: no core file, nor a crash handler's report,
    // which the system runs only for dumpable processes.
    prctl(PR_SET_DUMPABLE, 0);
    if (!LimitChild() || !LimitWallClock(Number(argc >= 4 ? argv[3] : nullptr, 1, kLongestWallMs, kDefaultWallMs) +
                                         kWallMarginMs))
        return 2;
    // No main loop runs here: the plain dispatcher is enough, and lighter to start.
    qputenv("QT_NO_GLIB", "1");
    // The image plugins are found through the application's library paths.
    int appArgc = 1;
    char name[] = "tavrinel";
    char* appArgv[] = {name, nullptr};
    QCoreApplication app(appArgc, appArgv);
    if (!StartPoolThread())
        return 2;

    QByteArray bytes;
    QString refusal;
    QImage image;
    if (!ReadInput(bytes))
        refusal = "it is larger than a reply holds";
    else
        image = UserInfoForm::DecodePicture(bytes.constData(), bytes.size(), &refusal);
    bytes = QByteArray();
    if (image.isNull())
        return WriteOutput(Header(0, 0) + refusal.toUtf8().left(kMaxReasonBytes)) ? 0 : 1;

    image = image.convertToFormat(QImage::Format_ARGB32);
    const int width = image.width();
    QByteArray answer = Header(quint32(width), quint32(image.height()));
    answer.resize(int(8 + qint64(width) * image.height() * 4));
    for (int y = 0; y < image.height(); ++y)
        qToLittleEndian<quint32>(image.constScanLine(y), width, answer.data() + 8 + qint64(y) * width * 4);
    return WriteOutput(answer) ? 0 : 1;
}
