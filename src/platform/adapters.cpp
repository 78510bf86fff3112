#include "platform/adapters.h"

#include "platform/host_addresses.h"

#include <QFile>
#include <QHostAddress>
#include <QNetworkInterface>
#include <QtEndian>

namespace {

constexpr unsigned kRouteUp = 0x1;       // RTF_UP
constexpr unsigned kRouteGateway = 0x2;  // RTF_GATEWAY

// Columns of /proc/net/route.
enum RouteColumn { kIface = 0, kDestination = 1, kGatewayColumn = 2, kFlags = 3, kMask = 7, kColumnCount = 8 };

std::optional<quint32> HexField(const QByteArray &field)
{
    bool ok = false;
    const quint32 value = field.toUInt(&ok, 16);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

QByteArray ReadRouteTable()
{
    QFile file(QStringLiteral("/proc/net/route"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

AdapterInfo DescribeInterface(const QNetworkInterface &iface, const QByteArray &routeTable)
{
    AdapterInfo adapter;
    adapter.description = iface.humanReadableName();
    const auto entries = iface.addressEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol && adapter.ipAddress.isEmpty()) {
            adapter.ipAddress = entry.ip().toString();
            adapter.ipMask = entry.netmask().toString();
        } else if (entry.ip().protocol() == QAbstractSocket::IPv6Protocol) {
            adapter.ipv6Addresses.append(Ipv6AddressText(entry.ip(), iface.name()) + QLatin1Char('/')
                                         + QString::number(entry.prefixLength()));
        }
    }
    adapter.gateway = DefaultGatewayFromRouteTable(routeTable, iface.name());
    return adapter;
}

}  // namespace

QString DefaultGatewayFromRouteTable(const QByteArray &routeTable, const QString &interfaceName)
{
    const QList<QByteArray> lines = routeTable.split('\n');
    // The first line is the column header.
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines[i].simplified().split(' ');
        if (fields.size() < kColumnCount || QString::fromLocal8Bit(fields[kIface]) != interfaceName)
            continue;
        const auto destination = HexField(fields[kDestination]);
        const auto mask = HexField(fields[kMask]);
        const auto gateway = HexField(fields[kGatewayColumn]);
        const auto flags = HexField(fields[kFlags]);
        if (!destination || !mask || !gateway || !flags)
            continue;
        // A default route straight onto the link (no RTF_GATEWAY) names no gateway to show.
        const bool defaultRoute = *destination == 0 && *mask == 0;
        // The kernel prints the address as it lies in memory (network order) read as a host integer.
        if (defaultRoute && (*flags & kRouteUp) && (*flags & kRouteGateway))
            return QHostAddress(qFromBigEndian(*gateway)).toString();
    }
    return {};
}

std::optional<QList<AdapterInfo>> FetchAdapters()
{
    const QByteArray routeTable = ReadRouteTable();
    QList<AdapterInfo> adapters;
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (iface.flags() & QNetworkInterface::IsLoopBack)
            continue;
        adapters.append(DescribeInterface(iface, routeTable));
    }
    if (adapters.isEmpty())
        return std::nullopt;
    return adapters;
}
