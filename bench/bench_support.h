#pragma once

// What the TCP server page benchmarks share: answering the page's boxes, loopback clients,
// running the event loop for a bounded time, counting descriptors and memory, and a page
// driven through its controls with the descriptors checked from Listen to Stop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "common/line_list_box.h"
#include "tcpserver/tcp_server_page.h"

namespace BenchSupport {

constexpr int kBlockSize = 256;

// Answers the page's boxes as a user would: the traffic log question with the chosen
// answer, any other box with its default button. The first other box can be held open for
// a while; every tick counts the boxes open at once.
class BoxClicker : public QObject
{
public:
    BoxClicker();

    void SetLogAnswer(QMessageBox::StandardButton answer) { m_logAnswer = answer; }
    void HoldFirstBox(int milliseconds);
    int OtherBoxes() const { return m_otherBoxes; }
    int MaxOpen() const { return m_maxOpen; }
    QString LastText() const { return m_lastText; }

private:
    void Poll();

    QTimer m_poll;
    QMessageBox::StandardButton m_logAnswer = QMessageBox::No;
    QList<QPointer<QMessageBox>> m_seen;
    int m_holdMs = 0;
    QPointer<QMessageBox> m_held;
    QElapsedTimer m_holdTimer;
    bool m_holdDone = false;
    int m_otherBoxes = 0;
    int m_maxOpen = 0;
    QString m_lastText;
};

int CountDescriptors();
// Resident set size of this process in bytes.
long ResidentBytes();
int FreePort();
// A client socket whose connect to the port has been started (non-blocking) or completed.
int ConnectClient(int port, bool blocking);
void ResetOnClose(int socket);

// Runs the GUI thread's event loop until done() holds or the time is up.
bool RunUntil(const std::function<bool()> &done, int milliseconds);
// Waits in a client thread for the GUI thread's word, at most the given time.
bool WaitFor(const std::atomic<bool> &flag, int milliseconds);

// Streams 256-byte blocks of printable text; when resetAfter >= 0, resets the connection
// after that many blocks. stop, or a send blocked for 10 s, ends the stream early.
void StreamBlocks(int port, long blocks, long resetAfter, const std::atomic<bool> &go, const std::atomic<bool> &stop,
                  std::atomic<long> &sentBytes, std::atomic<bool> &finished);

// Joins its thread when the scope ends, whatever the outcome.
struct ClientThread
{
    std::thread thread;
    ~ClientThread()
    {
        if (thread.joinable())
            thread.join();
    }
};

const char *Verdict(bool ok);
double Percentile(std::vector<double> values, double fraction);

// The offscreen platform says this for every box shown; it is no finding.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message);

// The TCP server page, shown, driven by its controls. Every section listens once and stops
// once; the descriptors counted before Listen and after Stop are kept for the summary.
class PageBench
{
public:
    PageBench();
    virtual ~PageBench() = default;

    bool DescriptorsBalanced() const;

protected:
    template <typename Control>
    Control *Item(int id) const
    {
        return qobject_cast<Control *>(m_page->GetDlgItem(id));
    }
    int Listed() const { return m_page->ClientList()->GetCount(); }
    bool Listen();
    // afterClick runs right after Stop was clicked, before the descriptors are counted.
    void Stop(const std::function<void()> &afterClick = {});
    void ClearLists();

    std::unique_ptr<CTcpServerPage> m_page;
    int m_port = 0;
    QByteArray m_section;

private:
    int m_descriptorsBeforeListen = 0;
    struct Balance
    {
        QByteArray section;
        int before;
        int after;
    };
    std::vector<Balance> m_balances;
};

} // namespace BenchSupport
