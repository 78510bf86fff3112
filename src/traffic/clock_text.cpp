#include "traffic/clock_text.h"

QString g_strDateTime;
int g_nUpSeconds = 0;
int g_nUpMinutes = 0;
int g_nUpHours = 0;
int g_nUpDays = 0;

void AdvanceUptime()
{
    if (++g_nUpSeconds < 60)
        return;
    g_nUpSeconds = 0;
    if (++g_nUpMinutes == 60) {
        g_nUpMinutes = 0;
        ++g_nUpHours;
    }
    if (g_nUpHours == 24) {
        g_nUpHours = 0;
        ++g_nUpDays;
    }
}

QString UptimeText()
{
    return QString::asprintf("系统运行了:%02d天%02d小时%02d分%02d秒", g_nUpDays, g_nUpHours, g_nUpMinutes,
                             g_nUpSeconds);
}

QString DateText(const QDateTime &moment)
{
    const QDate date = moment.date();
    return QString::asprintf("%d-%d-%d", date.year(), date.month(), date.day());
}

QString TimeText(const QDateTime &moment)
{
    const QTime time = moment.time();
    return QString::asprintf("%d:%d:%d", time.hour(), time.minute(), time.second());
}

QString DateTimeText(const QDateTime &moment)
{
    return DateText(moment) + QLatin1Char(' ') + TimeText(moment);
}
