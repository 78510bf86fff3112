#include "traffic/tcp_send_path.h"

#include "platform/socket_events.h"
#include "traffic/traffic_counters.h"

#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>

namespace {

// Sent bytes are cut from the front of the buffer only once this many have gone, so a
// steady stream does not move the rest of the queue for every write.
constexpr qsizetype kCompactBytes = 64 * 1024;

}  // namespace

TcpSendPath::TcpSendPath(QObject *parent)
    : QObject(parent)
{
}

TcpSendPath::~TcpSendPath() = default;

qsizetype TcpSendPath::WriteSome(int socket, const char *data, qsizetype size)
{
    qsizetype written = 0;
    while (written < size) {
        const ssize_t sent = ::send(socket, data + written, static_cast<size_t>(size - written),
                                    MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            written += sent;
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        return -1;
    }
    return written;
}

qint64 TcpSendPath::Advance(Connection &connection, qsizetype written)
{
    const quint64 end = connection.streamOffset + static_cast<quint64>(written);
    qint64 counted = written;
    while (!connection.uncounted.empty() && connection.uncounted.front() < end) {
        connection.uncounted.pop_front();
        --counted;
    }
    connection.streamOffset = end;
    return counted;
}

bool TcpSendPath::Send(int socket, QByteArrayView bytes, qsizetype uncountedAt)
{
    Connection &connection = m_connections[socket];
    if (connection.failed)
        return false;
    if (bytes.isEmpty())
        return true;

    // The stream position of the byte that goes out uncounted, before any of them is written.
    if (uncountedAt >= 0 && uncountedAt < bytes.size())
        connection.uncounted.push_back(connection.streamOffset + static_cast<quint64>(connection.Waiting())
                                       + static_cast<quint64>(uncountedAt));

    qsizetype written = 0;
    if (connection.Waiting() == 0) {
        written = WriteSome(socket, bytes.data(), bytes.size());
        if (written < 0) {
            Fail(socket, connection);
            return false;
        }
    }
    const qint64 counted = written > 0 ? Advance(connection, written) : 0;
    if (written < bytes.size()) {
        connection.buffer.append(bytes.data() + written, bytes.size() - written);
        WatchWritable(socket, connection, true);
        if (connection.Waiting() > m_backedUpBytes)
            connection.backedUp = true;
    }
    if (counted > 0)
        emit BytesSent(socket, counted);
    return true;
}

void TcpSendPath::OnWritable(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection &connection = found->second;
    const qsizetype written = WriteSome(socket, connection.buffer.constData() + connection.head, connection.Waiting());
    if (written < 0) {
        Fail(socket, connection);
        return;
    }
    const qint64 counted = Advance(connection, written);
    connection.head += written;
    if (connection.Waiting() == 0) {
        connection.buffer = QByteArray();  // give the memory back between bursts
        connection.head = 0;
        WatchWritable(socket, connection, false);
    } else if (connection.head >= kCompactBytes) {
        connection.buffer.remove(0, connection.head);
        connection.head = 0;
    }
    const bool drained = connection.backedUp && connection.Waiting() <= m_backedUpBytes;
    if (drained)
        connection.backedUp = false;
    // The signals come last: a handler may forget this connection.
    if (counted > 0)
        emit BytesSent(socket, counted);
    if (drained)
        emit Drained(socket);
}

void TcpSendPath::Fail(int socket, Connection &connection)
{
    // The peer is gone (reset, or closed while bytes were on their way): what waits can
    // never be delivered. The read side notices the close and ends the connection.
    connection.failed = true;
    connection.buffer = QByteArray();
    connection.head = 0;
    connection.uncounted.clear();
    WatchWritable(socket, connection, false);
    if (connection.backedUp) {
        connection.backedUp = false;
        emit Drained(socket);
    }
}

void TcpSendPath::WatchWritable(int socket, Connection &connection, bool watch)
{
    if (!watch) {
        if (connection.writable)
            connection.writable->setEnabled(false);
        return;
    }
    if (!connection.writable) {
        connection.writable = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        connect(connection.writable.get(), &QSocketNotifier::activated, this, [this, socket] { OnWritable(socket); });
    }
    connection.writable->setEnabled(true);
}

void TcpSendPath::Forget(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    if (QSocketNotifier *writable = found->second.writable.release()) {
        // It may be the notifier whose signal is being delivered right now.
        writable->setEnabled(false);
        writable->deleteLater();
    }
    m_connections.erase(found);
}

qint64 TcpSendPath::Queued(int socket) const
{
    const auto found = m_connections.find(socket);
    return found == m_connections.end() ? 0 : found->second.Waiting();
}

bool TcpSendPath::IsBackedUp(int socket) const
{
    const auto found = m_connections.find(socket);
    return found != m_connections.end() && found->second.backedUp;
}

void ConnectSendPath(TcpSendPath &path, SocketEventRegistry &events, TrafficCounters &counters)
{
    QObject::connect(&path, &TcpSendPath::BytesSent, &path,
                     [&counters](int, qint64 counted) { counters.AddTx(counted); });
    QObject::connect(&path, &TcpSendPath::Drained, &events, [&events](int socket) {
        if (events.IsRegistered(socket))
            events.SetReadPaused(socket, false);
    });
}
