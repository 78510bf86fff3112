#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

#include "traffic/file_chunks.h"
#include "traffic/file_end.h"

class QIODevice;

// Sends a file as datagrams of one size (the last may be shorter) at a set rate, or as fast
// as the socket takes them, from the event loop: the window stays responsive either way.
// Each datagram goes through sendDatagram, the one place it leaves, where the caller counts
// TX and tells a capture; it returns the bytes sent, or -1 with errno set. EAGAIN, EWOULDBLOCK
// and ENOBUFS mean "not now": the same datagram is tried again a moment later, so nothing is
// lost on this side. Any other error ends the file with ConnectionGone. sendDatagram must not
// call back into the sender.
class UdpFileSender : public QObject
{
    Q_OBJECT

public:
    using SendDatagram = std::function<qint64(QByteArrayView datagram)>;

    static constexpr int kDefaultDatagramSize = 1024;
    static constexpr int kMaxDatagramSize = 65507;  // what fits in one IPv4 UDP datagram
    // Without a rate, datagrams go for at most this long in one pass of the event loop.
    static constexpr int kSliceMs = 8;
    static constexpr int kProgressMs = 100;

    explicit UdpFileSender(SendDatagram sendDatagram, QObject *parent = nullptr);
    ~UdpFileSender() override;

    // Starts on the next pass of the event loop. perSecond: datagrams a second, 0 for as
    // many as the socket takes; a rate keeps its average from the start, so a late timer is
    // made up for. An empty file sends nothing and ends Done. False when a file already goes,
    // the size or the rate is out of range, or the device is not an open, non-sequential one.
    bool Start(std::unique_ptr<QIODevice> file, int datagramSize = kDefaultDatagramSize, int perSecond = 0);
    // Stops after the datagrams already sent; Ended(Cancelled) comes before this returns.
    void Cancel();
    bool IsRunning() const { return m_file != nullptr; }

signals:
    // Bytes and datagrams sent so far, at most every kProgressMs, and once at the end before
    // Ended.
    void Progress(qint64 sent, qint64 total, qint64 datagrams);
    void Ended(FileEnd end);

private:
    void OnTimer();
    // Sends what is due, within one slice; the end the file came to, if it did.
    std::optional<FileEnd> SendDue();
    // Datagrams due by now at the set rate, counting from the first, sent at the start.
    qint64 DueByNow() const;
    // Milliseconds until the next datagram is due.
    int MsUntilNext() const;
    void Finish(FileEnd end);

    SendDatagram m_sendDatagram;
    QTimer m_timer;
    std::unique_ptr<FileChunks> m_file;
    int m_datagramSize = kDefaultDatagramSize;
    int m_perSecond = 0;
    qint64 m_datagrams = 0;
    int m_nextMs = 0;  // when the timer fires next
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceProgress;
};
