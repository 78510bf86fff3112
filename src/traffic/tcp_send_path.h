#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <deque>
#include <memory>
#include <optional>
#include <unordered_map>

#include "traffic/file_chunks.h"
#include "traffic/file_end.h"

class QSocketNotifier;
class SocketEventRegistry;
class TrafficCounters;

// The one way a page sends on its TCP connections. Each connection has an outgoing queue:
// Send writes what the socket takes now and queues the rest, which goes out in order as the
// socket becomes writable again. Nothing is dropped or reordered while the connection lives;
// what is still queued when it ends (Forget, or a failed write) was never counted and is dropped.
//
// A connection may also stream one file at a time: it goes after what was queued before it,
// and what is sent meanwhile waits behind it. The file is read a chunk at a time, only as the
// socket takes the previous one, so memory stays flat for a file of any size.
class TcpSendPath : public QObject
{
    Q_OBJECT

public:
    // Above this many queued bytes a connection counts as backed up: a page then stops
    // reading from it until the queue has drained, so an echo to a peer that does not read
    // slows that peer down instead of growing without end.
    static constexpr qint64 kDefaultBackedUpBytes = 1024 * 1024;
    // How much of a file is read at once: at most this much of it is held per connection.
    static constexpr qsizetype kFileChunkBytes = 256 * 1024;
    // A writable socket is fed a file for at most this long in one pass of the event loop.
    static constexpr int kFileSliceMs = 8;
    // Progress is told at most this often per file, and once more at its end.
    static constexpr int kFileProgressMs = 100;

    explicit TcpSendPath(QObject *parent = nullptr);
    ~TcpSendPath() override;

    void SetBackedUpBytes(qint64 bytes) { m_backedUpBytes = bytes; }

    // Hands bytes to the connection's queue. The byte at uncountedAt (the zero byte that ends
    // a text send's body; -1: none) goes out but is not counted in BytesSent. False when the
    // connection has already failed: nothing is sent then.
    bool Send(int socket, QByteArrayView bytes, qsizetype uncountedAt = -1);
    // Drops what waits for the socket and forgets it; call it before closing the socket. A
    // file going on it ends with ConnectionGone before this returns.
    void Forget(int socket);

    // Streams the file (an open, readable, non-sequential device: its bytes from its position
    // to its size()) after what is queued; sends made meanwhile wait behind its last byte.
    // Nothing is written before the event loop runs again, so every signal of the file comes
    // after this returns. False, and the device is closed, when the connection has failed,
    // a file already goes on it, or the device is not such a file. An empty file ends Done
    // once what was queued before it has gone.
    bool SendFile(int socket, std::unique_ptr<QIODevice> file);
    // The file stops at the last byte the socket took: the peer has a prefix of it, exactly
    // FileSent() bytes long, followed by the sends that waited behind it. The rest of the
    // chunk read is dropped: finishing it would only make the prefix longer and the cancel
    // slower. FileEnded(Cancelled) is emitted before this returns.
    void CancelFile(int socket);
    bool IsSendingFile(int socket) const;
    // The file's bytes the system has accepted; 0 when no file goes.
    qint64 FileSent(int socket) const;
    // The file's bytes read and not yet accepted (at most kFileChunkBytes).
    qint64 FileHeld(int socket) const;

    // Bytes handed to Send and not yet accepted, those behind a file included. The file's
    // own bytes do not count here, nor towards IsBackedUp: a file is read only as the socket
    // takes it, so it never piles up, and the page goes on reading the peer meanwhile. Sends
    // behind a file do count: an echo waiting behind it slows the peer down.
    qint64 Queued(int socket) const;
    bool IsBackedUp(int socket) const;

signals:
    // Bytes the system accepted, without the uncounted ones: what TX counts.
    void BytesSent(int socket, qint64 counted);
    // The very bytes the system accepted, in the order they went (a capture's sent blocks).
    void Written(int socket, QByteArrayView bytes);
    // A backed-up connection drained below the bound, or failed (its queue is gone): reading
    // from it may go on, and a close will then be noticed.
    void Drained(int socket);
    // The file's bytes accepted so far, at most every kFileProgressMs, and once at its end
    // before FileEnded.
    void FileProgress(int socket, qint64 sent, qint64 total);
    // ConnectionGone: Forget, or the connection failed. After ReadFailed and Cancelled the
    // sends behind the file go on.
    void FileEnded(int socket, FileEnd end);

private:
    // A file on its way and the sends that wait behind it.
    struct OutgoingFile
    {
        explicit OutgoingFile(std::unique_ptr<QIODevice> device)
            : chunks(std::move(device), kFileChunkBytes)
        {
        }
        FileChunks chunks;
        QByteArray behind;
        std::deque<qsizetype> behindUncounted;  // positions within behind
        QElapsedTimer sinceProgress;
        qint64 toldSent = 0;
    };

    struct Connection
    {
        QByteArray buffer;  // unsent bytes are buffer[head..]; with a file, those before it
        qsizetype head = 0;
        quint64 streamOffset = 0;       // stream position of buffer[head]
        std::deque<quint64> uncounted;  // stream positions of bytes TX does not count
        std::unique_ptr<OutgoingFile> file;
        std::unique_ptr<QSocketNotifier> writable;
        bool backedUp = false;
        bool failed = false;
        qsizetype Waiting() const { return buffer.size() - head; }
        qint64 Queued() const { return Waiting() + (file ? file->behind.size() : 0); }
    };

    // What one pass over a writable socket did, told once the connection is consistent.
    struct FileReport
    {
        bool progress = false;
        qint64 sent = 0;
        qint64 total = 0;
        std::optional<FileEnd> end;
    };

    // Writes from data as far as the socket takes it; the count written, or -1 on failure.
    qsizetype WriteSome(int socket, const char *data, qsizetype size);
    // Advances the connection's stream by written bytes and says how many of them count.
    static qint64 Advance(Connection &connection, qsizetype written);
    void OnWritable(int socket);
    // Writes what waits in stream order (the queue, then the file, then what waited behind
    // it) while the socket takes it and, with a file, the slice lasts; false on failure.
    // counted: what TX counts of it.
    bool WriteWaiting(int socket, Connection &connection, qint64 &counted, FileReport &report);
    static void DropWritten(Connection &connection, qsizetype written);
    static FileReport FinalReport(const OutgoingFile &file, FileEnd end);
    // The file is over: the sends that waited behind it join the queue.
    static FileReport EndFile(Connection &connection, FileEnd end);
    void Tell(int socket, const FileReport &report);
    // The connection failed: nothing more goes on it. True when it was backed up (a page
    // should read it again, to see the close).
    bool Fail(int socket, Connection &connection, FileReport &report);
    void WatchWritable(int socket, Connection &connection, bool watch);

    std::unordered_map<int, Connection> m_connections;
    qint64 m_backedUpBytes = kDefaultBackedUpBytes;
};

// A page's send path at work: what it sends counts in the page's TX, and a connection whose
// queue drained (or failed) is read again, so a close behind it is seen.
void ConnectSendPath(TcpSendPath &path, SocketEventRegistry &events, TrafficCounters &counters);
