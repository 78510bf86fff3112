#pragma once

#include <QByteArray>

#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// The TCP server's worker thread: it only accepts. Each accepted socket, with its peer text
// and id (from 1000 in each listening period), is queued for the GUI thread, which takes it
// with TakeAccepted; onQueued tells it (on the worker, without waiting) that the queue is no
// longer empty. Sockets never taken are the owner's to close after Stop. While idle the worker
// waits on the listening socket for at most 100 ms, then looks at g_bAcceptRunning again.
class AcceptWorker
{
public:
    struct AcceptedClient
    {
        int socket;
        QByteArray peerText;
        int id;
    };

    AcceptWorker(int listenSocket, std::function<void()> onQueued);
    ~AcceptWorker();

    void Start();
    // Clears the run flag and waits for the thread (at most one idle wait, 100 ms).
    void Stop();
    std::vector<AcceptedClient> TakeAccepted();

private:
    static void AcceptThreadProc(AcceptWorker *worker);
    void Queue(AcceptedClient client);

    int m_listenSocket;
    std::function<void()> m_onQueued;
    std::mutex m_queueMutex;
    std::vector<AcceptedClient> m_queue;
    std::thread m_thread;
};
