#pragma once

#include <QByteArray>

#include <functional>
#include <thread>

// The TCP server's worker thread: it only accepts. Each accepted socket, with its peer text
// and id (from 1000 in each listening period), goes to the handler, which must hand it on to
// the GUI thread without waiting for it. While idle the worker waits on the listening socket
// for at most 100 ms, then looks at g_bAcceptRunning again.
class AcceptWorker
{
public:
    using AcceptedHandler = std::function<void(int socket, const QByteArray &peerText, int id)>;

    AcceptWorker(int listenSocket, AcceptedHandler onAccepted);
    ~AcceptWorker();

    void Start();
    // Clears the run flag and waits for the thread (at most one idle wait, 100 ms).
    void Stop();

private:
    static void AcceptThreadProc(AcceptWorker *worker);

    int m_listenSocket;
    AcceptedHandler m_onAccepted;
    std::thread m_thread;
};
