// The peer frame: u32 little-endian body length and the body. On an obfuscated connection every
// frame starts with a fresh 32-bit key in the clear, and the length and body that follow are
// XORed with the key, rotated left by one bit before every fourth byte.
#include "peer/peermessenger.h"

#include "model/log.h"
#include "peer/peeritems.h"

#include <QTcpSocket>
#include <QtEndian>

#include <cstdlib>
#include <cstring>

using namespace peeritems;

namespace {
// Body bytes read at once when they must go through the chunk.
const qint64 kReadChunkSize = 64 * 1024;
// The idle stamp of a long frame is renewed once per this many bytes.
const uint32_t kActivityStride = 102400;

inline uint32_t RotateLeft(uint32_t k)
{
    return (k << 1) | (k >> 31);
}

// Frames of a socket are obfuscated when its record says so.
bool RecordIsObfuscated(QTcpSocket* socket)
{
    ItemPtr record = d.GetType("uninitialized_socket")->HasItem(Value(socket));
    if (!record)
        record = d.GetType("peer_socket")->HasItem(Value(socket));
    return record && record.IsConnected("is_obfuscated");
}
} // namespace

uint32_t PeerMessenger::NewFrameKey()
{
    const uint32_t r1 = static_cast<uint32_t>(rand());
    const uint32_t r2 = static_cast<uint32_t>(rand());
    const uint32_t r3 = static_cast<uint32_t>(rand());
    const uint32_t r4 = static_cast<uint32_t>(rand());
    return (r1 << 24) | ((r2 & 255) << 16) | ((r3 & 255) << 8) | (r4 & 255);
}

void PeerMessenger::XorSequence(char* p, size_t n, uint32_t& io_key, size_t firstIndex)
{
    uint32_t k = io_key;
    size_t i = firstIndex;
    size_t done = 0;
    // Up to the next four-byte boundary, byte by byte.
    while (done < n && (i % 4) != 0) {
        p[done++] ^= static_cast<char>(k >> (8 * (i % 4)));
        ++i;
    }
    // Whole words: one rotation and one 32-bit XOR each.
    while (n - done >= 4) {
        k = RotateLeft(k);
        const uint32_t word = qFromLittleEndian<quint32>(p + done) ^ k;
        qToLittleEndian<quint32>(word, p + done);
        done += 4;
        i += 4;
    }
    if (done < n) {
        k = RotateLeft(k);
        while (done < n) {
            p[done++] ^= static_cast<char>(k >> (8 * (i % 4)));
            ++i;
        }
    }
    io_key = k;
}

bool PeerMessenger::SendMessage(QTcpSocket* ip_socket, MemStream& i_message, bool i_obfuscate)
{
    const size_t n = i_message.GetWriteIndex();
    QByteArray frame;
    const int head = i_obfuscate ? 8 : 4;
    frame.resize(head + static_cast<int>(n));
    char* p = frame.data();
    qToLittleEndian<quint32>(static_cast<quint32>(n), p + head - 4);
    if (n)
        memcpy(p + head, i_message.GetBuffer(), n);
    if (i_obfuscate) {
        uint32_t key = NewFrameKey();
        qToLittleEndian<quint32>(key, p);
        XorSequence(p + 4, n + 4, key, 0);
    }
    if (ip_socket->write(frame) == -1) {
        Log(kCategory, 1, QString("Error writing message to socket: %1").arg(ip_socket->errorString()));
        return false;
    }
    return true;
}

PeerMessenger::SocketBufferInfo& PeerMessenger::ReceiveState(QTcpSocket* socket, bool obfuscated)
{
    auto it = m_socketBuffers.find(socket);
    if (it != m_socketBuffers.end())
        return it->second;
    SocketBufferInfo& info = m_socketBuffers[socket];
    info.m_obfuscated = obfuscated;
    // The map is keyed by address: a later socket at the same address must start afresh.
    // The destroyed object is no longer a socket by now: only its address is used.
    connect(socket, &QObject::destroyed, this, [this, socket] {
        if (!g_peerMessengerDeleted)
            m_socketBuffers.erase(socket);
    });
    return info;
}

void PeerMessenger::EraseReceiveState(QTcpSocket* socket)
{
    m_socketBuffers.erase(socket);
}

