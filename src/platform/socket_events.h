#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <unordered_map>

// True while received bytes wait on a stream socket, so a reader can go on without waiting
// for the next event.
bool DataWaiting(int socket);

// Socket events as the pages know them.
inline constexpr int FD_READ = 0x01;
inline constexpr int FD_CLOSE = 0x20;

// Announces, on the GUI thread, FD_READ for a registered socket while data waits on it and
// FD_CLOSE once when its peer has closed or reset the connection (a peeking read returns 0
// or fails). A socket registered for FD_READ alone (datagrams) only ever gets FD_READ.
class SocketEventRegistry : public QObject
{
    Q_OBJECT

public:
    explicit SocketEventRegistry(QObject *parent = nullptr);
    ~SocketEventRegistry() override;

    void Register(int socket, int events);
    // Stops the notifications of the socket; call it before closing the socket.
    void Unregister(int socket);
    bool IsRegistered(int socket) const;
    // While paused, a socket's data waits in the kernel (TCP then slows its peer down) and
    // no event is said for it; resuming says what happened meanwhile.
    void SetReadPaused(int socket, bool paused);
    int Count() const { return static_cast<int>(m_notifiers.size()); }

signals:
    void SocketEvent(int socket, int event);

private:
    struct Registration
    {
        std::unique_ptr<QSocketNotifier> notifier;
        int events = 0;
        bool paused = false;
        bool closeSaid = false;
    };

    void OnActivated(QSocketDescriptor socket);

    std::unordered_map<int, Registration> m_notifiers;
};
