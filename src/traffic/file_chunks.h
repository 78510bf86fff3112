#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>

#include <memory>

// A file read one chunk at a time as its sender takes the bytes: at most one chunk is held,
// whatever the file's size. The file is the device's size() bytes as they were when it was
// handed over; a device that gives fewer (an error, or its end comes early) has failed.
class FileChunks
{
public:
    // Open for reading and able to say its size: a sequential device (a pipe, a terminal,
    // /dev/zero) is not a file to send.
    static bool CanSend(const QIODevice *device);

    // chunkBytes: how much is read at once; every chunk but the file's last is this size.
    FileChunks(std::unique_ptr<QIODevice> device, qsizetype chunkBytes);

    qint64 Total() const { return m_total; }
    // Bytes the sender has taken.
    qint64 Taken() const { return m_taken; }
    // Bytes read and not yet taken.
    qsizetype Held() const { return m_chunk.size() - m_head; }
    bool IsDone() const { return m_taken == m_total; }
    bool HasFailed() const { return m_failed && Held() == 0; }

    // The bytes that come next, reading the next chunk when every read byte has been taken;
    // empty when the file is done or its reading failed. Valid until the next call.
    QByteArrayView Pending();
    void Take(qsizetype count);

private:
    void ReadChunk();

    std::unique_ptr<QIODevice> m_device;
    qint64 m_total;
    qint64 m_read = 0;
    qint64 m_taken = 0;
    qsizetype m_chunkBytes;
    QByteArray m_chunk;  // read bytes not yet taken are m_chunk[m_head..]
    qsizetype m_head = 0;
    bool m_failed = false;
};
