// The worker threads of running transfers. Each moves one file over a file connection with
// blocking socket and file calls and reports back through queued signals; none touches the item
// graph. The file connection carries, after the peer messenger's init message: the uploader's
// u32 ticket, the downloader's i64 resume offset, then the file bytes from that offset, raw.
#pragma once

#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <QThread>

class QFile;
class QTcpSocket;

// Socket waits are cut into slices of this length so that a stop request is seen within one
// slice, whatever the whole wait may last.
constexpr int kTransferWaitSliceMs = 250;
constexpr int kTransferWaitMs = 30000;
constexpr qint64 kTransferPieceSize = 8192;
// Progress goes out at a rate a window can show: after this long or this many bytes since the
// last report, whichever comes first, and always at the end.
constexpr qint64 kProgressReportMs = 100;
constexpr qint64 kProgressReportBytes = 1024 * 1024;

// Decides when a transfer thread reports its progress; each report carries the totals so far.
class ProgressPacer
{
public:
    explicit ProgressPacer(qint64 i_start);
    bool Due(qint64 i_position, bool i_last);

private:
    QElapsedTimer m_clock;
    qint64 m_reported;
};

// What both transfer threads share: a stop that any thread may ask for, and the thread their
// socket goes back to when the run ends.
class TransferThread : public QThread
{
    Q_OBJECT

public:
    // Safe from any thread.
    void SignalExit();

protected:
    TransferThread();
    bool ExitRequested();

    QThread* const mp_homeThread;

private:
    QMutex m_exitMutex;
    bool m_exitRequested = false;
};

class UploadThread : public TransferThread
{
    Q_OBJECT

public:
    // The socket and the file (open for reading) stay owned by the caller. The socket must have
    // been moved to this thread before start(); the run hands it back before it reports its end.
    // With an announced size (not negative), a file whose size differs from it fails the run
    // rather than sending other bytes than the peer was told of.
    UploadThread(QTcpSocket* ip_socket, QFile* ip_file, int i_transferTicket, qint64 i_announcedSize = -1);

    // What one settlement adds to the shared pool: the allowance of i_elapsedMs at i_limitKiB KiB/s
    // less what the pool could not cover. 64-bit throughout: limits and intervals are unchecked.
    static qint64 Credit(int i_limitKiB, qint64 i_elapsedMs, qint64 i_deficit);

signals:
    void UploadProgress(qint64 i_offset, int i_bytesPerSecond);
    void UploadComplete();
    void UploadError();

protected:
    void run() override;

private:
    bool Upload();
    // Throttles to the per-upload limit; false when a stop came during the sleep.
    bool SettleCredit(int i_limit, qint64& io_unpaid, QElapsedTimer& io_interval);

    QTcpSocket* mp_socket;
    QFile* mp_file;
    int m_transferTicket;
    qint64 m_announcedSize;
};

class DownloadThread : public TransferThread
{
    Q_OBJECT

public:
    // The socket and the partial file (open for appending) stay owned by the caller. The socket
    // must have been moved to this thread before start(); the run hands it back before it reports.
    DownloadThread(QTcpSocket* ip_socket, QFile* ip_file, qint64 i_fileSize, qint64 i_writePosition);

signals:
    void DownloadProgress(qint64 i_offset, int i_bytesPerSecond);
    void DownloadComplete();
    void DownloadError(QString i_reason);

protected:
    void run() override;

private:
    bool Download();

    QTcpSocket* mp_socket;
    QFile* mp_file;
    qint64 m_fileSize;
    qint64 m_writePosition;
    QString m_errorString;
};
