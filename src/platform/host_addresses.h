#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The local host as the pages see it: its name and its IPv4 addresses in dotted form,
// in the order they are listed; beside them its IPv6 addresses (a link-local one with its
// scope, "fe80::1%eth0"), empty where the host has none.
struct HostEntry
{
    QString name;
    QStringList addresses;
    QStringList ipv6Addresses;
};

// The local host as the process keeps it, set once at start-up; null when it could not be
// looked up.
extern HostEntry *g_pHostEntry;

// The host name, or nothing when the system cannot tell it.
std::optional<QString> LocalHostName();

// The addresses the resolver gives for the name, then those of every interface that is up
// (loopback included), without duplicates; the IPv6 addresses of those interfaces.
HostEntry ResolveHostEntry(const QString &hostName);

class QHostAddress;
// An IPv6 address as the host box lists it: a link-local one with its interface's name.
QString Ipv6AddressText(const QHostAddress &address, const QString &interfaceName);
