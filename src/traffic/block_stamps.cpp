#include "traffic/block_stamps.h"

#include <QDateTime>

#include <cstdio>

BlockStamps::BlockStamps()
    : m_clock([] { return QDateTime::currentMSecsSinceEpoch(); })
{
}

void BlockStamps::SetSecond(qint64 second)
{
    if (second == m_second)
        return;
    m_second = second;
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(second * 1000);
    m_date = local.date().toString(QStringLiteral("yyyy-MM-dd ")).toLatin1();
    m_time = local.time().toString(QStringLiteral("HH:mm:ss")).toLatin1();
}

QByteArray BlockStamps::TimeOfDay(qint64 msecsSinceEpoch)
{
    // Floor division: a moment before 1970 still falls into its own second.
    const qint64 second = msecsSinceEpoch >= 0 ? msecsSinceEpoch / 1000 : (msecsSinceEpoch - 999) / 1000;
    SetSecond(second);
    char millis[6];
    std::snprintf(millis, sizeof millis, ".%03d ", int(msecsSinceEpoch - second * 1000));
    return m_time + millis;
}

QByteArray BlockStamps::DateAndTime(qint64 msecsSinceEpoch)
{
    QByteArray time = TimeOfDay(msecsSinceEpoch);
    return m_date + time;
}
