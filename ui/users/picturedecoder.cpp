#include "ui/users/picturedecoder.h"

#include "ui/users/userinfoform.h"

#include <QCoreApplication>
#include <QProcess>
#include <QThreadPool>
#include <QtEndian>

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

const char* const PictureDecoder::kChildOption = "--decode-picture";

namespace {

// The child's answer is checked against the box the page fits a picture into.
const int kMaxShownWidth = UserInfoForm::kMaxShownWidth;
const int kMaxShownHeight = UserInfoForm::kMaxShownHeight;
// A reply comes in one peer frame, which holds at most 10 MiB.
const qint64 kMaxPictureBytes = 10 * 1024 * 1024;
const qint64 kMaxReasonBytes = 200;
const qint64 kMaxAnswerBytes = 8 + qint64(kMaxShownWidth) * kMaxShownHeight * 4;

// What the child may take. Its own data is under a MiB before it reads; a picture as costly as
// its headers allow (48 MiB) peaks near 100 MiB with its bytes, the decoder's rows and the
// scaled copy, and fits; a decoder that goes its own way does not.
const rlim_t kChildDataBytes = 128 << 20;
const rlim_t kChildCpuSeconds = 3;
const uint kChildThreadStackBytes = 512 * 1024;

QString s_program;
int s_timeLimitMs = 5000;

bool Limit(int i_resource, rlim_t i_soft, rlim_t i_hard)
{
    const rlimit limit{i_soft, i_hard};
    return setrlimit(i_resource, &limit) == 0;
}

// The limits the child holds before it reads a byte of the picture. Under AddressSanitizer its
// shadow memory takes terabytes of address space, so the memory limit is the sanitizer's own,
// set by the parent through its options.
bool LimitChild()
{
    bool limited = Limit(RLIMIT_CORE, 0, 0) && Limit(RLIMIT_FSIZE, 0, 0) &&
                   Limit(RLIMIT_CPU, kChildCpuSeconds, kChildCpuSeconds + 1);
#if !defined(__SANITIZE_ADDRESS__)
    limited = limited && Limit(RLIMIT_DATA, kChildDataBytes, kChildDataBytes);
#endif
    return limited;
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
        if (o_bytes.size() + got > kMaxPictureBytes)
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

}  // namespace

int PictureDecoder::RunChild()
{
    if (!LimitChild())
        return 2;
    // The image plugins are found through the application's library paths.
    int argc = 1;
    char name[] = "tavrinel";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    // Smooth scaling hands bands of rows to the thread pool and waits for all of them: a thread
    // that cannot be started within the limits would keep it waiting for good. Small stacks leave
    // room for them beside a picture that fits.
    QThreadPool::globalInstance()->setStackSize(kChildThreadStackBytes);

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
    m_process = new QProcess(this);
    m_process->setProgram(s_program.isEmpty() ? QCoreApplication::applicationFilePath() : s_program);
    m_process->setArguments({kChildOption});
    // What a decoder says about a hostile picture is of no use to anyone.
    m_process->setStandardErrorFile(QProcess::nullDevice());
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer's allocator holds the child's memory instead of a data limit: all it maps, a
    // small quarantine counted in, stays within 160 MiB. These come after whatever options the
    // child would inherit, and so prevail.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString inherited = environment.value("ASAN_OPTIONS");
    environment.insert("ASAN_OPTIONS", (inherited.isEmpty() ? QString() : inherited + ":") +
                                           "allocator_may_return_null=1:max_allocation_size_mb=128:"
                                           "mmap_limit_mb=160:quarantine_size_mb=16:detect_leaks=0");
    m_process->setProcessEnvironment(environment);
#endif
    connect(m_process, &QProcess::readyReadStandardOutput, this, &PictureDecoder::OnOutput);
    connect(m_process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [this](int i_exitCode, QProcess::ExitStatus i_status) { OnFinished(i_exitCode, i_status); });
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError i_error) {
        if (i_error == QProcess::FailedToStart)
            Fail("its decoder could not be started");
    });
    m_timer.start(s_timeLimitMs);
    m_process->start();
    // A child that could not be started has been given up already.
    if (m_process) {
        m_process->write(ip_bytes, qMax(i_length, 0));
        m_process->closeWriteChannel();
    }
}

void PictureDecoder::Stop()
{
    m_timer.stop();
    m_answer.clear();
    if (!m_process)
        return;
    QProcess* process = m_process;
    m_process = nullptr;
    process->disconnect(this);
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        // Only the reap of a child already killed.
        process->waitForFinished();
    }
    // It may be the sender of the signal being handled.
    process->deleteLater();
}

void PictureDecoder::OnOutput()
{
    if (m_answer.size() + m_process->bytesAvailable() > kMaxAnswerBytes)
        return Fail("its decoder's answer is too long");
    m_answer += m_process->readAllStandardOutput();
}

void PictureDecoder::OnFinished(int i_exitCode, int i_exitStatus)
{
    OnOutput();
    if (!m_process)
        return;
    if (i_exitStatus != QProcess::NormalExit || i_exitCode != 0)
        return Fail("its decoder stopped before it was done");
    if (m_answer.size() < 8)
        return Fail("its decoder's answer is malformed");
    const quint32 width = qFromLittleEndian<quint32>(m_answer.constData());
    const quint32 height = qFromLittleEndian<quint32>(m_answer.constData() + 4);
    if (width == 0 && height == 0 && m_answer.size() <= 8 + kMaxReasonBytes)
        return Answer(QImage(), QString::fromUtf8(m_answer.mid(8)));
    if (width < 1 || width > kMaxShownWidth || height < 1 || height > kMaxShownHeight ||
        m_answer.size() != 8 + qint64(width) * height * 4)
        return Fail("its decoder's answer is malformed");
    QImage image(int(width), int(height), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y)
        qFromLittleEndian<quint32>(m_answer.constData() + 8 + qint64(y) * width * 4, width, image.scanLine(y));
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
