#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <memory>

class QSocketNotifier;

// Tells when an interface comes up or goes down (or away), and when one gets an address,
// from the kernel's routing messages (rtnetlink) on the GUI thread. "Up" is up and running:
// a cable pulled and plugged in again counts as down and up.
class LinkWatch : public QObject
{
    Q_OBJECT

public:
    explicit LinkWatch(QObject *parent = nullptr);
    ~LinkWatch() override;

    // False when the system refused the routing socket: no signal ever comes then.
    bool IsWatching() const { return m_socket >= 0; }

signals:
    void LinkUp(int index, const QString &name);
    void LinkDown(int index, const QString &name);
    void AddressAdded(int index);

private:
    void OnReadable();
    void OnLink(int index, const QString &name, bool up);
    // After the kernel dropped messages (a full buffer): the links as they are now.
    void Resync();

    int m_socket = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<int, bool> m_up;  // by index
    QHash<int, QString> m_names;
};
