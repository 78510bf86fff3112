#include "platform/socket_events.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <sys/socket.h>

bool DataWaiting(int socket)
{
    int waiting = 0;
    return ::ioctl(socket, FIONREAD, &waiting) == 0 && waiting > 0;
}

SocketEventRegistry::SocketEventRegistry(QObject *parent)
    : QObject(parent)
{
}

SocketEventRegistry::~SocketEventRegistry() = default;

void SocketEventRegistry::Register(int socket, int events)
{
    Registration &registration = m_notifiers[socket];
    registration.events = events;
    registration.notifier = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
    connect(registration.notifier.get(), &QSocketNotifier::activated, this, &SocketEventRegistry::OnActivated);
}

void SocketEventRegistry::Unregister(int socket)
{
    const auto found = m_notifiers.find(socket);
    if (found == m_notifiers.end())
        return;
    // The notifier may be the one whose signal is being delivered right now.
    found->second.notifier->setEnabled(false);
    found->second.notifier.release()->deleteLater();
    m_notifiers.erase(found);
}

bool SocketEventRegistry::IsRegistered(int socket) const
{
    return m_notifiers.count(socket) != 0;
}

void SocketEventRegistry::SetReadPaused(int socket, bool paused)
{
    const auto found = m_notifiers.find(socket);
    if (found == m_notifiers.end())
        return;
    Registration &registration = found->second;
    registration.paused = paused;
    registration.notifier->setEnabled(!paused && !registration.closeSaid);
}

void SocketEventRegistry::OnActivated(QSocketDescriptor descriptor)
{
    const int socket = static_cast<int>(descriptor);
    const auto found = m_notifiers.find(socket);
    if (found == m_notifiers.end())
        return;
    const int events = found->second.events;
    if (!(events & FD_CLOSE)) {
        if (events & FD_READ)
            emit SocketEvent(socket, FD_READ);
        return;
    }
    char byte = 0;
    const ssize_t peeked = ::recv(socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (peeked > 0) {
        if (events & FD_READ)
            emit SocketEvent(socket, FD_READ);
        return;
    }
    if (peeked < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return;
    // Closed or reset: said once, then the socket stays quiet until it is unregistered.
    found->second.closeSaid = true;
    found->second.notifier->setEnabled(false);
    emit SocketEvent(socket, FD_CLOSE);
}
