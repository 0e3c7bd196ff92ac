#include "shares/mp3scanner.h"

#include <QFile>
#include <QMutexLocker>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

const qint64 kChunkSize = 65536;

// Layer III bitrates in kbit/s by bitrate index 1 to 14.
const int kBitratesMpeg1[14] = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
const int kBitratesMpeg2[14] = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

const char* const kChannelModes[4] = {"stereo", "joint stereo", "dual mono", "mono"};

enum { Mpeg1, Mpeg2, Mpeg25, VersionCount };

// Every header that can count is kept as a count in its cell, not as a record in a list: a large
// file of repeated header patterns would otherwise grow a list of one record per 4 bytes.
struct Tally
{
    uint64_t versionVotes[VersionCount] = {};
    uint64_t protectionVotes[2] = {};
    uint64_t frequencyVotes[3] = {};
    uint64_t modeVotes[4] = {};
    uint64_t cells[VersionCount][2][3][4][14] = {};
    uint64_t cellTotal = 0;

    void Examine(const unsigned char* p)
    {
        const unsigned b1 = p[1], b2 = p[2], b3 = p[3];
        int version;
        switch (b1 & 0x18) {
        case 0x18: version = Mpeg1; break;
        case 0x10: version = Mpeg2; break;
        case 0x00: version = Mpeg25; break;
        default: return;  // reserved
        }
        // Headers of every layer vote on the version.
        ++versionVotes[version];
        if ((b1 & 0x06) != 0x02)
            return;
        const int protection = b1 & 0x01;
        ++protectionVotes[protection];
        const int frequency = (b2 >> 2) & 3;
        if (frequency == 3)
            return;
        ++frequencyVotes[frequency];
        const int mode = b3 >> 6;
        ++modeVotes[mode];
        const int bitrateIndex = b2 >> 4;
        if (bitrateIndex == 0 || bitrateIndex == 15)
            return;
        ++cells[version][protection][frequency][mode][bitrateIndex - 1];
        ++cellTotal;
    }

    // Scans one chunk on its own: a header must end before the chunk's last byte.
    void Scan(const unsigned char* chunk, qint64 length)
    {
        const qint64 last = length - 5;  // the last offset that may begin a header
        qint64 i = 0;
        while (i <= last) {
            const void* sync = std::memchr(chunk + i, 0xFF, static_cast<size_t>(last - i + 1));
            if (!sync)
                break;
            i = static_cast<const unsigned char*>(sync) - chunk;
            if ((chunk[i + 1] & 0xE0) == 0xE0)
                Examine(chunk + i);
            ++i;
        }
    }
};

// The index with the most votes; a tie goes to the later index.
template <size_t N>
int Winner(const uint64_t (&votes)[N])
{
    size_t best = 0;
    for (size_t k = 1; k < N; ++k)
        if (votes[k] >= votes[best])
            best = k;
    return static_cast<int>(best);
}

} // namespace

bool MP3Scanner::Quitting()
{
    QMutexLocker lock(&m_quitMutex);
    return m_quit;
}

void MP3Scanner::Quit()
{
    QMutexLocker lock(&m_quitMutex);
    m_quit = true;
}

void MP3Scanner::OnMP3ScanRequired(QString i_file)
{
    int version = 0, frequency = 0, bitrate = 0;
    bool isVBR = false;
    QString mode;
    if (ScanMP3(i_file, version, mode, frequency, isVBR, bitrate))
        emit MP3Scanned(i_file, version, mode, frequency, isVBR, bitrate);
}

bool MP3Scanner::ScanMP3(QString i_file, int& o_mpegVersion, QString& o_channelMode, int& o_frequency,
                         bool& o_isVBR, int& o_bitrate)
{
    if (Quitting())
        return false;
    QFile file(i_file);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const qint64 size = file.size();
    if (size < 1)
        return false;

    Tally tally;
    std::vector<unsigned char> buffer(kChunkSize);
    qint64 position = 0;
    while (position < size) {
        const qint64 length = file.read(reinterpret_cast<char*>(buffer.data()), qMin(kChunkSize, size - position));
        if (length < 0)
            return false;
        if (length == 0)
            break;  // the file shrank while it was read
        tally.Scan(buffer.data(), length);
        position += length;
        // Shut-down must not wait for the rest of a large file.
        if (Quitting())
            return false;
    }

    int version = Winner(tally.versionVotes);
    if (version == Mpeg25)
        return false;
    const int protection = tally.protectionVotes[1] > tally.protectionVotes[0] ? 1 : 0;
    const int frequency = Winner(tally.frequencyVotes);
    const int mode = Winner(tally.modeVotes);
    if (tally.cellTotal == 0)
        return false;

    const int* table = version == Mpeg1 ? kBitratesMpeg1 : kBitratesMpeg2;
    uint64_t histogram[321] = {};
    uint64_t sum = 0;
    uint64_t kept = 0;
    const uint64_t(&cells)[14] = tally.cells[version][protection][frequency][mode];
    for (int k = 0; k < 14; ++k) {
        histogram[table[k]] += cells[k];
        sum += cells[k] * static_cast<uint64_t>(table[k]);
        kept += cells[k];
    }
    if (kept == 0)
        return false;

    o_mpegVersion = version == Mpeg1 ? 1 : 2;
    o_channelMode = QString::fromLatin1(kChannelModes[mode]);
    o_frequency = frequency;
    o_bitrate = static_cast<int>(sum / kept);
    o_isVBR = true;
    // Constant when one bitrate carries at least 99 % of the kept frames, by the rounded-down
    // percentage.
    for (int rate = 1; rate <= 320; ++rate) {
        if (histogram[rate] * 100 / kept > 98) {
            o_isVBR = false;
            o_bitrate = rate;
        }
    }
    return true;
}
