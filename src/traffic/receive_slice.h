#pragma once

#include <QElapsedTimer>
#include <QObject>

// What one read takes: a TCP block of at most 256 bytes, a datagram of at most 128 (a larger
// one fails the read). A page reads at most kMaxReadsPerSlice times in one slice, at least
// once per notification, so every sender gets its turn.
inline constexpr int kStreamReadSize = 256;
inline constexpr int kDatagramSize = 128;
inline constexpr int kMaxReadsPerSlice = 4096;

// One slice of time shared by every read of one pass of the event loop. A flood is read
// block after block, without a repaint per block, but only for about a frame however many
// peers send at once: then the window's timers, repaints and the other sockets get their turn.
class ReceiveSlice : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSliceMs = 16;

    explicit ReceiveSlice(QObject *parent = nullptr);

    // Opens the slice unless this pass of the event loop already has one.
    void Begin();
    // Over after kSliceMs, or a millisecond before a timer that must keep its time is due.
    bool IsOver() const
    {
        const qint64 elapsed = m_clock.elapsed();
        return elapsed >= kSliceMs || (s_nextDueMs > 0 && m_clock.msecsSinceReference() + elapsed >= s_nextDueMs - 1);
    }

    // The moment (QElapsedTimer's msecsSinceReference clock) a timer that must keep its time
    // is next due, such as a sequence's next step; 0: none. A flood's slice ends before it,
    // so the timer is not held up by a pass of reading.
    static void SetNextDue(qint64 msecsSinceReference) { s_nextDueMs = msecsSinceReference; }
    static qint64 NextDue() { return s_nextDueMs; }

private:
    static inline qint64 s_nextDueMs = 0;

    QElapsedTimer m_clock;
    bool m_open = false;
};
