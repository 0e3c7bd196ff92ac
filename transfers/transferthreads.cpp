#include "transfers/transferthreads.h"

#include "model/settings.h"
#include "transfers/transferqueuemanager.h"

#include <QDateTime>
#include <QFile>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QtEndian>

#include <climits>
#include <functional>

namespace {

enum class WaitResult { Ready, Failed, Stopped };

// Runs one blocking socket wait in slices until it succeeds, the socket drops, the budget is
// spent or a stop is requested, so a stop never has to sit out a silent peer.
template <typename Step, typename Stop>
WaitResult SlicedWait(QTcpSocket* ip_socket, Step i_step, Stop i_stop)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (i_stop())
            return WaitResult::Stopped;
        const qint64 left = kTransferWaitMs - clock.elapsed();
        if (left <= 0)
            return WaitResult::Failed;
        if (i_step(static_cast<int>(qMin<qint64>(left, kTransferWaitSliceMs))))
            return WaitResult::Ready;
        if (ip_socket->state() != QAbstractSocket::ConnectedState)
            return WaitResult::Failed;
    }
}

WaitResult WaitReadable(QTcpSocket* ip_socket, const std::function<bool()>& i_stop)
{
    return SlicedWait(
        ip_socket,
        [ip_socket](int i_ms) { return ip_socket->waitForReadyRead(i_ms) || ip_socket->bytesAvailable() > 0; },
        i_stop);
}

enum class ReadResult { Done, ReadFailed, WaitFailed, Stopped };

// Reads exactly n bytes, waiting (stoppably) whenever the socket has none buffered.
ReadResult ReadExactly(QTcpSocket* ip_socket, char* op_buffer, qint64 i_n, const std::function<bool()>& i_stop)
{
    for (qint64 got = 0; got < i_n;) {
        const qint64 read = ip_socket->read(op_buffer + got, i_n - got);
        if (read < 0)
            return ReadResult::ReadFailed;
        got += read;
        if (got < i_n && ip_socket->bytesAvailable() == 0) {
            const WaitResult wait = WaitReadable(ip_socket, i_stop);
            if (wait != WaitResult::Ready)
                return wait == WaitResult::Stopped ? ReadResult::Stopped : ReadResult::WaitFailed;
        }
    }
    return ReadResult::Done;
}

int Speed(qint64 i_bytes, qint64 i_ms)
{
    return i_ms > 0 ? static_cast<int>(qMin<qint64>(i_bytes * 1000 / i_ms, INT_MAX)) : 0;
}

} // namespace

// ---------------------------------------------------------------- ProgressPacer

ProgressPacer::ProgressPacer(qint64 i_start) : m_reported(i_start)
{
    m_clock.start();
}

bool ProgressPacer::Due(qint64 i_position, bool i_last)
{
    if (!i_last && (i_position == m_reported ||
                    (i_position - m_reported < kProgressReportBytes && m_clock.elapsed() < kProgressReportMs)))
        return false;
    m_reported = i_position;
    m_clock.restart();
    return true;
}

// ---------------------------------------------------------------- TransferThread

TransferThread::TransferThread() : mp_homeThread(QThread::currentThread()) {}

void TransferThread::SignalExit()
{
    QMutexLocker lock(&m_exitMutex);
    m_exitRequested = true;
}

bool TransferThread::ExitRequested()
{
    QMutexLocker lock(&m_exitMutex);
    return m_exitRequested;
}

// ---------------------------------------------------------------- UploadThread

UploadThread::UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferTicket, qint64 i_announcedSize)
    : mp_socket(ip_socket), mp_file(ip_file), m_transferTicket(i_transferTicket), m_announcedSize(i_announcedSize)
{
}

qint64 UploadThread::Credit(int i_limitKiB, qint64 i_elapsedMs, qint64 i_deficit)
{
    return static_cast<qint64>(i_limitKiB) * 1024 * i_elapsedMs / 1000 - i_deficit;
}

void UploadThread::run()
{
    const bool complete = Upload();
    mp_socket->moveToThread(mp_homeThread);
    if (complete)
        emit UploadComplete();
    else
        emit UploadError();
}

