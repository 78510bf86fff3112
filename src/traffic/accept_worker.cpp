#include "traffic/accept_worker.h"

#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/socket_address.h"

std::atomic<int> g_bAcceptRunning = 0;

namespace {

constexpr int kIdleWaitMs = 100;

long DescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 1L << 20;
    return static_cast<long>(limit.rlim_cur);
}

// Descriptors the process holds now (only counted while paused: it reads a directory).
long OpenDescriptors()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    long count = 0;
    while (const dirent *entry = ::readdir(dir))
        count += entry->d_name[0] != '.';
    ::closedir(dir);
    return count - 1;  // the directory's own
}

}  // namespace

AcceptWorker::AcceptWorker(int listenSocket, std::function<void()> onQueued, std::function<void(bool)> onPaused)
    : m_listenSocket(listenSocket)
    , m_onQueued(std::move(onQueued))
    , m_onPaused(std::move(onPaused))
{
}

AcceptWorker::~AcceptWorker()
{
    Stop();
}

void AcceptWorker::Start()
{
    g_bAcceptRunning = 1;
    m_descriptorLimit = DescriptorLimit();
    m_thread = std::thread(AcceptThreadProc, this);
}

void AcceptWorker::Stop()
{
    g_bAcceptRunning = 0;
    m_taken.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<AcceptWorker::AcceptedClient> AcceptWorker::TakeAccepted()
{
    std::vector<AcceptedClient> taken;
    {
        std::lock_guard lock(m_queueMutex);
        taken = std::exchange(m_queue, {});
    }
    m_taken.notify_all();
    return taken;
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

bool AcceptWorker::WaitForRoom()
{
    std::unique_lock lock(m_queueMutex);
    while (m_queue.size() >= static_cast<size_t>(kMaxWaiting)) {
        if (!g_bAcceptRunning)
            return false;
        m_taken.wait_for(lock, std::chrono::milliseconds(kIdleWaitMs));
    }
    return g_bAcceptRunning != 0;
}

bool AcceptWorker::DescriptorsFreeAgain() const
{
    const long open = OpenDescriptors();
    return open >= 0 && open <= m_descriptorLimit - kDescriptorReserve - kResumeMargin;
}

void AcceptWorker::AcceptThreadProc(AcceptWorker *worker)
{
    int nextId = 1000;
    bool paused = false;
    pollfd waiting{worker->m_listenSocket, POLLIN, 0};
    while (g_bAcceptRunning) {
        if (paused) {
            if (!worker->DescriptorsFreeAgain()) {
                ::usleep(kIdleWaitMs * 1000);
                continue;
            }
            paused = false;
            if (worker->m_onPaused)
                worker->m_onPaused(false);
        }
        if (!worker->WaitForRoom())
            break;
        const int ready = ::poll(&waiting, 1, kIdleWaitMs);
        if (ready < 0 && errno != EINTR)
            ::usleep(kIdleWaitMs * 1000);
        if (ready <= 0)
            continue;
        SocketAddress peer;
        socklen_t length = SocketAddress::Capacity();
        const int socket = ::accept4(worker->m_listenSocket, peer.Data(), &length,
                                     SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket < 0) {
            // Out of descriptors or a similar lasting failure: do not spin on it.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                ::usleep(kIdleWaitMs * 1000);
            continue;
        }
        worker->Queue({socket, PeerText(peer), nextId++});
        // A new descriptor is always the lowest free one: this high, every one below is in
        // use and only the reserve is left.
        if (socket >= worker->m_descriptorLimit - kDescriptorReserve) {
            paused = true;
            if (worker->m_onPaused)
                worker->m_onPaused(true);
        }
    }
}
