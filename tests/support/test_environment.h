#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QString>
#include <QTemporaryDir>
#include <QThread>

// Each test runs in a fresh temporary directory made the current one.
class ScopedTemporaryCurrentDir
{
public:
    ScopedTemporaryCurrentDir();
    ~ScopedTemporaryCurrentDir();

    QString Path() const { return m_dir.path(); }
    QString FilePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray ReadFileBytes(const QString &path);
void WriteFileBytes(const QString &path, const QByteArray &bytes);

// Back to the state the process starts in: no log file, empty date-time, counters at 0.
void ResetProcessGlobals();

// Sockets this process holds, the page's and the test's own alike.
int OpenSockets();

struct sockaddr_in;

// 127.0.0.1 and a port, ready for bind, connect or sendto.
sockaddr_in LoopbackAddress(quint16 port);
// Binds the socket to a free port on 127.0.0.1 and returns the port.
quint16 BindToFreeLoopbackPort(int socket);
// A port on 127.0.0.1 that nothing uses at the moment (TCP or UDP).
quint16 FreePort(bool datagram = false);

// How long a test waits for something that must happen: a guard against a hang, never a
// speed. It returns as soon as the thing happens, so a slow or loaded machine only waits longer.
constexpr int kPatienceMs = 20000;

// Handles events until done() holds or the time is up; quicker than qWaitFor's 10 ms naps.
template <typename Predicate>
bool WaitUntil(Predicate done, int timeoutMs = kPatienceMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents();
        QThread::usleep(200);
    }
    return true;
}