bool UploadThread::Upload()
{
    const std::function<bool()> stop = [this] { return ExitRequested(); };

    const quint32 ticket = qToLittleEndian(static_cast<quint32>(m_transferTicket));
    mp_socket->write(reinterpret_cast<const char*>(&ticket), sizeof ticket);
    mp_socket->flush();

    char offsetBytes[8];
    if (ReadExactly(mp_socket, offsetBytes, 8, stop) != ReadResult::Done)
        return false;
    const qint64 offset = qFromLittleEndian<qint64>(offsetBytes);
    const qint64 size = mp_file->size();
    if (m_announcedSize >= 0 && size != m_announcedSize)
        return false;
    if (offset < 0 || offset > size || !mp_file->seek(offset))
        return false;

    QElapsedTimer speedClock;
    speedClock.start();
    QElapsedTimer interval;
    interval.start();
    qint64 position = offset;
    ProgressPacer pacer(position);
    qint64 measured = 0;
    // A wait on the peer reports what went out before it, so that a stalled upload shows all of it.
    const std::function<bool()> stopOrReport = [&] {
        if (pacer.Due(position, false))
            emit UploadProgress(position, Speed(measured, speedClock.elapsed()));
        return ExitRequested();
    };
    qint64 unpaid = 0;
    int previousLimit = transferQueueManager ? transferQueueManager->GetUploadSpeed() : 0;
    char buffer[kTransferPieceSize];
    for (;;) {
        if (ExitRequested())
            return false;
        const int limit = transferQueueManager ? transferQueueManager->PerUploadSpeedLimit() : 0;
        if (limit != previousLimit) {
            // Bytes sent unlimited are never charged once a limit comes in.
            if (previousLimit == 0)
                unpaid = 0;
            speedClock.restart();
            measured = 0;
        }
        if (limit != 0 && !SettleCredit(limit, unpaid, interval))
            return false;

        const qint64 n = qMin(kTransferPieceSize, size - position);
        if (mp_file->read(buffer, n) != n)
            return false;
        for (qint64 written = 0; written < n;) {
            const qint64 accepted = mp_socket->write(buffer + written, n - written);
            if (accepted < 0)
                return false;
            written += accepted;
            // Most pieces fit in the kernel's buffer at once; only the rest needs a wait.
            mp_socket->flush();
            while (mp_socket->bytesToWrite() > 0)
                if (SlicedWait(
                        mp_socket, [this](int i_ms) { return mp_socket->waitForBytesWritten(i_ms); },
                        stopOrReport) !=
                    WaitResult::Ready)
                    return false;
        }
        position += n;
        measured += n;
        unpaid += n;
        if (pacer.Due(position, position == size))
            emit UploadProgress(position, Speed(measured, speedClock.elapsed()));
        previousLimit = limit;

        if (position == size) {
            // The peer closes once it has everything; whether it does in time changes nothing.
            SlicedWait(
                mp_socket,
                [this](int i_ms) {
                    return mp_socket->state() == QAbstractSocket::UnconnectedState ||
                           mp_socket->waitForDisconnected(i_ms);
                },
                stop);
            return true;
        }
    }
}

// The pool is shared by every upload: what one leaves unspent, another may use before it sleeps.
bool UploadThread::SettleCredit(int i_limit, qint64& io_unpaid, QElapsedTimer& io_interval)
{
    const qint64 deficit = transferQueueManager->DrawUploadCredit(io_unpaid);
    const qint64 target = io_interval.elapsed() + deficit / i_limit;
    for (qint64 now = io_interval.elapsed(); now < target; now = io_interval.elapsed()) {
        if (ExitRequested())
            return false;
        QThread::msleep(static_cast<unsigned long>(qMin<qint64>(target - now, kTransferWaitSliceMs)));
    }
    const qint64 elapsed = io_interval.restart();
    io_unpaid = 0;
    const qint64 credit = Credit(i_limit, elapsed, deficit);
    if (credit > 0)
        transferQueueManager->AddUploadCredit(credit);
    return true;
}

// ---------------------------------------------------------------- DownloadThread

DownloadThread::DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize, qint64 i_writePosition)
    : mp_socket(ip_socket), mp_file(ip_file), m_fileSize(i_fileSize), m_writePosition(i_writePosition)
{
}

void DownloadThread::run()
{
    const bool complete = Download();
    mp_socket->moveToThread(mp_homeThread);
    mp_file->close();
    if (complete)
        emit DownloadComplete();
    else
        emit DownloadError(m_errorString);
}

bool DownloadThread::Download()
{
    QElapsedTimer clock;
    clock.start();
    qint64 received = 0;
    ProgressPacer pacer(m_writePosition);
    // A wait for data reports what was written before it, so that a stalled download shows all of it.
    const std::function<bool()> stop = [&] {
        if (pacer.Due(m_writePosition, false))
            emit DownloadProgress(m_writePosition, Speed(received, clock.elapsed()));
        return ExitRequested();
    };
    char buffer[kTransferPieceSize];
    do {
        if (ExitRequested()) {
            m_errorString = "Exit requested.";
            return false;
        }
        const qint64 n = qMin(kTransferPieceSize, m_fileSize - m_writePosition);
        if (n < 0) {
            m_errorString = QString("The partial file holds %1 bytes, more than the file's %2.")
                                .arg(m_writePosition)
                                .arg(m_fileSize);
            return false;
        }
        switch (ReadExactly(mp_socket, buffer, n, stop)) {
        case ReadResult::Done:
            break;
        case ReadResult::ReadFailed:
            m_errorString = "Socket read failed. Error string: " + mp_socket->errorString();
            return false;
        case ReadResult::Stopped:
            m_errorString = "Exit requested.";
            return false;
        case ReadResult::WaitFailed:
            m_errorString = "Waiting for data to read failed. Error string: " + mp_socket->errorString();
            return false;
        }
        m_writePosition += n;
        received += n;
        if (mp_file->write(buffer, n) < n) {
            m_errorString = "Writing to file failed. Error string: " + mp_file->errorString();
            return false;
        }
        if (pacer.Due(m_writePosition, m_writePosition == m_fileSize))
            emit DownloadProgress(m_writePosition, Speed(received, clock.elapsed()));
    } while (m_writePosition != m_fileSize);

    // Buffered bytes that cannot reach the disk must not pass for a complete file.
    if (!mp_file->flush()) {
        m_errorString = "Writing to file failed. Error string: " + mp_file->errorString();
        return false;
    }
    mp_socket->close();
    return true;
}

