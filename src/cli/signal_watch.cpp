#include "cli/signal_watch.h"

#include <QSocketNotifier>

#include <csignal>

#include <sys/signalfd.h>
#include <unistd.h>

SignalWatch::SignalWatch(QObject *parent)
    : QObject(parent)
{
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
    m_fd = ::signalfd(-1, &blocked, SFD_NONBLOCK | SFD_CLOEXEC);
    if (m_fd < 0)
        return;
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &SignalWatch::OnReadable);
}

SignalWatch::~SignalWatch()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
}

void SignalWatch::OnReadable()
{
    signalfd_siginfo info{};
    while (::read(m_fd, &info, sizeof info) == ssize_t(sizeof info))
        emit Received(int(info.ssi_signo));
}
