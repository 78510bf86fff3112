#pragma once

// What the page benchmarks share beyond the tests' support (the box answerer, the loopback
// sockets, the waits, the process's counts): client threads that stream or blast at a page,
// the kernel's network counters, ping-pong figures, the sections of a benchmark's main(), and
// a page driven through its controls with the descriptors checked from Listen to Stop.

#include <QApplication>
#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include <netinet/in.h>

#include "pages/dialog_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "platform/host_addresses.h"
#include "support/box_answerer.h"
#include "support/event_wait.h"
#include "support/loopback_sockets.h"
#include "support/process_counts.h"
#include "widgets/display_list/line_list_box.h"

namespace BenchSupport {

using Clock = std::chrono::steady_clock;

constexpr int kBlockSize = 256;

inline double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

// The question every traffic page asks as it starts listening or connecting.
inline const QString kLogQuestion = QStringLiteral("是否需要系统记录收发数据？");

// Sets boxes to answer as the benchmarks' user: the traffic log question with No (a section
// may answer it Yes), any other box with its default button.
void AnswerAsUser(BoxAnswerer &boxes);

// One table of the kernel's network counters by name: the line pair of /proc/net/snmp or
// /proc/net/netstat that starts with prefix ("Udp:", "TcpExt:"); empty when it is not there.
std::map<QByteArray, long> NetCounters(const QString &file, const QByteArray &prefix);

// Waits in a client thread for the GUI thread's word, at most the given time.
bool WaitFor(const std::atomic<bool> &flag, int milliseconds);

// Sends 256-byte blocks of printable text on a connected socket; when resetAfter >= 0,
// resets the connection after that many blocks. stop, or a send blocked for 10 s, ends the
// stream early.
void SendBlocks(int socket, long blocks, long resetAfter, const std::atomic<bool> &stop, std::atomic<long> &sentBytes);
// The same from a client that connects to the port and waits for go first.
void StreamBlocks(int port, long blocks, long resetAfter, const std::atomic<bool> &go, const std::atomic<bool> &stop,
                  std::atomic<long> &sentBytes, std::atomic<bool> &finished);

// Sends size-byte datagrams of printable text, each numbered, on a connected socket as fast
// as it can until the time is up or stop.
void BlastDatagrams(int socket, int size, Clock::duration length, const std::atomic<bool> &stop,
                    std::atomic<long> &sent);
// Runs the event loop until the sender finished and rx() stopped growing 300 ms ago (what
// waited in the kernel is drained by then), at most the given time. Returns the nanoseconds
// from the call to rx's last growth: the time the page took to handle all it got.
qint64 RunUntilDrained(const std::function<qint64()> &rx, const std::atomic<bool> &finished, int milliseconds);

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

// One client thread streaming blocks to the page (StreamBlocks), with the flags the bench and
// the thread talk through. The thread is joined before the flags go.
struct BlockStream
{
    std::atomic<bool> go = false;
    std::atomic<bool> stop = false;
    std::atomic<bool> finished = false;
    std::atomic<long> sent = 0;
    ClientThread client;

