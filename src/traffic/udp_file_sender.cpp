#include "traffic/udp_file_sender.h"

#include <algorithm>
#include <cerrno>

namespace {

// How much is read at once: whole datagrams, so that only the file's last one is short.
constexpr qsizetype kReadBytes = 256 * 1024;
constexpr qint64 kNsPerSecond = 1000000000;

bool IsTryAgain(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == ENOBUFS;
}

}  // namespace

UdpFileSender::UdpFileSender(SendDatagram sendDatagram, QObject *parent)
    : QObject(parent)
    , m_sendDatagram(std::move(sendDatagram))
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &UdpFileSender::OnTimer);
}

UdpFileSender::~UdpFileSender() = default;

bool UdpFileSender::Start(std::unique_ptr<QIODevice> file, int datagramSize, int perSecond)
{
    if (IsRunning() || datagramSize < 1 || datagramSize > kMaxDatagramSize || perSecond < 0
        || !FileChunks::CanSend(file.get()))
        return false;
    m_datagramSize = datagramSize;
    m_perSecond = perSecond;
    m_datagrams = 0;
    m_file = std::make_unique<FileChunks>(std::move(file),
                                          std::max<qsizetype>(kReadBytes / datagramSize, 1) * datagramSize);
    m_sinceStart.start();
    m_sinceProgress.start();
    m_timer.start(0);
    return true;
}

void UdpFileSender::Cancel()
{
    if (IsRunning())
        Finish(FileEnd::Cancelled);
}

void UdpFileSender::OnTimer()
{
    if (!IsRunning())
        return;
    if (const std::optional<FileEnd> end = SendDue()) {
        Finish(*end);
        return;
    }
    m_timer.start(m_nextMs);
    if (m_sinceProgress.hasExpired(kProgressMs)) {
        m_sinceProgress.start();
        emit Progress(m_file->Taken(), m_file->Total(), m_datagrams);
    }
}

std::optional<FileEnd> UdpFileSender::SendDue()
{
    QElapsedTimer slice;
    slice.start();
    const qint64 due = m_perSecond > 0 ? DueByNow() : -1;
    for (;;) {
        const QByteArrayView pending = m_file->Pending();
        if (pending.isEmpty())
            return m_file->IsDone() ? FileEnd::Done : FileEnd::ReadFailed;
        if (due >= 0 && m_datagrams >= due) {
            m_nextMs = MsUntilNext();
            return std::nullopt;
        }
        const QByteArrayView datagram = pending.first(std::min<qsizetype>(pending.size(), m_datagramSize));
        if (m_sendDatagram(datagram) < 0) {
            if (!IsTryAgain(errno))
                return FileEnd::ConnectionGone;
            m_nextMs = 1;  // the socket's buffer is full: give it a moment, do not spin
            return std::nullopt;
        }
        m_file->Take(datagram.size());
        ++m_datagrams;
        if (slice.hasExpired(kSliceMs)) {
            m_nextMs = 0;
            return std::nullopt;
        }
    }
}

qint64 UdpFileSender::DueByNow() const
{
    // elapsed × rate without overflow for any run: whole seconds and the rest apart.
    const qint64 elapsed = m_sinceStart.nsecsElapsed();
    return elapsed / kNsPerSecond * m_perSecond + elapsed % kNsPerSecond * m_perSecond / kNsPerSecond + 1;
}

int UdpFileSender::MsUntilNext() const
{
    // Datagram n is due n / rate seconds after the start, rounded up to whole nanoseconds.
    const qint64 whole = m_datagrams / m_perSecond;
    const qint64 rest = m_datagrams % m_perSecond;
    const qint64 dueNs = whole * kNsPerSecond + (rest * kNsPerSecond + m_perSecond - 1) / m_perSecond;
    const qint64 waitNs = dueNs - m_sinceStart.nsecsElapsed();
    return static_cast<int>(std::clamp<qint64>((waitNs + 999999) / 1000000, 0, 1000));
}

void UdpFileSender::Finish(FileEnd end)
{
    m_timer.stop();
    const qint64 sent = m_file->Taken();
    const qint64 total = m_file->Total();
    m_file.reset();
    emit Progress(sent, total, m_datagrams);
    emit Ended(end);
}
