// Reads MP3 files on the scanner thread and decides their audio properties by majority votes
// over every frame header found, so that stray byte patterns and a few damaged frames do not
// decide the result.
#pragma once

#include <QMutex>
#include <QObject>
#include <QString>

class MP3Scanner : public QObject
{
    Q_OBJECT

public:
    MP3Scanner() = default;

    // True when a result was found; the out-arguments then hold it. mpegVersion is 1 or 2,
    // frequency the sampling-frequency index (0 to 2), bitrate in kbit/s.
    bool ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode, int& o_frequency, bool& o_isVBR,
                 int& o_bitrate);
    // Any thread: the scan in progress stops at its next chunk, later requests do nothing.
    void Quit();

signals:
    void MP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency, bool i_isVBR,
                    int i_bitrate);

public slots:
    void OnMP3ScanRequired(QString i_file);

private:
    bool Quitting();

    bool m_quit = false;
    QMutex m_quitMutex;
};
