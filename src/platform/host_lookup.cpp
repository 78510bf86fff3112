#include "platform/host_lookup.h"

#include <QHostInfo>
#include <QTimer>

#include <utility>

namespace {

HostLookupHook &Hook()
{
    static HostLookupHook hook;
    return hook;
}

QList<SocketAddress> AddressesOf(const QHostInfo &info)
{
    QList<SocketAddress> addresses;
    if (info.error() != QHostInfo::NoError)
        return addresses;
    for (const QHostAddress &address : info.addresses()) {
        // The text keeps a link-local address's scope, which the literal's parser turns into its index.
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            addresses.append(SocketAddress(Ipv4Endpoint(address.toString(), 0)));
        else if (const auto v6 = ParseIpv6Literal(address.toString(), 0))
            addresses.append(*v6);
    }
    return addresses;
}

}  // namespace

void SetHostLookupHook(HostLookupHook hook)
{
    Hook() = std::move(hook);
}

HostLookup::HostLookup(QObject *parent)
    : QObject(parent)
{
}

HostLookup::~HostLookup()
{
    Cancel();
}

void HostLookup::Start(const QString &name, Done done)
{
    Cancel();
    m_done = std::move(done);
    auto *pending = new QObject(this);
    m_pending = pending;
    if (Hook()) {
        if (std::optional<HostAnswer> answer = Hook()(name)) {
            QTimer::singleShot(answer->delayMs, pending,
                               [this, pending, addresses = answer->addresses] { Answer(pending, addresses); });
            return;
        }
    }
    m_resolverId = QHostInfo::lookupHost(
        name, pending, [this, pending](const QHostInfo &info) { Answer(pending, AddressesOf(info)); });
}

void HostLookup::Cancel()
{
    if (m_resolverId >= 0)
        QHostInfo::abortHostLookup(m_resolverId);
    m_resolverId = -1;
    delete m_pending;  // takes a queued answer with it
    m_pending = nullptr;
    m_done = nullptr;
}

void HostLookup::Answer(QObject *pending, const QList<SocketAddress> &addresses)
{
    if (pending != m_pending)
        return;
    m_pending->deleteLater();  // it may be the context of the call running now
    m_pending = nullptr;
    m_resolverId = -1;
    // done may start the next lookup or end this object's owner.
    Done done = std::exchange(m_done, nullptr);
    done(addresses);
}
