#pragma once

#include <QDateTime>
#include <QString>

// "Y-M-D h:m:s" of the last main-timer tick; "" before it. Lines of the logs start with it.
extern QString g_strDateTime;
// The time the program has run, in whole seconds, minutes, hours and days.
extern int g_nUpSeconds;
extern int g_nUpMinutes;
extern int g_nUpHours;
extern int g_nUpDays;

// One tick of the main timer on the uptime counters (seconds, minutes, hours, days).
void AdvanceUptime();

// "系统运行了:DD天HH小时MM分SS秒" from the counters; a day count above 99 keeps all its digits.
QString UptimeText();

// Date "Y-M-D" and time "h:m:s", without leading zeros.
QString DateText(const QDateTime &moment);
QString TimeText(const QDateTime &moment);
QString DateTimeText(const QDateTime &moment);
