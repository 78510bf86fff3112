#include "traffic/tcp_send_path.h"

#include "platform/socket_events.h"
#include "traffic/traffic_counters.h"

#include <QElapsedTimer>
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
            emit Written(socket, QByteArrayView(data + written, sent));
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

    if (connection.file) {
        // It goes once the file's last byte has; its stream position is known only then.
        OutgoingFile &file = *connection.file;
        if (uncountedAt >= 0 && uncountedAt < bytes.size())
            file.behindUncounted.push_back(file.behind.size() + uncountedAt);
        file.behind.append(bytes.data(), bytes.size());
        if (connection.Queued() > m_backedUpBytes)
            connection.backedUp = true;
        return true;
    }

    // The stream position of the byte that goes out uncounted, before any of them is written.
    if (uncountedAt >= 0 && uncountedAt < bytes.size())
        connection.uncounted.push_back(connection.streamOffset + static_cast<quint64>(connection.Waiting())
                                       + static_cast<quint64>(uncountedAt));

    qsizetype written = 0;
    if (connection.Waiting() == 0) {
        written = WriteSome(socket, bytes.data(), bytes.size());
        if (written < 0) {
            FileReport none;  // no file goes: with one, nothing is written here
            if (Fail(socket, connection, none))
                emit Drained(socket);
            return false;
        }
    }
    const qint64 counted = written > 0 ? Advance(connection, written) : 0;
    if (written < bytes.size()) {
        connection.buffer.append(bytes.data() + written, bytes.size() - written);
        WatchWritable(socket, connection, true);
        if (connection.Queued() > m_backedUpBytes)
            connection.backedUp = true;
    }
    if (counted > 0)
        emit BytesSent(socket, counted);
    return true;
}

bool TcpSendPath::SendFile(int socket, std::unique_ptr<QIODevice> file)
{
    if (!FileChunks::CanSend(file.get()))
        return false;
    Connection &connection = m_connections[socket];
    if (connection.failed || connection.file)
        return false;
    connection.file = std::make_unique<OutgoingFile>(std::move(file));
    connection.file->sinceProgress.start();
    WatchWritable(socket, connection, true);
    return true;
}

void TcpSendPath::CancelFile(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end() || !found->second.file)
        return;
    Connection &connection = found->second;
    const FileReport report = EndFile(connection, FileEnd::Cancelled);
    WatchWritable(socket, connection, connection.Waiting() > 0);
    Tell(socket, report);
}

bool TcpSendPath::WriteWaiting(int socket, Connection &connection, qint64 &counted, FileReport &report)
{
    QElapsedTimer slice;
    slice.start();
    for (;;) {
        if (connection.Waiting() > 0) {
            const qsizetype written = WriteSome(socket, connection.buffer.constData() + connection.head,
                                                connection.Waiting());
            if (written < 0)
                return false;
            counted += Advance(connection, written);
            DropWritten(connection, written);
            if (connection.Waiting() > 0)
                return true;  // the socket is full
        }
        if (!connection.file)
            return true;

        FileChunks &chunks = connection.file->chunks;
        const QByteArrayView pending = chunks.Pending();
        if (pending.isEmpty()) {
            // Done, or the device failed: either way what waited behind it goes on.
            report = EndFile(connection, chunks.IsDone() ? FileEnd::Done : FileEnd::ReadFailed);
            continue;
        }
        const qsizetype written = WriteSome(socket, pending.data(), pending.size());
        if (written < 0)
            return false;
        chunks.Take(written);
        connection.streamOffset += static_cast<quint64>(written);
        counted += written;  // a file has no uncounted bytes
        if (written < pending.size() || slice.hasExpired(kFileSliceMs))
            return true;
    }
}

void TcpSendPath::DropWritten(Connection &connection, qsizetype written)
{
    connection.head += written;
    if (connection.Waiting() == 0) {
        connection.buffer = QByteArray();  // give the memory back between bursts
        connection.head = 0;
    } else if (connection.head >= kCompactBytes) {
        connection.buffer.remove(0, connection.head);
        connection.head = 0;
    }
}