    void Start(int port, long blocks, long resetAfter = -1)
    {
        client.thread = std::thread(StreamBlocks, port, blocks, resetAfter, std::cref(go), std::cref(stop),
                                    std::ref(sent), std::ref(finished));
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

// ---- ping-pong: one message out, its echo back, then the next ----

struct PingPongResult
{
    long done = 0;
    long resent = 0;
    bool echoesExact = true;
    const char *end = "done";
    double firstSeconds = 0;    // the first window of round trips
    double lateSeconds = 0;     // the last window
    double slowestSeconds = 0;  // the slowest of the windows one after the other
    double totalSeconds = 0;
};

// The number of a message in its first 11 bytes: ten digits and a space.
void StampNumber(char *message, long number);

// Runs the round trips one after the other, each by roundTrip(n), which returns false (with
// the reason in result.end) when it failed; times the first window, the last, the slowest
// and all of them. At most 60 s.
void TimeRoundTrips(long trips, long window, PingPongResult &result, const std::function<bool(long)> &roundTrip);

// Prints the ping-pong through the page against its targets (at least 20,000 round trips/s,
// the last window within 20 % of the first), then the limit's figures. checked is what the
// section found itself; the notes go in the brackets after how each run ended.
void ReportPingPong(const PingPongResult &page, const PingPongResult &limit, long trips, long window, bool checked,
                    const QString &pageNotes = {}, const QString &limitNotes = {});

const char *Verdict(bool ok);
double Percentile(std::vector<double> values, double fraction);

// The offscreen platform says this for every box shown; it is no finding.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext &context, const QString &message);

// What a page benchmark's main() sets up before its sections: the descriptor limit raised to
// the hard limit, the offscreen platform unless one is named, the offscreen notes quieted,
// 127.0.0.1 as the host's only address, a system log list kept as the log page keeps it
// (not shown, as on the log tab while a server page is) and a fixed date and time.
class BenchProcess
{
public:
    BenchProcess(int &argc, char **argv);
    ~BenchProcess();

    void ReportDescriptorLimit() const;
    // The time since the process was set up.
    void ReportWallTime() const;

private:
    long m_descriptorLimit;
    QElapsedTimer m_wall;
    std::unique_ptr<QApplication> m_application;
    HostEntry m_host;
    std::unique_ptr<LineListBox> m_systemLog;
};

// The section argv[1] names ("all" when none) and the size argv[2] asks for.
struct SectionChoice
{
    QByteArray section;
    long size = 0;  // 0: each section's default, always so with all

    bool Runs(const char *name) const { return section == "all" || section == name; }
    long Sized(long fallback, long low, long high) const { return size > 0 ? std::clamp(size, low, high) : fallback; }
};

// Nothing, after printing the usage line, when argv[1] names none of sections nor "all".
std::optional<SectionChoice> ChooseSection(int argc, char **argv, const char *program,
                                           const QList<QByteArray> &sections);

// A page benchmark's main(): the process set up, the section chosen (2 after the usage line
// when argv[1] names none), the descriptor limit reported, the boxes answered while
// run(choice, boxes) runs the sections, the wall time reported. Returns what run returns.
int RunSections(int &argc, char **argv, const char *program, const QList<QByteArray> &sections,
                const std::function<int(const SectionChoice &, BoxAnswerer &)> &run);

// A page, shown, driven by its controls. Every section counts the descriptors before the page
// opens its socket and after it closed it; the counts are kept for the summary. before and
// after name those moments in the report ("before Listen", "after Stop").
class DrivenPageBench
{
public:
    DrivenPageBench(const char *before, const char *after);
    virtual ~DrivenPageBench() = default;

    bool DescriptorsBalanced() const;
    // The counts of every section and whether they are all balanced.
    void ReportDescriptors() const;

protected:
    template <typename Control>
    Control *Item(int id) const
    {
        return qobject_cast<Control *>(m_dialog->GetDlgItem(id));
    }
    // Runs the page's OnInitDialog and shows it; the derived bench owns the page.
    void ShowPage(CDialogPage *page);
    // Lets notifiers and boxes of the last section go, then counts.
    int CountBefore();
    // The same once the section's sockets are closed; keeps both counts under m_section.
    int CountAfter();

    QByteArray m_section;

private:
    const char *m_before;
    const char *m_after;
    QPointer<CDialogPage> m_dialog;
    int m_descriptorsBefore = 0;
    struct Balance
    {
        QByteArray section;
        int before;
        int after;
    };
    std::vector<Balance> m_balances;
};

// A server page: every section listens once and stops once.
class ListeningPageBench : public DrivenPageBench
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
        int autoReply;
        int replyData;
        int replyEcho;
    };

    explicit ListeningPageBench(Controls controls);

protected:
    virtual bool PageListening() const = 0;
    bool Listen();
    // afterClick runs right after Stop was clicked, before the descriptors are counted.
    void Stop(const std::function<void()> &afterClick = {});
    // Empties the display list, the counters and the system log.
    void ClearLists();
    // Ticks 自动回复 and picks 透明回复: every block goes back to its sender.
    bool EchoReply();
    // Picks 数据回复.
    void DataReply();
    void AutoReplyOff();
    // Names the section, empties the lists and listens; false, after printing label and
    // FAIL, when Listen is refused.
    bool BeginSection(const QByteArray &section, const char *label);

    int m_port = 0;

private:
    Controls m_controls;
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

}  // namespace BenchSupport
