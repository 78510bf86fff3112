#pragma once

// What the server page benchmarks share: answering the page's boxes, loopback clients,
// running the event loop for a bounded time, counting descriptors and memory, the kernel's
// network counters, and a page driven through its controls with the descriptors checked
// from Listen to Stop.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <sys/resource.h>

#include "common/line_list_box.h"
#include "tcpserver/tcp_server_page.h"
#include "ui/dialog_page.h"

namespace BenchSupport {

using Clock = std::chrono::steady_clock;

constexpr int kBlockSize = 256;

inline double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

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
    // The other boxes that came while the held one was open, the held one included.
    int BoxesWhileHeld() const { return m_whileHeld; }
    bool HeldBoxClosed() const { return m_holdDone; }
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
    int m_whileHeld = 0;
    int m_maxOpen = 0;
    QString m_lastText;
};

int CountDescriptors();
// Every client of a benchmark lives in its process beside the page's own sockets.
rlim_t RaiseDescriptorLimitToHard();
// Resident set size of this process in bytes.
long ResidentBytes();
int FreePort();
// A client socket whose connect to the port has been started (non-blocking) or completed.
int ConnectClient(int port, bool blocking);
void ResetOnClose(int socket);
void SetTimeouts(int socket, int milliseconds);
// One table of the kernel's network counters by name: the line pair of /proc/net/snmp or
// /proc/net/netstat that starts with prefix ("Udp:", "TcpExt:"); empty when it is not there.
std::map<QByteArray, long> NetCounters(const QString &file, const QByteArray &prefix);

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

// A timer on this thread that keeps how late it fired at worst: what the window's own
// timers and repaints suffer meanwhile.
class TimerLateness
{
public:
    explicit TimerLateness(int intervalMs = 10);
    void Start();
    void Stop() { m_timer.stop(); }
    double WorstMs() const { return m_worstNs / 1e6; }
    const QTimer &Timer() const { return m_timer; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    int m_intervalMs;
    qint64 m_lastTickNs = 0;
    qint64 m_worstNs = 0;
};

const char *Verdict(bool ok);
double Percentile(std::vector<double> values, double fraction);

// The offscreen platform says this for every box shown; it is no finding.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message);

// A server page, shown, driven by its controls. Every section listens once and stops once;
// the descriptors counted before Listen and after Stop are kept for the summary.
class ListeningPageBench
{
public:
    // The dialog ids of the controls every server page has.
    struct Controls
    {
        int port;
        int listen;
        int stop;
        int clearData;
        int clearCounters;
    };

    explicit ListeningPageBench(Controls controls);
    virtual ~ListeningPageBench() = default;

    bool DescriptorsBalanced() const;

protected:
    template <typename Control>
    Control *Item(int id) const
    {
        return qobject_cast<Control *>(m_dialog->GetDlgItem(id));
    }
    // Runs the page's OnInitDialog and shows it; the derived bench owns the page.
    void ShowPage(CDialogPage *page);
    virtual bool PageListening() const = 0;
    bool Listen();
    // afterClick runs right after Stop was clicked, before the descriptors are counted.
    void Stop(const std::function<void()> &afterClick = {});
    // Empties the display list, the counters and the system log.
    void ClearLists();

    int m_port = 0;
    QByteArray m_section;

private:
    Controls m_controls;
    QPointer<CDialogPage> m_dialog;
    int m_descriptorsBeforeListen = 0;
    struct Balance
    {
        QByteArray section;
        int before;
        int after;
    };
    std::vector<Balance> m_balances;
};

// The TCP server page.
class PageBench : public ListeningPageBench
{
public:
    PageBench();

protected:
    int Listed() const { return m_page->ClientList()->GetCount(); }
    bool PageListening() const override { return m_page->IsListening(); }

    std::unique_ptr<CTcpServerPage> m_page;
};

} // namespace BenchSupport
