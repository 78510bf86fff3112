#include "platform/host_addresses.h"

#include <QHostAddress>
#include <QNetworkInterface>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <unistd.h>

HostEntry *g_pHostEntry = nullptr;

std::optional<QString> LocalHostName()
{
    char name[64] = {};
    if (::gethostname(name, sizeof name - 1) != 0)
        return std::nullopt;
    return QString::fromLocal8Bit(name);
}

namespace {

void AppendUnique(QStringList &list, const QString &address)
{
    if (!list.contains(address))
        list.append(address);
}

void AppendResolverAddresses(const QString &hostName, QStringList &addresses)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    if (::getaddrinfo(hostName.toLocal8Bit().constData(), nullptr, &hints, &found) != 0)
        return;
    for (const addrinfo *info = found; info; info = info->ai_next) {
        const auto *in = reinterpret_cast<const sockaddr_in *>(info->ai_addr);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text))
            AppendUnique(addresses, QString::fromLatin1(text));
    }
    ::freeaddrinfo(found);
}

void AppendInterfaceAddresses(QStringList &addresses, QStringList &ipv6Addresses)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            const QHostAddress ip = entry.ip();
            if (ip.protocol() == QAbstractSocket::IPv4Protocol)
                AppendUnique(addresses, ip.toString());
            else if (ip.protocol() == QAbstractSocket::IPv6Protocol)
                AppendUnique(ipv6Addresses, Ipv6AddressText(ip, iface.name()));
        }
    }
}

}  // namespace

HostEntry ResolveHostEntry(const QString &hostName)
{
    HostEntry entry;
    entry.name = hostName;
    AppendResolverAddresses(hostName, entry.addresses);
    AppendInterfaceAddresses(entry.addresses, entry.ipv6Addresses);
    return entry;
}

QString Ipv6AddressText(const QHostAddress &address, const QString &interfaceName)
{
    QHostAddress plain = address;
    plain.setScopeId(QString());
    const QString text = plain.toString();
    return address.isLinkLocal() ? text + QLatin1Char('%') + interfaceName : text;
}