void TcpSendPath::OnWritable(int socket)
{
    const auto found = m_connections.find(socket);
    if (found == m_connections.end())
        return;
    Connection &connection = found->second;
    qint64 counted = 0;
    FileReport report;
    bool drained = false;
    if (!WriteWaiting(socket, connection, counted, report)) {
        drained = Fail(socket, connection, report);
    } else {
        if (connection.Waiting() == 0 && !connection.file)
            WatchWritable(socket, connection, false);
        drained = connection.backedUp && connection.Queued() <= m_backedUpBytes;
        if (drained)
            connection.backedUp = false;
        OutgoingFile *file = connection.file.get();
        if (file && file->chunks.Taken() != file->toldSent && file->sinceProgress.hasExpired(kFileProgressMs)) {
            report = {true, file->chunks.Taken(), file->chunks.Total(), std::nullopt};
            file->toldSent = report.sent;
            file->sinceProgress.start();
        }
    }
    // The signals come last: a handler may forget this connection, or end its file (the
    // progress of a file that ended meanwhile is not told).
    if (counted > 0)
        emit BytesSent(socket, counted);
    if (report.end || IsSendingFile(socket))
        Tell(socket, report);
    if (drained)
        emit Drained(socket);
}

TcpSendPath::FileReport TcpSendPath::FinalReport(const OutgoingFile &file, FileEnd end)
{
    return {true, file.chunks.Taken(), file.chunks.Total(), end};
}

TcpSendPath::FileReport TcpSendPath::EndFile(Connection &connection, FileEnd end)
{
    const FileReport report = FinalReport(*connection.file, end);
    OutgoingFile &file = *connection.file;
    const quint64 start = connection.streamOffset + static_cast<quint64>(connection.Waiting());
    for (const qsizetype position : file.behindUncounted)
        connection.uncounted.push_back(start + static_cast<quint64>(position));
    if (connection.Waiting() == 0) {
        connection.buffer = std::move(file.behind);
        connection.head = 0;
    } else {
        connection.buffer.append(file.behind);
    }
    connection.file.reset();
    return report;
}

void TcpSendPath::Tell(int socket, const FileReport &report)
{
    if (report.progress)
        emit FileProgress(socket, report.sent, report.total);
    if (report.end)
        emit FileEnded(socket, *report.end);
}

bool TcpSendPath::Fail(int socket, Connection &connection, FileReport &report)
{
    // The peer is gone (reset, or closed while bytes were on their way): what waits can
    // never be delivered. The read side notices the close and ends the connection.
    if (connection.file)
        report = FinalReport(*connection.file, FileEnd::ConnectionGone);
    connection.file.reset();
    connection.failed = true;
    connection.buffer = QByteArray();
    connection.head = 0;
    connection.uncounted.clear();
    WatchWritable(socket, connection, false);
    const bool drained = connection.backedUp;
    connection.backedUp = false;
    return drained;
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
    FileReport report;
    if (found->second.file)
        report = FinalReport(*found->second.file, FileEnd::ConnectionGone);
    if (QSocketNotifier *writable = found->second.writable.release()) {
        // It may be the notifier whose signal is being delivered right now.
        writable->setEnabled(false);
        writable->deleteLater();
    }
    m_connections.erase(found);
    Tell(socket, report);
}

qint64 TcpSendPath::Queued(int socket) const
{
    const auto found = m_connections.find(socket);
    return found == m_connections.end() ? 0 : found->second.Queued();
}

bool TcpSendPath::IsSendingFile(int socket) const
{
    const auto found = m_connections.find(socket);
    return found != m_connections.end() && found->second.file;
}

qint64 TcpSendPath::FileSent(int socket) const
{
    const auto found = m_connections.find(socket);
    return found != m_connections.end() && found->second.file ? found->second.file->chunks.Taken() : 0;
}

qint64 TcpSendPath::FileHeld(int socket) const
{
    const auto found = m_connections.find(socket);
    return found != m_connections.end() && found->second.file ? found->second.file->chunks.Held() : 0;
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
