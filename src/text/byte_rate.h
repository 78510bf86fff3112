#pragma once

#include <QString>
#include <QtGlobal>

// What a page sent and received in one second, in bytes.
struct ByteRate
{
    qint64 tx = 0;
    qint64 rx = 0;
};

// Bytes per second in steps of 1000: "999 B/s", "1.2 KB/s", "120 MB/s". Below 0 reads "0 B/s".
// A double, so that the top of a plot's axis, which may lie beyond the largest qint64, has
// its text too.
QString ByteRateText(double bytesPerSecond);
