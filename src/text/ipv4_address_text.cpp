#include "text/ipv4_address_text.h"

#include <QStringList>

std::optional<std::array<uint, 4>> ParseIpv4AddressText(const QString &dotted)
{
    const QStringList parts = dotted.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return std::nullopt;
    std::array<uint, 4> numbers{};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        numbers[i] = parts[i].toUInt(&ok);
        if (!ok || numbers[i] > 255)
            return std::nullopt;
    }
    return numbers;
}

QString Ipv4AddressTextOfFields(const std::array<QString, 4> &fields)
{
    QStringList parts;
    bool blank = true;
    for (const QString &field : fields) {
        blank = blank && field.isEmpty();
        parts.append(QString::number(field.toUInt()));
    }
    return blank ? QString() : parts.join(QLatin1Char('.'));
}
