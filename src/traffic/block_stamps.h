#pragma once

#include <QByteArray>

#include <functional>

// The local time a block was read or sent, as the display line ("HH:MM:SS.mmm ") and the
// traffic log line ("YYYY-MM-DD HH:MM:SS.mmm ") start with it. The local date and time of
// the current second are worked out once per second: a flood stamps every block.
class BlockStamps
{
public:
    // Milliseconds since the epoch; tests give a clock they set.
    using Clock = std::function<qint64()>;

    BlockStamps();
    void SetClock(Clock clock) { m_clock = std::move(clock); }

    qint64 Now() const { return m_clock(); }
    QByteArray TimeOfDay(qint64 msecsSinceEpoch);
    QByteArray DateAndTime(qint64 msecsSinceEpoch);

private:
    // The cached second's texts, without the milliseconds.
    void SetSecond(qint64 second);

    Clock m_clock;
    qint64 m_second = -1;
    QByteArray m_date;  // "YYYY-MM-DD "
    QByteArray m_time;  // "HH:MM:SS"
};
