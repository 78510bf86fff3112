#pragma once

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <memory>

#include "platform/socket_address.h"

class LinkWatch;

// A group as the user listed it: its address as the system writes it ("239.1.1.1",
// "ff15::99") and the host address whose interface joins it ("" for every interface that
// can: up, running, multicast).
struct MulticastGroup
{
    QString group;
    QString interfaceAddress;

    bool operator==(const MulticastGroup &other) const = default;
};

// The groups a datagram socket is a member of, and on which interfaces. The list outlives
// the socket: the next socket attached joins every group again. An interface that goes down
// (or away) and comes back is joined anew; one that appears joins the groups listed for
// every interface. Each join, leave, rejoin and failure is a line of the system log.
class MulticastMemberships : public QObject
{
    Q_OBJECT

public:
    enum class Refusal { None, NotJoinable, NotGroup, WrongFamily, AlreadyListed, Failed };

    static constexpr int kDefaultHops = 1;

    explicit MulticastMemberships(QObject *parent = nullptr);
    ~MulticastMemberships() override;

    // A listening socket: the hop limit and loopback apply to it; when it can join (bound to
    // all interfaces or to a group) every group listed joins. Detach before it closes: its
    // memberships end with it.
    void Attach(int socket, bool canJoin);
    void Detach();
    bool CanJoin() const { return m_socket >= 0 && m_canJoin; }

    // Listed and joined at once, on the interface of interfaceAddress ("" for every one).
    Refusal Join(const QString &groupText, const QString &interfaceAddress);
    void Leave(int row);
    // The list a start restores, while no socket is attached.
    void SetGroups(const QList<MulticastGroup> &groups);
    QList<MulticastGroup> Groups() const;
    int Count() const { return static_cast<int>(m_entries.size()); }
    // The names of the interfaces the group is a member on now.
    QStringList JoinedOn(int row) const;

    void SetHops(int hops);
    int Hops() const { return m_hops; }
    void SetLoopback(bool on);
    bool Loopback() const { return m_loopback; }

signals:
    // The list, an interface a group is joined on, or an option changed.
    void Changed();

private:
    struct Entry
    {
        MulticastGroup group;
        SocketAddress address;
        QMap<int, QString> joined;  // interface index to name
        QSet<QString> lapsed;       // names of interfaces that went down or away while joined
    };

    // The links watched from the first group on, until the socket goes.
    void WatchLinks();
    void JoinEverywhere(Entry &entry);
    // The interfaces the entry wants now: its address's, or every one that can.
    QList<int> WantedInterfaces(const Entry &entry) const;
    bool JoinOn(Entry &entry, int index, const QString &name);
    void LeaveAll(Entry &entry);
    void OnLinkUp(int index, const QString &name);
    void OnLinkDown(int index, const QString &name);
    void OnAddressAdded(int index);

    int m_socket = -1;
    bool m_canJoin = false;
    int m_hops = kDefaultHops;
    bool m_loopback = true;
    QList<Entry> m_entries;
    std::unique_ptr<LinkWatch> m_links;
};
