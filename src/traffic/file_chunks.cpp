#include "traffic/file_chunks.h"

#include <algorithm>

bool FileChunks::CanSend(const QIODevice *device)
{
    return device && device->isReadable() && !device->isSequential();
}

FileChunks::FileChunks(std::unique_ptr<QIODevice> device, qsizetype chunkBytes)
    : m_device(std::move(device))
    , m_total(std::max<qint64>(m_device->size() - m_device->pos(), 0))
    , m_chunkBytes(std::max<qsizetype>(chunkBytes, 1))
{
}

QByteArrayView FileChunks::Pending()
{
    if (Held() == 0 && !m_failed && m_read < m_total)
        ReadChunk();
    return QByteArrayView(m_chunk).sliced(m_head);
}

void FileChunks::Take(qsizetype count)
{
    count = std::clamp<qsizetype>(count, 0, Held());
    m_head += count;
    m_taken += count;
}

void FileChunks::ReadChunk()
{
    const qsizetype wanted = static_cast<qsizetype>(std::min<qint64>(m_chunkBytes, m_total - m_read));
    // One buffer for the whole file: resizing within its capacity keeps the allocation.
    m_chunk.resize(wanted);
    m_head = 0;
    qsizetype filled = 0;
    // A device may give less than asked at once; the chunk is filled, so that every chunk
    // but the last has its full size (a datagram sender cuts them into equal datagrams).
    while (filled < wanted) {
        const qint64 got = m_device->read(m_chunk.data() + filled, wanted - filled);
        if (got <= 0) {
            m_failed = true;  // an error, or the end of a file that shrank under us
            break;
        }
        filled += static_cast<qsizetype>(got);
    }
    m_chunk.resize(filled);
    m_read += filled;
}
