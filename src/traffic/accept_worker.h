#pragma once

#include <QByteArray>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The TCP server's worker thread: it only accepts. Each accepted socket, with its peer text
// and id (from 1000 in each listening period), is queued for the GUI thread, which takes it
// with TakeAccepted; onQueued tells it (on the worker, without waiting) that the queue is no
// longer empty. Sockets never taken are the owner's to close after Stop. While idle the worker
// waits on the listening socket for at most 100 ms, then looks at g_bAcceptRunning again.
//
// Two bounds keep a flood of connections from swamping the program. The worker never runs
// more than kMaxWaiting sockets ahead of the GUI thread: the rest wait in the kernel's
// backlog. And it stops accepting while the open descriptors come within kDescriptorReserve
// of the process's limit, so that the rest of the program can still open what it needs;
// onPaused(true) and onPaused(false) say when it stops and when it goes on.
// 1 while an accept worker runs; read by the worker every pass.
extern std::atomic<int> g_bAcceptRunning;

class AcceptWorker
{
public:
    static constexpr int kMaxWaiting = 64;
    static constexpr int kDescriptorReserve = 256;
    // It goes on once this many descriptors below the reserve are free again, so that a
    // program at the limit does not pause and resume with every client.
    static constexpr int kResumeMargin = 32;

    struct AcceptedClient
    {
        int socket;
        QByteArray peerText;
        int id;
    };

    AcceptWorker(int listenSocket, std::function<void()> onQueued, std::function<void(bool paused)> onPaused = {});
    ~AcceptWorker();

    void Start();
    // Clears the run flag and waits for the thread (at most one idle wait, 100 ms).
    void Stop();
    std::vector<AcceptedClient> TakeAccepted();

private:
    static void AcceptThreadProc(AcceptWorker *worker);
    void Queue(AcceptedClient client);
    // Waits until the GUI thread has room for another socket; false when the worker must end.
    bool WaitForRoom();
    // While paused for descriptors: true once enough are free again.
    bool DescriptorsFreeAgain() const;

    int m_listenSocket;
    std::function<void()> m_onQueued;
    std::function<void(bool)> m_onPaused;
    std::mutex m_queueMutex;
    std::condition_variable m_taken;
    std::vector<AcceptedClient> m_queue;
    std::thread m_thread;
    long m_descriptorLimit = 0;
};
