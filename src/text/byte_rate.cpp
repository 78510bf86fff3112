#include "text/byte_rate.h"

#include <algorithm>
#include <array>
#include <cmath>

QString ByteRateText(double bytesPerSecond)
{
    static constexpr std::array<const char *, 7> kUnits{"B/s", "KB/s", "MB/s", "GB/s", "TB/s", "PB/s", "EB/s"};
    double value = std::max(0.0, bytesPerSecond);
    if (value < 999.5)
        return QString::number(std::llround(value)) + QStringLiteral(" B/s");
    std::size_t unit = 0;
    // Moved up a unit once the figure would round to 1000, so "1000 KB/s" reads "1.0 MB/s".
    while (value >= 999.5 && unit + 1 < kUnits.size()) {
        value /= 1000;
        ++unit;
    }
    const int decimals = value < 99.95 ? 1 : 0;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(kUnits[unit]);
}
