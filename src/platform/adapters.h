#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// One network adapter as the IP information dialog shows it; dotted texts, "" when none.
// Its IPv6 addresses with their prefix length ("2001:db8::5/64", "fe80::1%eth0/64"), in the
// system's order; empty where it has none.
struct AdapterInfo
{
    QString description;
    QString ipAddress;
    QString ipMask;
    QString gateway;
    QStringList ipv6Addresses = {};
};

// Every interface that is not loopback, in the system's order: its human-readable name, its
// first IPv4 address with that address's mask, its default gateway from the routing table and
// its IPv6 addresses.
// Nothing when the list cannot be fetched or holds no adapter.
std::optional<QList<AdapterInfo>> FetchAdapters();

// The gateway of the interface's first default route in a /proc/net/route table
// (hexadecimal fields in the kernel's little-endian order), or "" when it has none.
QString DefaultGatewayFromRouteTable(const QByteArray &routeTable, const QString &interfaceName);
