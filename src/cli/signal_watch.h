#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGINT and SIGTERM as an event of the event loop (signalfd): the program ends cleanly
// instead of dying with its files half written. Construct it before any thread starts, so
// that every thread has the signals blocked.
class SignalWatch : public QObject
{
    Q_OBJECT

public:
    explicit SignalWatch(QObject *parent = nullptr);
    ~SignalWatch() override;

signals:
    void Received(int signal);

private:
    void OnReadable();

    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
