#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "platform/socket_address.h"

// Looks a host name up without blocking the window: the system's resolver runs on its own
// thread and the answer comes back on the thread that started the lookup.
class HostLookup : public QObject
{
    Q_OBJECT

public:
    // The name's addresses in the resolver's order, port 0; empty when the name does not resolve.
    using Done = std::function<void(const QList<SocketAddress> &addresses)>;

    explicit HostLookup(QObject *parent = nullptr);
    ~HostLookup() override;

    // done runs once, later (never within Start), unless Cancel, another Start or the end of
    // this object comes first.
    void Start(const QString &name, Done done);
    void Cancel();
    bool IsRunning() const { return m_pending != nullptr; }

private:
    void Answer(QObject *pending, const QList<SocketAddress> &addresses);

    QObject *m_pending = nullptr;  // the running lookup's context: without it no answer arrives
    int m_resolverId = -1;
    Done m_done;
};

// What a stand-in resolver answers for a name: its addresses (none: it does not resolve),
// after a delay.
struct HostAnswer
{
    QList<SocketAddress> addresses;
    int delayMs = 0;
};
// Answers names in place of the system's resolver, process-wide, for tests; nothing from the
// hook leaves the name to the system. An empty hook removes it.
using HostLookupHook = std::function<std::optional<HostAnswer>(const QString &name)>;
void SetHostLookupHook(HostLookupHook hook);
