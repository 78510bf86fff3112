#include "traffic/multicast_memberships.h"

#include <algorithm>

#include "platform/link_watch.h"
#include "platform/multicast.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"

namespace {

void LogMembership(const char *what, const QString &group, const QString &interfaceName)
{
    SystemLog::Append(g_strDateTime + QStringLiteral(" UDP") + QString::fromUtf8(what) + group + QStringLiteral("(网卡")
                      + interfaceName + QStringLiteral(")\r\n"));
}

}  // namespace

MulticastMemberships::MulticastMemberships(QObject *parent)
    : QObject(parent)
{
}

MulticastMemberships::~MulticastMemberships() = default;

void MulticastMemberships::Attach(int socket, bool canJoin)
{
    m_socket = socket;
    m_canJoin = canJoin;
    SetMulticastHops(socket, m_hops);
    SetMulticastLoopback(socket, m_loopback);
    if (!canJoin)
        return;
    if (!m_entries.isEmpty())
        WatchLinks();
    for (Entry &entry : m_entries)
        JoinEverywhere(entry);
    emit Changed();
}

void MulticastMemberships::Detach()
{
    if (m_socket < 0)
        return;
    for (Entry &entry : m_entries)
        LeaveAll(entry);
    m_links.reset();
    m_socket = -1;
    m_canJoin = false;
    emit Changed();
}

MulticastMemberships::Refusal MulticastMemberships::Join(const QString &groupText, const QString &interfaceAddress)
{
    if (!CanJoin())
        return Refusal::NotJoinable;
    const std::optional<SocketAddress> address = ParseGroupAddress(groupText);
    if (!address)
        return Refusal::NotGroup;
    if (address->IsIpv6() ? !TakesIpv6(m_socket) : !TakesIpv4(m_socket))
        return Refusal::WrongFamily;
    Entry entry{{AddressText(*address), interfaceAddress}, *address, {}, {}};
    for (const Entry &listed : m_entries)
        if (listed.group.group == entry.group.group)
            return Refusal::AlreadyListed;
    JoinEverywhere(entry);
    if (entry.joined.isEmpty())
        return Refusal::Failed;
    WatchLinks();
    m_entries.append(entry);
    emit Changed();
    return Refusal::None;
}

void MulticastMemberships::Leave(int row)
{
    if (row < 0 || row >= Count())
        return;
    LeaveAll(m_entries[row]);
    m_entries.removeAt(row);
    emit Changed();
}

void MulticastMemberships::SetGroups(const QList<MulticastGroup> &groups)
{
    if (m_socket >= 0)
        return;
    m_entries.clear();
    for (const MulticastGroup &group : groups) {
        const std::optional<SocketAddress> address = ParseGroupAddress(group.group);
        if (address && !std::any_of(m_entries.cbegin(), m_entries.cend(), [&](const Entry &listed) {
                return listed.group.group == group.group;
            }))
            m_entries.append({group, *address, {}, {}});
    }
    emit Changed();
}

QList<MulticastGroup> MulticastMemberships::Groups() const
{
    QList<MulticastGroup> groups;
    for (const Entry &entry : m_entries)
        groups.append(entry.group);
    return groups;
}

QStringList MulticastMemberships::JoinedOn(int row) const
{
    return row >= 0 && row < Count() ? m_entries[row].joined.values() : QStringList();
}

void MulticastMemberships::SetHops(int hops)
{
    m_hops = hops;
    if (m_socket >= 0)
        SetMulticastHops(m_socket, hops);
    emit Changed();
}

void MulticastMemberships::SetLoopback(bool on)
{
    m_loopback = on;
    if (m_socket >= 0)
        SetMulticastLoopback(m_socket, on);
    emit Changed();
}

void MulticastMemberships::WatchLinks()
{
    if (m_links)
        return;
    m_links = std::make_unique<LinkWatch>();
    connect(m_links.get(), &LinkWatch::LinkUp, this, &MulticastMemberships::OnLinkUp);
    connect(m_links.get(), &LinkWatch::LinkDown, this, &MulticastMemberships::OnLinkDown);
    connect(m_links.get(), &LinkWatch::AddressAdded, this, &MulticastMemberships::OnAddressAdded);
}

QList<int> MulticastMemberships::WantedInterfaces(const Entry &entry) const
{
    const QList<NetworkLink> links = MulticastLinks();
    QList<int> wanted;
    const int own = entry.group.interfaceAddress.isEmpty() ? 0 : InterfaceIndexOfAddress(entry.group.interfaceAddress);
    for (const NetworkLink &link : links)
        if (entry.group.interfaceAddress.isEmpty() || link.index == own)
            wanted.append(link.index);
    return wanted;
}

void MulticastMemberships::JoinEverywhere(Entry &entry)
{
    for (const int index : WantedInterfaces(entry))
        JoinOn(entry, index, InterfaceName(index));
}

bool MulticastMemberships::JoinOn(Entry &entry, int index, const QString &name)
{
    const bool again = entry.lapsed.contains(name);
    if (again)
        LeaveGroup(m_socket, entry.address, index);  // a membership the system may still hold
    const int error = JoinGroup(m_socket, entry.address, index);
    if (error != 0) {
        SystemLog::Append(g_strDateTime + QStringLiteral(" UDP加入组播组") + entry.group.group
                          + QStringLiteral("失败(网卡") + name + QStringLiteral(" 错误码") + QString::number(error)
                          + QStringLiteral(")\r\n"));
        return false;
    }
    entry.lapsed.remove(name);
    entry.joined.insert(index, name);
    LogMembership(again ? "重新加入组播组" : "加入组播组", entry.group.group, name);
    return true;
}

void MulticastMemberships::LeaveAll(Entry &entry)
{
    for (auto joined = entry.joined.cbegin(); joined != entry.joined.cend(); ++joined) {
        LeaveGroup(m_socket, entry.address, joined.key());
        LogMembership("退出组播组", entry.group.group, joined.value());
    }
    entry.joined.clear();
    entry.lapsed.clear();
}

void MulticastMemberships::OnLinkUp(int index, const QString &name)
{
    bool changed = false;
    for (Entry &entry : m_entries)
        if (!entry.joined.contains(index) && WantedInterfaces(entry).contains(index))
            changed = JoinOn(entry, index, name) || changed;
    if (changed)
        emit Changed();
}

void MulticastMemberships::OnLinkDown(int index, const QString &name)
{
    bool changed = false;
    for (Entry &entry : m_entries) {
        if (!entry.joined.contains(index))
            continue;
        entry.joined.remove(index);
        entry.lapsed.insert(name);
        changed = true;
        SystemLog::Append(g_strDateTime + QStringLiteral(" UDP网卡") + name + QStringLiteral("断开, 组播组")
                          + entry.group.group + QStringLiteral("待其恢复后重新加入\r\n"));
    }
    if (changed)
        emit Changed();
}

void MulticastMemberships::OnAddressAdded(int index)
{
    // A group joined through an address: the address may have just come (back) to a link that is up.
    bool changed = false;
    for (Entry &entry : m_entries)
        if (!entry.group.interfaceAddress.isEmpty() && entry.joined.isEmpty()
            && WantedInterfaces(entry).contains(index))
            changed = JoinOn(entry, index, InterfaceName(index)) || changed;
    if (changed)
        emit Changed();
}
