#include "platform/host_addresses.h"

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

void AppendInterfaceAddresses(QStringList &addresses)
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &iface : interfaces) {
        if (!(iface.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry &entry : iface.addressEntries()) {
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol)
                AppendUnique(addresses, entry.ip().toString());
        }
    }
}

}  // namespace

HostEntry ResolveHostEntry(const QString &hostName)
{
    HostEntry entry;
    entry.name = hostName;
    AppendResolverAddresses(hostName, entry.addresses);
    AppendInterfaceAddresses(entry.addresses);
    return entry;
}
