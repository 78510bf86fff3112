#pragma once

#include <QElapsedTimer>
#include <QObject>

// What one read takes: a TCP block of at most 256 bytes, a datagram of at most 128 (a larger
// one fails the read); with 大数据 a TCP read of up to 64 KiB and a datagram read into 65,535
// bytes, the most a UDP datagram carries. A page reads at most kMaxReadsPerSlice times in one
// slice, at least once per notification, so every sender gets its turn.
inline constexpr int kStreamReadSize = 256;
inline constexpr int kDatagramSize = 128;
inline constexpr int kLargeStreamReadSize = 65536;
inline constexpr int kLargeDatagramSize = 65535;
inline constexpr int kMaxReadsPerSlice = 4096;

// One slice of time shared by every read of one pass of the event loop. A flood is read
// block after block, without a repaint per block, but only for about a frame however many
// peers send at once: then the window's timers, repaints and the other sockets get their turn.
// Large reads also end it by their bytes: 4,096 reads of 64 KiB would be 256 MiB in one pass,
// while 4,096 small ones never reach the budget.
class ReceiveSlice : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSliceMs = 16;
    static constexpr qint64 kSliceBytes = 4 << 20;

    explicit ReceiveSlice(QObject *parent = nullptr);

    // Opens the slice unless this pass of the event loop already has one.
    void Begin();
    // Over after kSliceMs, or a millisecond before a timer that must keep its time is due.
    bool IsOver() const
    {
        const qint64 elapsed = m_clock.elapsed();
        return elapsed >= kSliceMs || m_bytes >= kSliceBytes
               || (s_nextDueMs > 0 && m_clock.msecsSinceReference() + elapsed >= s_nextDueMs - 1);
    }
    // What a read of the slice took.
    void Count(qint64 bytes) { m_bytes += bytes; }

    // The moment (QElapsedTimer's msecsSinceReference clock) a timer that must keep its time
    // is next due, such as a sequence's next step; 0: none. A flood's slice ends before it,
    // so the timer is not held up by a pass of reading.
    static void SetNextDue(qint64 msecsSinceReference) { s_nextDueMs = msecsSinceReference; }
    static qint64 NextDue() { return s_nextDueMs; }

private:
    static inline qint64 s_nextDueMs = 0;

    QElapsedTimer m_clock;
    qint64 m_bytes = 0;
    bool m_open = false;
};