void PeerMessenger::OnSocketReadyToRead()
{
    if (g_peerMessengerDeleted)
        return;
    InFunction marker("OnSocketReadyToRead");
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    auto it = m_socketBuffers.find(socket);
    SocketBufferInfo* info =
        it != m_socketBuffers.end() ? &it->second : &ReceiveState(socket, RecordIsObfuscated(socket));

    qint64 avail = socket->bytesAvailable();
    while (avail > 0) {
        if (info->m_expectTransferTicket) {
            if (avail < 4)
                return;
            uchar bytes[4];
            if (socket->read(reinterpret_cast<char*>(bytes), 4) != 4)
                return;
            const uint ticket = qFromLittleEndian<quint32>(bytes);
            const QString user = info->m_user;
            // The bytes behind the ticket belong to whoever takes the socket.
            socket->disconnect();
            // The new owner may move it to a thread of its own, which a child of the listener
            // cannot go to.
            socket->setParent(nullptr);
            EraseReceiveState(socket);
            emit FileConnectionRequested(user, socket, ticket);
            return;
        }

        if (!info->m_lengthRead) {
            uchar head[8];
            uint32_t length;
            if (info->m_obfuscated) {
                if (avail < 8 || socket->read(reinterpret_cast<char*>(head), 8) != 8)
                    return;
                info->m_obfuscationKey = RotateLeft(qFromLittleEndian<quint32>(head));
                length = qFromLittleEndian<quint32>(head + 4) ^ info->m_obfuscationKey;
                avail -= 8;
            } else {
                if (avail < 4 || socket->read(reinterpret_cast<char*>(head), 4) != 4)
                    return;
                length = qFromLittleEndian<quint32>(head);
                avail -= 4;
            }
            if (length > kMaxFrameLength) {
                ItemPtr record = d.GetType("peer_socket")->HasItem(Value(socket));
                const QString user = record ? UserOf(record) : QString();
                Log(kCategory, 1,
                    QString("Refusing a frame of %1 bytes from %2, disposing of socket")
                        .arg(length)
                        .arg(record ? "user " + user : QStringLiteral("a new connection")));
                // Whatever the frame was, nothing more comes on this connection: a share list
                // asked of that user may have been it.
                if (record && m_shareListsAwaited.count(user))
                    ShareListFailed(user);
                marker.Dispose();
                DisposeOfSocket(socket);
                return;
            }
            info->m_messageLength = length;
            info->m_lengthRead = true;
            continue;
        }
        {
            // The buffer grows with the bytes that arrive, never ahead of them from the header's
            // word alone; once a frame of a size has been seen, its capacity stays.
            MemStream& buffer = info->m_buffer;
            const size_t held = buffer.GetWriteIndex();
            const qint64 wanted = qMin<qint64>(info->m_messageLength - held, avail);
            qint64 got = 0;
            if (buffer.GetBufferSize() - held > static_cast<size_t>(wanted)) {
                got = socket->read(buffer.GetWriteBuffer(), wanted);
                if (got > 0)
                    buffer.AdvanceWriteIndex(static_cast<int>(got));
            } else {
                if (m_readChunk.size() < kReadChunkSize)
                    m_readChunk.resize(kReadChunkSize);
                got = socket->read(m_readChunk.data(), qMin(wanted, kReadChunkSize));
                if (got > 0)
                    buffer.WriteBuffer(m_readChunk.constData(), static_cast<size_t>(got));
            }
            if (got < 0)
                return;
            avail -= got;
            const size_t now = buffer.GetWriteIndex();
            if (held / kActivityStride != now / kActivityStride)
                TouchActivity(d.GetType("peer_socket")->HasItem(Value(socket)), Now());
            if (now < info->m_messageLength) {
                if (got == 0)
                    return;
                continue;
            }
        }

        {
            // Decoded in place: the key sequence goes on from the rotation used for the length.
            if (info->m_obfuscated) {
                uint32_t key = info->m_obfuscationKey;
                XorSequence(const_cast<char*>(info->m_buffer.GetBuffer()), info->m_messageLength, key, 4);
            }
            MemStream body = info->m_buffer;
            const bool kept = HandleMessage(socket, body);
            // A receiver may have ended the socket's state (a disposal it set off); then the
            // socket is no longer read here.
            auto found = m_socketBuffers.find(socket);
            if (!kept) {
                marker.Dispose();
                socket->disconnect();
                DisposeOfSocket(socket);
                return;
            }
            if (found == m_socketBuffers.end())
                return;
            info = &found->second;
            if (info->m_handedOff) {
                EraseReceiveState(socket);
                return;
            }
            info->m_lengthRead = false;
            info->m_buffer.Clear();
        }
    }
}

bool PeerMessenger::HandleMessage(QTcpSocket* ip_socket, MemStream i_message)
{
    if (ItemPtr record = d.GetType("uninitialized_socket")->HasItem(Value(ip_socket)))
        return HandleInitMessage(ip_socket, i_message, record);
    ItemPtr peerSocket = d.GetType("peer_socket")->HasItem(Value(ip_socket));
    const QString user = peerSocket ? peerSocket["user"].AsString() : QString();
    return HandlePeerMessage(ip_socket, i_message, peerSocket, user);
}
