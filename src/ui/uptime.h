#pragma once

#include <QDateTime>
#include <QString>

// One tick of the main timer on the uptime counters (seconds, minutes, hours, days).
void AdvanceUptime();

// "系统运行了:DD天HH小时MM分SS秒" from the counters; a day count above 99 keeps all its digits.
QString UptimeText();

// Date "Y-M-D" and time "h:m:s", without leading zeros.
QString DateText(const QDateTime &moment);
QString TimeText(const QDateTime &moment);
QString DateTimeText(const QDateTime &moment);
