#include "ui/users/picturedecoder.h"

#include "ui/users/userinfoform.h"

#include <QCoreApplication>
#include <QFile>
#include <QList>
#include <QSocketNotifier>
#include <QtEndian>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

extern char** environ;

namespace {

// The child's answer is checked against the box the page fits a picture into.
const int kMaxShownWidth = UserInfoForm::kMaxShownWidth;
const int kMaxShownHeight = UserInfoForm::kMaxShownHeight;
const qint64 kMaxAnswerBytes = 8 + qint64(kMaxShownWidth) * kMaxShownHeight * 4;
// Where the kernel cannot tell this process that a child ended, it is asked this often.
const int kReapPollMs = 20;

QString s_program;
int s_timeLimitMs = 5000;
// Children started and not yet reaped, stopped ones included: they are processes until then.
int s_children = 0;
int s_started = 0;
// Pages whose picture waits for a child's place, the longest waiting first.
QList<PictureDecoder*> s_waiting;
bool s_launchPosted = false;

void CloseFd(int& io_fd)
{
    if (io_fd >= 0)
        ::close(io_fd);
    io_fd = -1;
}

// The picture's bytes as a file in memory, read from its start: the child reads them at its own
// pace and this process writes them in one go, without a pipe to keep filled.
int PictureFile(const QByteArray& i_bytes)
{
    int fd = memfd_create("picture", MFD_CLOEXEC);
    QFile file;
    if (fd < 0 || !file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle) ||
        file.write(i_bytes) != i_bytes.size() || ::lseek(fd, 0, SEEK_SET) != 0)
        CloseFd(fd);
    return fd;
}

// The environment the child inherits. Under AddressSanitizer its allocator holds the child's
// memory instead of a data limit: all it maps, a small quarantine counted in, stays within
// 160 MiB. These come after whatever options the child would inherit, and so prevail.
std::vector<QByteArray> ChildEnvironment()
{
    std::vector<QByteArray> entries;
    for (char** entry = environ; entry && *entry; ++entry)
        entries.emplace_back(*entry);
#if defined(__SANITIZE_ADDRESS__)
    QByteArray options = "ASAN_OPTIONS=";
    for (auto it = entries.begin(); it != entries.end(); ++it)
        if (it->startsWith("ASAN_OPTIONS=")) {
            options = *it + ":";
            entries.erase(it);
            break;
        }
    entries.push_back(options + "allocator_may_return_null=1:max_allocation_size_mb=128:"
                                "mmap_limit_mb=160:quarantine_size_mb=16:detect_leaks=0");
#endif
    return entries;
}

// Starts the child without copying this process: posix_spawn shares the address space until the
// child's exec, so that a start costs the same in a client of any size. Its standard input is
// the picture, its standard output a pipe whose reading end (non-blocking) is returned, its
// standard error nowhere: what a decoder says about a hostile picture is of no use to anyone.
pid_t SpawnChild(const QByteArray& i_picture, int& o_output)
{
    o_output = -1;
    int input = PictureFile(i_picture);
    if (input < 0)
        return -1;
    int output[2];
    if (pipe2(output, O_CLOEXEC) != 0) {
        CloseFd(input);
        return -1;
    }
    // The running program's own file, even when the file it was started from has been replaced.
    const QByteArray program = s_program.isEmpty() ? QByteArray("/proc/self/exe") : QFile::encodeName(s_program);
    const QByteArray name = s_program.isEmpty() ? QFile::encodeName(QCoreApplication::applicationFilePath()) : program;
    const QByteArray parent = QByteArray::number(qint64(::getpid()));
    const QByteArray limit = QByteArray::number(s_timeLimitMs);
    char* argv[] = {const_cast<char*>(name.constData()), const_cast<char*>(PictureDecoder::kChildOption),
                    const_cast<char*>(parent.constData()), const_cast<char*>(limit.constData()), nullptr};
    const std::vector<QByteArray> environment = ChildEnvironment();
    std::vector<char*> envp;
    for (const QByteArray& entry : environment)
        envp.push_back(const_cast<char*>(entry.constData()));
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // Nothing of the client's own (its sockets, its files) reaches the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    // Nothing the client blocks or ignores holds for the child: its own wall clock must be able to end it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.constData(), &actions, &attributes, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    CloseFd(input);
    CloseFd(output[1]);
    if (failed) {
        CloseFd(output[0]);
        return -1;
    }
    ::fcntl(output[0], F_SETFL, ::fcntl(output[0], F_GETFL) | O_NONBLOCK);
    o_output = output[0];
    return pid;
}

}  // namespace

// One decoding child from its start until it is reaped. A page that no longer wants it kills it
// and goes on at once; the record stays until the kernel says the child is gone, and only then
// is the child's place free for the next.
class PictureChild : public QObject
{
public:
    PictureChild(PictureDecoder* ip_owner, pid_t i_pid, int i_output)
        : QObject(QCoreApplication::instance())
        , m_owner(ip_owner)
        , m_pid(i_pid)
        , m_output(i_output)
    {
        ++s_children;
        ++s_started;
        m_reading = new QSocketNotifier(m_output, QSocketNotifier::Read, this);
        connect(m_reading, &QSocketNotifier::activated, this, [this] { Read(); });
        m_pidfd = int(::syscall(SYS_pidfd_open, m_pid, 0));
        if (m_pidfd >= 0) {
            m_ending = new QSocketNotifier(m_pidfd, QSocketNotifier::Read, this);
            connect(m_ending, &QSocketNotifier::activated, this, [this] { Reap(); });
        } else {
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [this] { Reap(); });
            poll->start(kReapPollMs);
        }
    }

    ~PictureChild() override
    {
        // Only when the program ends with the child still there.
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
        CloseFd(m_output);
        CloseFd(m_pidfd);
    }

    // The owner wants no answer: the child is killed, not waited for.
    void Abandon()
    {
        m_owner = nullptr;
        StopReading();
        if (m_pid > 0)
            ::kill(m_pid, SIGKILL);
    }