// ---------------------------------------------------------------- the manager's speed limit and progress

int TransferQueueManager::GetUploadSpeed()
{
    QMutexLocker lock(&m_uploadSpeedMutex);
    return m_uploadSpeedLimit;
}

int TransferQueueManager::PerUploadSpeedLimit()
{
    QMutexLocker lock(&m_uploadSpeedMutex);
    return m_perUploadSpeedLimit;
}

qint64 TransferQueueManager::DrawUploadCredit(qint64 i_unpaid)
{
    QMutexLocker lock(&m_uploadSpeedMutex);
    if (i_unpaid >= m_uploadCreditPool) {
        const qint64 deficit = i_unpaid - m_uploadCreditPool;
        m_uploadCreditPool = 0;
        return deficit;
    }
    m_uploadCreditPool -= i_unpaid;
    return 0;
}

void TransferQueueManager::AddUploadCredit(qint64 i_credit)
{
    QMutexLocker lock(&m_uploadSpeedMutex);
    m_uploadCreditPool += i_credit;
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    const int limit = GetSettingInt("upload_speed_limit");
    if (limit < 1 || !IsSettingOn("upload_speed_limit_enabled")) {
        QMutexLocker lock(&m_uploadSpeedMutex);
        m_uploadSpeedLimit = 0;
        m_perUploadSpeedLimit = 0;
        return;
    }
    const ItemSet active = g("is_active").GetItems("upload_entry_status").GetItems("upload_entry");
    {
        QMutexLocker lock(&m_uploadSpeedMutex);
        m_uploadSpeedLimit = limit;
        m_perUploadSpeedLimit = qMax(1, active.empty() ? limit : limit / static_cast<int>(active.size()));
        m_uploadCreditPool = 0;
    }
    for (ItemPtr entry : active) {
        if (auto* measured = Cell<QDateTime>(entry, "last_speed_measurement_time"))
            *measured = QDateTime::currentDateTime();
        if (auto* bytes = Cell<qint64>(entry, "bytes_since_last_receipt"))
            *bytes = 0;
    }
}

void TransferQueueManager::EnableUploadSpeedLimit(bool i_enabled)
{
    SetSetting("upload_speed_limit_enabled", i_enabled ? "yes" : "no");
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSpeedLimit(int i_limit)
{
    SetSetting("upload_speed_limit", Value(i_limit));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSlots(int i_slots)
{
    if (i_slots < 1 || i_slots > 99)
        return;
    const int old = GetSettingInt("upload_slots");
    SetSetting("upload_slots", Value(i_slots));
    if (i_slots > old)
        StartNewUploads();
}

ItemPtr TransferQueueManager::EntryOfSendingThread(const char* threadType, const char* entryType)
{
    // The thread may be gone by the time its queued report arrives: only its address is used.
    const QObject* thread = sender();
    if (!thread)
        return ItemPtr();
    ItemPtr threadItem = d.GetType(threadType)->HasItem(Value(thread));
    return threadItem ? threadItem[entryType] : ItemPtr();
}

ItemPtr TransferQueueManager::StoreProgress(const char* threadType, const char* entryType, const char* positionType,
                                            qint64 i_offset, int i_bytesPerSecond)
{
    ItemPtr entry = EntryOfSendingThread(threadType, entryType);
    if (!entry)
        return entry;
    if (auto* position = Cell<qint64>(entry, positionType))
        *position = i_offset;
    if (auto* speed = Cell<int>(entry, "bytes_per_second"))
        *speed = i_bytesPerSecond;
    if (auto* receipt = Cell<QDateTime>(entry, "last_receipt_time"))
        *receipt = Now();
    return entry;
}

void TransferQueueManager::OnUploadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    if (ItemPtr entry = StoreProgress("upload_thread", "upload_entry", "read_position", i_offset, i_bytesPerSecond))
        emit UploadProgressed(entry);
}

void TransferQueueManager::OnDownloadProgress(qint64 i_offset, int i_bytesPerSecond)
{
    if (ItemPtr entry = StoreProgress("download_thread", "download_entry", "write_position", i_offset, i_bytesPerSecond))
        emit DownloadProgressed(entry);
}
