#include "platform/link_watch.h"

#include <QNetworkInterface>
#include <QSocketNotifier>

#include <cerrno>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool IsUpAndRunning(unsigned flags)
{
    return (flags & IFF_UP) && (flags & IFF_RUNNING);
}

QString LinkName(const nlmsghdr *message, const ifinfomsg *info)
{
    int length = static_cast<int>(IFLA_PAYLOAD(message));
    for (auto *attribute = IFLA_RTA(info); RTA_OK(attribute, length); attribute = RTA_NEXT(attribute, length))
        if (attribute->rta_type == IFLA_IFNAME)
            return QString::fromLocal8Bit(static_cast<const char *>(RTA_DATA(attribute)));
    return QString::number(info->ifi_index);
}

}  // namespace

LinkWatch::LinkWatch(QObject *parent)
    : QObject(parent)
{
    m_socket = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_socket < 0)
        return;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(m_socket, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
        ::close(m_socket);
        m_socket = -1;
        return;
    }
    Resync();
    m_notifier = std::make_unique<QSocketNotifier>(m_socket, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &LinkWatch::OnReadable);
}

LinkWatch::~LinkWatch()
{
    m_notifier.reset();
    if (m_socket >= 0)
        ::close(m_socket);
}

void LinkWatch::OnReadable()
{
    alignas(nlmsghdr) char buffer[16384];
    // Bounded: what arrives meanwhile is the next notification's.
    for (int reads = 0; reads < 64; ++reads) {
        const ssize_t got = ::recv(m_socket, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0) {
            if (errno == ENOBUFS)
                Resync();
            if (errno == EINTR || errno == ENOBUFS)
                continue;
            return;
        }
        auto length = static_cast<unsigned>(got);
        for (auto *message = reinterpret_cast<nlmsghdr *>(buffer); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type == RTM_NEWLINK || message->nlmsg_type == RTM_DELLINK) {
                const auto *info = static_cast<const ifinfomsg *>(NLMSG_DATA(message));
                OnLink(info->ifi_index, LinkName(message, info),
                       message->nlmsg_type == RTM_NEWLINK && IsUpAndRunning(info->ifi_flags));
                if (message->nlmsg_type == RTM_DELLINK) {
                    m_up.remove(info->ifi_index);
                    m_names.remove(info->ifi_index);
                }
            } else if (message->nlmsg_type == RTM_NEWADDR) {
                emit AddressAdded(static_cast<int>(static_cast<const ifaddrmsg *>(NLMSG_DATA(message))->ifa_index));
            }
        }
    }
}

void LinkWatch::OnLink(int index, const QString &name, bool up)
{
    const auto known = m_up.constFind(index);
    const bool wasUp = known != m_up.constEnd() && *known;
    m_up.insert(index, up);
    m_names.insert(index, name);
    if (up && !wasUp)
        emit LinkUp(index, name);
    else if (!up && wasUp)
        emit LinkDown(index, name);
}

void LinkWatch::Resync()
{
    QHash<int, bool> seen;
    for (const QNetworkInterface &link : QNetworkInterface::allInterfaces()) {
        const auto flags = link.flags();
        OnLink(link.index(), link.name(),
               flags.testFlag(QNetworkInterface::IsUp) && flags.testFlag(QNetworkInterface::IsRunning));
        seen.insert(link.index(), true);
    }
    // Links removed while messages were lost.
    for (const int index : m_up.keys()) {
        if (!seen.contains(index)) {
            OnLink(index, m_names.value(index), false);
            m_up.remove(index);
            m_names.remove(index);
        }
    }
}