private:
    void StopReading()
    {
        if (m_reading) {
            m_reading->setEnabled(false);
            m_reading->deleteLater();
            m_reading = nullptr;
        }
        CloseFd(m_output);
    }

    // Whatever the pipe holds now; false at its end.
    bool Drain()
    {
        char piece[64 * 1024];
        while (m_output >= 0) {
            const ssize_t got = ::read(m_output, piece, sizeof piece);
            if (got > 0) {
                if (m_answer.size() + got > kMaxAnswerBytes)
                    return Overflow();
                m_answer.append(piece, int(got));
            } else if (got < 0 && errno == EINTR) {
                continue;
            } else {
                return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
            }
        }
        return false;
    }

    bool Overflow()
    {
        m_answer.clear();
        if (PictureDecoder* owner = m_owner)
            owner->Fail("its decoder's answer is too long");
        return false;
    }

    void Read()
    {
        if (!Drain())
            StopReading();
    }

    void Reap()
    {
        int status = 0;
        pid_t reaped;
        do
            reaped = ::waitpid(m_pid, &status, WNOHANG);
        while (reaped < 0 && errno == EINTR);
        if (reaped == 0)
            return;
        // The pid may be another process's from now on.
        m_pid = -1;
        --s_children;
        if (m_ending)
            m_ending->setEnabled(false);
        // A child that ended has written all it will; what its pipe still holds is read now.
        if (m_owner)
            Drain();
        StopReading();
        PictureDecoder* owner = m_owner;
        m_owner = nullptr;
        deleteLater();
        PictureDecoder::LaunchWaiting();
        if (owner) {
            owner->m_child = nullptr;
            owner->OnChildEnded(reaped > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0, m_answer);
        }
    }

    PictureDecoder* m_owner;
    pid_t m_pid;
    int m_output;
    int m_pidfd = -1;
    QSocketNotifier* m_reading = nullptr;
    QSocketNotifier* m_ending = nullptr;
    QByteArray m_answer;
};

void PictureDecoder::SetProgram(const QString& i_path)
{
    s_program = i_path;
}

void PictureDecoder::SetTimeLimit(int i_ms)
{
    s_timeLimitMs = i_ms;
}

int PictureDecoder::TimeLimit()
{
    return s_timeLimitMs;
}

int PictureDecoder::ChildrenStarted()
{
    return s_started;
}

PictureDecoder::PictureDecoder(QObject* parent)
    : QObject(parent)
{
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        Fail(QString("decoding it took more than %1 ms").arg(s_timeLimitMs));
    });
}

PictureDecoder::~PictureDecoder()
{
    Stop();
}

void PictureDecoder::Start(const char* ip_bytes, int i_length)
{
    Stop();
    m_waiting = ip_bytes && i_length > 0 ? QByteArray(ip_bytes, i_length) : QByteArray();
    m_isWaiting = true;
    s_waiting.append(this);
    // The replies of one read of a peer's socket come in one go: the child is started after them,
    // for the last of them.
    if (!s_launchPosted) {
        s_launchPosted = true;
        QMetaObject::invokeMethod(QCoreApplication::instance(), &PictureDecoder::LaunchWaiting, Qt::QueuedConnection);
    }
}

void PictureDecoder::Stop()
{
    m_timer.stop();
    if (m_isWaiting) {
        s_waiting.removeOne(this);
        m_isWaiting = false;
        m_waiting = QByteArray();
    }
    if (PictureChild* child = m_child) {
        m_child = nullptr;
        child->Abandon();
    }
}

void PictureDecoder::LaunchWaiting()
{
    s_launchPosted = false;
    while (s_children < kMaxChildren && !s_waiting.isEmpty())
        s_waiting.takeFirst()->Launch();
}

void PictureDecoder::Launch()
{
    m_isWaiting = false;
    const QByteArray picture = m_waiting;
    m_waiting = QByteArray();
    int output = -1;
    const pid_t pid = SpawnChild(picture, output);
    if (pid < 0)
        return Fail("its decoder could not be started");
    m_child = new PictureChild(this, pid, output);
    m_timer.start(s_timeLimitMs);
}

void PictureDecoder::OnChildEnded(bool i_exitedWell, const QByteArray& i_answer)
{
    if (!i_exitedWell)
        return Fail("its decoder stopped before it was done");
    if (i_answer.size() < 8)
        return Fail("its decoder's answer is malformed");
    const quint32 width = qFromLittleEndian<quint32>(i_answer.constData());
    const quint32 height = qFromLittleEndian<quint32>(i_answer.constData() + 4);
    if (width == 0 && height == 0 && i_answer.size() <= 8 + kMaxReasonBytes)
        return Answer(QImage(), QString::fromUtf8(i_answer.mid(8)));
    if (width < 1 || width > quint32(kMaxShownWidth) || height < 1 || height > quint32(kMaxShownHeight) ||
        i_answer.size() != 8 + qint64(width) * height * 4)
        return Fail("its decoder's answer is malformed");
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        qFromLittleEndian<quint32>(i_answer.constData() + 8 + qint64(y) * width * 4, width, image.scanLine(y));
    Answer(image, QString());
}

void PictureDecoder::Fail(const QString& i_why)
{
    Answer(QImage(), i_why);
}

void PictureDecoder::Answer(const QImage& i_image, const QString& i_refusal)
{
    Stop();
    emit Decoded(i_image, i_refusal);
}
