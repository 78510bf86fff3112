#include "tcpserver/accept_worker.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "app/globals.h"

AcceptWorker::AcceptWorker(int listenSocket, std::function<void()> onQueued)
    : m_listenSocket(listenSocket)
    , m_onQueued(std::move(onQueued))
{
}

AcceptWorker::~AcceptWorker()
{
    Stop();
}

void AcceptWorker::Start()
{
    g_bAcceptRunning = 1;
    m_thread = std::thread(AcceptThreadProc, this);
}

void AcceptWorker::Stop()
{
    g_bAcceptRunning = 0;
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<AcceptWorker::AcceptedClient> AcceptWorker::TakeAccepted()
{
    std::lock_guard lock(m_queueMutex);
    return std::exchange(m_queue, {});
}

void AcceptWorker::Queue(AcceptedClient client)
{
    bool wasEmpty = false;
    {
        std::lock_guard lock(m_queueMutex);
        wasEmpty = m_queue.empty();
        m_queue.push_back(std::move(client));
    }
    // One wake-up per batch: the GUI thread takes everything queued so far.
    if (wasEmpty)
        m_onQueued();
}

void AcceptWorker::AcceptThreadProc(AcceptWorker *worker)
{
    int nextId = 1000;
    pollfd waiting{worker->m_listenSocket, POLLIN, 0};
    while (g_bAcceptRunning) {
        const int ready = ::poll(&waiting, 1, 100);
        if (ready < 0 && errno != EINTR)
            ::usleep(100 * 1000);
        if (ready <= 0)
            continue;
        sockaddr_in peer{};
        socklen_t length = sizeof peer;
        const int socket = ::accept4(worker->m_listenSocket, reinterpret_cast<sockaddr *>(&peer), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0) {
            // Out of descriptors or a similar lasting failure: do not spin on it.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                ::usleep(100 * 1000);
            continue;
        }
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
        const QByteArray peerText = QByteArray(address) + ':' + QByteArray::number(ntohs(peer.sin_port));
        worker->Queue({socket, peerText, nextId++});
    }
}
