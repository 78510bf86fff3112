#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>
#include <memory>
#include <unordered_map>

class QSocketNotifier;
class SocketEventRegistry;
class TrafficCounters;

// The one way a page sends on its TCP connections. Each connection has an outgoing queue:
// Send writes what the socket takes now and queues the rest, which goes out in order as the
// socket becomes writable again. Nothing is dropped or reordered while the connection lives;
// what is still queued when it ends (Forget, or a failed write) was never counted and is dropped.
class TcpSendPath : public QObject
{
    Q_OBJECT

public:
    // Above this many queued bytes a connection counts as backed up: a page then stops
    // reading from it until the queue has drained, so an echo to a peer that does not read
    // slows that peer down instead of growing without end.
    static constexpr qint64 kDefaultBackedUpBytes = 1024 * 1024;

    explicit TcpSendPath(QObject *parent = nullptr);
    ~TcpSendPath() override;

    void SetBackedUpBytes(qint64 bytes) { m_backedUpBytes = bytes; }

    // Hands bytes to the connection's queue. The byte at uncountedAt (the zero byte that ends
    // a text send's body; -1: none) goes out but is not counted in BytesSent. False when the
    // connection has already failed: nothing is sent then.
    bool Send(int socket, QByteArrayView bytes, qsizetype uncountedAt = -1);
    // Drops what waits for the socket and forgets it; call it before closing the socket.
    void Forget(int socket);

    qint64 Queued(int socket) const;
    bool IsBackedUp(int socket) const;

signals:
    // Bytes the system accepted, without the uncounted ones: what TX counts.
    void BytesSent(int socket, qint64 counted);
    // A backed-up connection drained below the bound, or failed (its queue is gone): reading
    // from it may go on, and a close will then be noticed.
    void Drained(int socket);

private:
    struct Connection
    {
        QByteArray buffer;  // unsent bytes are buffer[head..]
        qsizetype head = 0;
        quint64 streamOffset = 0;       // stream position of buffer[head]
        std::deque<quint64> uncounted;  // stream positions of bytes TX does not count
        std::unique_ptr<QSocketNotifier> writable;
        bool backedUp = false;
        bool failed = false;
        qsizetype Waiting() const { return buffer.size() - head; }
    };

    // Writes from data as far as the socket takes it; the count written, or -1 on failure.
    static qsizetype WriteSome(int socket, const char *data, qsizetype size);
    // Advances the connection's stream by written bytes and says how many of them count.
    static qint64 Advance(Connection &connection, qsizetype written);
    void OnWritable(int socket);
    void Fail(int socket, Connection &connection);
    void WatchWritable(int socket, Connection &connection, bool watch);

    std::unordered_map<int, Connection> m_connections;
    qint64 m_backedUpBytes = kDefaultBackedUpBytes;
};

// A page's send path at work: what it sends counts in the page's TX, and a connection whose
// queue drained (or failed) is read again, so a close behind it is seen.
void ConnectSendPath(TcpSendPath &path, SocketEventRegistry &events, TrafficCounters &counters);
