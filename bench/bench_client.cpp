// The TCP/UDP client page against servers this program runs on 127.0.0.1: a TCP server that
// streams 256-byte blocks (tcp), a UDP server that blasts datagrams at the page once it has
// heard from it (udp), a port that never answers the handshake (drop), and Connect and
// Disconnect again and again (churn).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_client [tcp|udp|drop|churn|all] [size]
//
// size is, for tcp, the 256-byte blocks streamed (default 1,000,000); for udp, the seconds
// of blasting (default 10); for churn, the rounds of Connect and Disconnect (default 1,000);
// drop takes no size and lasts about 21 s, the page's own connect time limit. With all (the
// default) every section takes its default size. Each section prints its figures and an
// OK/FAIL verdict against its targets; every server runs in its own thread with plain
// blocking sockets and time limits, while this thread runs the page's event loop.
// Everything stays on 127.0.0.1.
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"
#include "widgets/ipv4_address_edit.h"

namespace {

using namespace BenchSupport;
using namespace std::chrono_literals;

// Items of the protocol combo; the first is empty.
constexpr int kTcp = 1;
constexpr int kUdp = 2;

constexpr int kDatagramSize = 128;  // the longest datagram the page reads
const QString kConnectFailed = QStringLiteral("无法连接服务器!");

// The one connection the listener gets, waiting at most milliseconds; -1 when none came.
int AcceptOne(int listener, int milliseconds)
{
    pollfd waiting{listener, POLLIN, 0};
    if (::poll(&waiting, 1, milliseconds) != 1)
        return -1;
    return ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
}

// What a server thread and this thread share.
struct ServerState
{
    std::atomic<bool> heard = false;  // the page's first datagram came
    std::atomic<bool> go = false;
    std::atomic<bool> stop = false;
    std::atomic<bool> finished = false;  // done sending
    std::atomic<long> sent = 0;          // bytes, or datagrams
    std::atomic<long> accepted = 0;
};

// ---- tcp ----

// Accepts the page's connection, streams the blocks once go is set, then holds the
// connection open until stop (at most 130 s): the page is the one to close it.
void StreamServer(int listener, long blocks, ServerState &state)
{
    const int peer = AcceptOne(listener, 10000);
    if (peer >= 0 && WaitFor(state.go, 10000))
        SendBlocks(peer, blocks, -1, state.stop, state.sent);
    state.finished = true;
    if (peer >= 0) {
        WaitFor(state.stop, 130000);
        ::close(peer);
    }
}

// ---- udp ----

// Learns the page's address from the first datagram to come (waiting at most 10 s), then,
// once go is set, blasts 128-byte datagrams at it until the time is up or stop. Only a page
// on 127.0.0.1 is answered.
void DatagramServer(int socket, Clock::duration length, ServerState &state)
{
    SetTimeouts(socket, 200);
    sockaddr_in page{};
    char first[256];
    for (int attempt = 0; attempt < 50 && !state.heard && !state.stop; ++attempt) {
        socklen_t size = sizeof page;
        if (::recvfrom(socket, first, sizeof first, 0, reinterpret_cast<sockaddr *>(&page), &size) >= 0)
            state.heard = page.sin_family == AF_INET && page.sin_addr.s_addr == htonl(INADDR_LOOPBACK);
    }
    if (state.heard && ::connect(socket, reinterpret_cast<const sockaddr *>(&page), sizeof page) == 0
        && WaitFor(state.go, 10000))
        BlastDatagrams(socket, kDatagramSize, length, state.stop, state.sent);
    state.finished = true;
}

// ---- drop ----

// A port whose handshakes go unanswered, as a host that drops them: a listener with no room
// in its accept queue, filled by connections nobody accepts. The kernel drops a SYN to a
// full queue, so a further connect waits for an answer that never comes.
class SilentPort
{
public:
    SilentPort()
    {
        m_listener = OpenListener(m_port, 0);
        if (m_listener < 0)
            return;
        for (int i = 0; i < 2; ++i)
            m_fillers.push_back(ConnectClient(m_port, false));
        std::this_thread::sleep_for(100ms);
        // The stand-in holds when a plain connect does not complete within 1 s.
        const int probe = ConnectClient(m_port, false);
        pollfd waiting{probe, POLLOUT, 0};
        m_works = probe >= 0 && ::poll(&waiting, 1, 1000) == 0;
        if (probe >= 0)
            ::close(probe);
    }
    ~SilentPort() { Close(); }

    bool Works() const { return m_works; }
    int Port() const { return m_port; }
    void Close()
    {
        for (int filler : m_fillers)
            if (filler >= 0)
                ::close(filler);
        m_fillers.clear();
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
    }

private:
    int m_listener = -1;
    int m_port = 0;
    std::vector<int> m_fillers;
    bool m_works = false;
};

// ---- churn ----

// Accepts every connection and holds it until the page closes it, then closes it too; stop
// or the time limit ends the watch. The page, not the server, ends each round.
void HoldConnections(int listener, Clock::duration longest, ServerState &state)
{
    std::vector<pollfd> watched{{listener, POLLIN, 0}};
    const auto start = Clock::now();
    for (long n = 0; n < 10000000 && !state.stop && Clock::now() - start < longest; ++n) {
        if (::poll(watched.data(), watched.size(), 100) <= 0)
            continue;
        for (size_t i = watched.size() - 1; i >= 1; --i) {
            if (watched[i].revents == 0)
                continue;
            char buffer[256];
            const ssize_t got = ::recv(watched[i].fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                ::close(watched[i].fd);
                watched.erase(watched.begin() + static_cast<long>(i));
            }
        }
        if (watched[0].revents & POLLIN) {
            const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (peer >= 0) {
                watched.push_back({peer, POLLIN, 0});
                ++state.accepted;
            }
        }
    }
    for (size_t i = 1; i < watched.size(); ++i)
        ::close(watched[i].fd);
}

// ---- the page ----

class ClientBench : public DrivenPageBench
{
public:
    explicit ClientBench(BoxAnswerer &boxes);

    // The ids of the controls the sections drive that the page lacks.
    QList<int> MissingControls() const;

    void Tcp(long blocks);
    void Udp(int seconds);
    void Drop();
    void Churn(int rounds);

private:
    // Names the section, leaves the page idle with its lists and counters empty, starts the
    // box tally and counts the descriptors; returns the count.
    int BeginSection(const QByteArray &section);
    // How a section that connected ended.
    struct Ending
    {
        bool idle;    // after Disconnect
        bool logged;  // the connect line and the disconnect line
        BoxAnswerer::Tally boxes;

        bool Ok() const { return idle && logged && boxes.boxes == 0; }
        QString Text() const;
    };
    // Clicks Disconnect, checks the page and its log lines, lets closeServer end the
    // section's server, then ends the box tally and counts the descriptors.
    Ending EndSection(int port, const char *protocol, const std::function<void()> &closeServer);
    // The boxes other than the traffic log question since BeginSection.
    BoxAnswerer::Tally EndBoxes() { return m_boxes.EndTally(); }
    // Fills in 127.0.0.1, the port and the protocol and clicks Connect.
    void ClickConnect(int port, int protocol);
    // ClickConnect, then waits for the page to be connected, at most milliseconds.
    bool Connect(int port, int protocol, int milliseconds);
    // Clicks Disconnect; true when the page is idle then.
    bool Disconnect();
    bool Idle() const { return !m_page->IsConnecting() && !m_page->IsConnected(); }
    // The system log line of a connection made, and of one the user ended.
    static QByteArray ConnectedLine(int port, const char *protocol);
    static QByteArray DisconnectedLine();
    // Whether one of the newest lines of the system log is line.
    static bool Logged(const QByteArray &line, int newest = 20);

    std::unique_ptr<CClientPage> m_page;
    BoxAnswerer &m_boxes;
};

ClientBench::ClientBench(BoxAnswerer &boxes)
    : DrivenPageBench("before", "after")
    , m_page(std::make_unique<CClientPage>())
    , m_boxes(boxes)
{
    ShowPage(m_page.get());
}

QList<int> ClientBench::MissingControls() const
{
    QList<int> missing;
    if (!Item<Ipv4AddressEdit>(ClientIds::kHost))
        missing << ClientIds::kHost;
    for (int id : {ClientIds::kPort, ClientIds::kSendBox})
        if (!Item<QLineEdit>(id))
            missing << id;
    if (!Item<QComboBox>(ClientIds::kProtocol))
        missing << ClientIds::kProtocol;
    if (!Item<QCheckBox>(ClientIds::kHexSend))
        missing << ClientIds::kHexSend;
    for (int id : {ClientIds::kConnect, ClientIds::kDisconnect, ClientIds::kSend, ClientIds::kClearCounters})
        if (!Item<QPushButton>(id))
            missing << id;
    if (!m_page->DataList())
        missing << ClientIds::kDataList;
    return missing;
}

int ClientBench::BeginSection(const QByteArray &section)
{
    m_section = section;
    if (!Idle())
        Disconnect();
    m_page->DataList()->ResetContent();
    Item<QPushButton>(ClientIds::kClearCounters)->click();
    g_pSystemLogList->ResetContent();
    m_boxes.StartTally(0);
    return CountBefore();
}

void ClientBench::ClickConnect(int port, int protocol)
{
    Item<Ipv4AddressEdit>(ClientIds::kHost)->SetAddressText(QStringLiteral("127.0.0.1"));
    Item<QLineEdit>(ClientIds::kPort)->setText(QString::number(port));
    Item<QComboBox>(ClientIds::kProtocol)->setCurrentIndex(protocol);
    Item<QPushButton>(ClientIds::kConnect)->click();
}

bool ClientBench::Connect(int port, int protocol, int milliseconds)
{
    ClickConnect(port, protocol);
    return WaitUntil([this] { return m_page->IsConnected(); }, milliseconds);
}

bool ClientBench::Disconnect()
{
    Item<QPushButton>(ClientIds::kDisconnect)->click();
    return Idle();
}

QByteArray ClientBench::ConnectedLine(int port, const char *protocol)
{
    return ToGbk(g_strDateTime + QStringLiteral(" 成功连接到127.0.0.1的") + QString::number(port)
                 + QStringLiteral("端口 连接方式为") + QLatin1String(protocol) + QStringLiteral("!\r\n"));
}

QByteArray ClientBench::DisconnectedLine()
{
    return ToGbk(g_strDateTime + QStringLiteral(" 用户主动与服务器断开\r\n"));
}

ClientBench::Ending ClientBench::EndSection(int port, const char *protocol, const std::function<void()> &closeServer)
{
    Ending ending{};
    ending.idle = Disconnect();
    ending.logged = Logged(ConnectedLine(port, protocol)) && Logged(DisconnectedLine());
    closeServer();
    ending.boxes = EndBoxes();
    CountAfter();
    return ending;
}

QString ClientBench::Ending::Text() const
{
    return QStringLiteral("idle after Disconnect: %1; connect and disconnect lines logged: %2; other boxes %3%4")
        .arg(idle ? "yes" : "NO", logged ? "yes" : "NO")
        .arg(boxes.boxes)
        .arg(boxes.boxes > 0 ? ", the last: " + boxes.lastText : QString());
}

bool ClientBench::Logged(const QByteArray &line, int newest)
{
    for (int row = 0; row < std::min(newest, g_pSystemLogList->GetCount()); ++row)
        if (g_pSystemLogList->GetText(row) == line)
            return true;
    return false;
}

// The per-block cost over the first tenth of the stream, while the display list fills, and
// over the last, with the list at its bound.
void ClientBench::Tcp(long blocks)
{
    BeginSection("tcp");
    int port = 0;
    const int listener = OpenListener(port, 1);
    ServerState state;
    ClientThread server;
    if (listener >= 0)
        server.thread = std::thread(StreamServer, listener, blocks, std::ref(state));
    const bool connected = listener >= 0 && Connect(port, kTcp, 5000);

    const qint64 total = qint64(blocks) * kBlockSize;
    const qint64 firstMark = total / 10;
    const qint64 lateMark = total - total / 10;
    qint64 firstNs = 0, firstRx = 0, lateNs = 0, lateRx = 0, endNs = 0;
    QElapsedTimer clock;
    state.go = connected;
    clock.start();
    const bool complete = connected
                          && WaitUntil(
                              [&] {
                                  const qint64 rx = m_page->RxCount();
                                  const qint64 now = clock.nsecsElapsed();
                                  if (firstNs == 0 && rx >= firstMark) {
                                      firstNs = now;
                                      firstRx = rx;
                                  }
                                  if (lateNs == 0 && rx >= lateMark) {
                                      lateNs = now;
                                      lateRx = rx;
                                  }
                                  endNs = now;
                                  return rx >= total || (state.finished && rx >= state.sent);
                              },
                              120000);
    const qint64 rx = m_page->RxCount();
    const int displayLines = m_page->DataList()->GetCount();
    const int logLines = g_pSystemLogList->GetCount();
    const Ending ending = EndSection(port, "TCP", [&] {
        state.stop = true;
        if (server.thread.joinable())
            server.thread.join();
        if (listener >= 0)
            ::close(listener);
    });

    const double seconds = endNs / 1e9;
    const double handled = double(rx) / kBlockSize;
    const double rate = seconds > 0 ? handled / seconds : 0.0;
    const double firstCost = firstRx > 0 ? firstNs / (double(firstRx) / kBlockSize) : 0.0;
    const double lateCost = rx > lateRx && lateNs > 0 ? (endNs - lateNs) / (double(rx - lateRx) / kBlockSize) : 0.0;
    const double ratio = firstCost > 0 ? lateCost / firstCost : 0.0;
    const bool flat = ratio > 0 && ratio <= 1.5;
    const bool whole = complete && rx == total;
    const bool bounded = displayLines <= LineListBox::kKeptLines;
    const bool ok = whole && rate >= 100000 && flat && bounded && ending.Ok();
    std::printf(
        "tcp:           %s: %.0f of %ld blocks of %d bytes in %.2f s, %.0f blocks/s (target >= 100,000/s: %s)%s;"
        " per block %.0f ns over the first 10 %%, %.0f ns over the last 10 %% (ratio %.2f, target <= 1.50: %s)\n",
        Verdict(ok), handled, blocks, kBlockSize, seconds, rate, Verdict(rate >= 100000),
        connected ? (whole ? "" : " STOPPED at the time bound") : " NOT CONNECTED", firstCost, lateCost, ratio,
        Verdict(flat));
    std::printf("  display list %d lines (at most 100,000: %s), system log %d lines; %s\n", displayLines,
                Verdict(bounded), logLines, qPrintable(ending.Text()));
    std::fflush(stdout);
}

void ClientBench::Udp(int seconds)
{
    BeginSection("udp");
    const int socket = UdpSocket(0, 0);
    const int port = socket >= 0 ? LocalPort(socket) : 0;
    const QString snmp = QStringLiteral("/proc/net/snmp");
    std::map<QByteArray, long> before = NetCounters(snmp, "Udp:");
    ServerState state;
    ClientThread server;
    if (socket >= 0)
        server.thread = std::thread(DatagramServer, socket, Clock::duration(std::chrono::seconds(seconds)),
                                    std::ref(state));
    const bool connected = socket >= 0 && Connect(port, kUdp, 5000);
    if (connected) {
        if (Item<QCheckBox>(ClientIds::kHexSend)->isChecked())
            Item<QCheckBox>(ClientIds::kHexSend)->click();
        Item<QLineEdit>(ClientIds::kSendBox)->setText(QStringLiteral("x"));
        Item<QPushButton>(ClientIds::kSend)->click();
    }
    const bool heard = connected && WaitUntil([&] { return state.heard.load(); }, 3000);
    const qint64 txFirst = m_page->TxCount();

    state.go = heard;
    const qint64 lastGrowthNs = heard ? RunUntilDrained([this] { return m_page->RxCount(); }, state.finished,
                                                        seconds * 1000 + 10000)
                                      : 0;
    state.stop = true;
    if (server.thread.joinable())
        server.thread.join();
    std::map<QByteArray, long> after = NetCounters(snmp, "Udp:");
    const qint64 rx = m_page->RxCount();
    const int displayLines = m_page->DataList()->GetCount();
    const Ending ending = EndSection(port, "UDP", [socket] {
        if (socket >= 0)
            ::close(socket);
    });

    const double handledSeconds = lastGrowthNs / 1e9;
    const long sent = state.sent;
    const long handled = static_cast<long>(rx / kDatagramSize);
    const double rate = handledSeconds > 0 ? handled / handledSeconds : 0.0;
    const bool ok = heard && rate >= 100000 && ending.Ok();
    std::printf("udp:           %s: %ld datagrams of %d bytes sent in %d s, the page handled %ld in %.2f s: %.0f/s"
                " (target >= 100,000/s: %s)%s\n",
                Verdict(ok), sent, kDatagramSize, seconds, handled, handledSeconds, rate, Verdict(rate >= 100000),
                connected ? (heard ? "" : " (the page's first datagram never came)") : " NOT CONNECTED");
    std::printf("  dropped: sent - handled %ld; the kernel's Udp counters: RcvbufErrors +%ld, InErrors +%ld;"
                " page TX %lld after its first send; display list %d lines; %s\n",
                sent - handled, after["RcvbufErrors"] - before["RcvbufErrors"], after["InErrors"] - before["InErrors"],
                static_cast<long long>(txFirst), displayLines, qPrintable(ending.Text()));
    std::fflush(stdout);
}

// A connect that gets no answer: the window must stay responsive while it waits, and the
// page must give up after its own time limit and be ready again.
void ClientBench::Drop()
{
    constexpr double kLimitSeconds = CClientPage::kConnectTimeoutMs / 1000.0;
    BeginSection("drop");
    SilentPort silent;
    if (!silent.Works()) {
        silent.Close();
        EndBoxes();
        CountAfter();
        std::printf("drop:          not run: a plain connect to a listener with a full accept queue completed (or"
                    " failed) within 1 s here, so the stand-in for a host that drops the handshake does not work\n");
        std::fflush(stdout);
        return;
    }
    TimerLateness ticker(50);
    ticker.Start();
    const auto clickAt = Clock::now();
    ClickConnect(silent.Port(), kTcp);
    const double clickMs = Seconds(Clock::now() - clickAt) * 1000;
    const bool connecting = m_page->IsConnecting();
    const bool boxCame = WaitUntil([this] { return m_boxes.Tallied().boxes > 0; }, 30000);
    RunEventsFor(300);  // a second box, if one comes, is counted too
    ticker.Stop();
    const BoxAnswerer::Tally boxes = EndBoxes();
    const bool idle = Idle() && Item<QPushButton>(ClientIds::kConnect)->isEnabled();
    bool logged = false;
    for (int row = 0; row < g_pSystemLogList->GetCount() && row < 20; ++row)
        logged = logged || FromGbk(g_pSystemLogList->GetText(row)).contains(kConnectFailed);
    silent.Close();
    CountAfter();

    const double boxSeconds = boxCame ? Seconds(boxes.lastSeen - clickAt) : 0.0;
    const bool onTime = boxCame && std::abs(boxSeconds - kLimitSeconds) <= 1.0;
    const bool oneBox = boxes.boxes == 1 && boxes.lastText == kConnectFailed;
    const double lateMs = ticker.WorstMs();
    const bool ok = onTime && oneBox && lateMs <= 100 && idle && logged;
    std::printf("drop:          %s: box \"%s\" %.2f s after the click (target %.0f s +- 1 s: %s), %d box%s;"
                " 50 ms timer late at most %.1f ms meanwhile (target <= 100 ms: %s)\n",
                Verdict(ok), boxCame ? qPrintable(boxes.lastText) : "(none within 30 s)", boxSeconds, kLimitSeconds,
                Verdict(onTime), boxes.boxes, boxes.boxes == 1 ? "" : "es", lateMs, Verdict(lateMs <= 100));
    std::printf("  the click returned in %.1f ms, connecting then: %s; failure logged: %s; idle afterwards (not"
                " connecting, not connected, Connect enabled): %s\n",
                clickMs, connecting ? "yes" : "NO", logged ? "yes" : "NO", idle ? "yes" : "NO");
    std::fflush(stdout);
}

void ClientBench::Churn(int rounds)
{
    const int descriptorsBefore = BeginSection("churn");
    int port = 0;
    const int listener = OpenListener(port, 64);
    ServerState state;
    ClientThread server;
    if (listener >= 0)
        server.thread = std::thread(HoldConnections, listener, Clock::duration(180s), std::ref(state));
    int done = 0;
    const char *end = listener >= 0 ? "done" : "no listener";
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < rounds && listener >= 0; ++round) {
        if (!Connect(port, kTcp, 5000)) {
            end = "a Connect was not connected within 5 s";
            break;
        }
        if (!Disconnect()) {
            end = "a Disconnect left the page busy";
            break;
        }
        done = round + 1;
        if (clock.elapsed() > 150000) {
            end = "150 s passed";
            break;
        }
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    state.stop = true;
    if (server.thread.joinable())
        server.thread.join();
    if (listener >= 0)
        ::close(listener);
    const BoxAnswerer::Tally boxes = EndBoxes();
    const int descriptorsAfter = CountAfter();

    // Newest first: round k's success line at 2 * done - 1 - 2 * k, its disconnect line above.
    const QByteArray connected = ConnectedLine(port, "TCP");
    const QByteArray disconnected = DisconnectedLine();
    const int logLines = g_pSystemLogList->GetCount();
    int wrongRound = -1;
    QByteArray wrongLine;
    for (int k = 0; k < done && wrongRound < 0; ++k) {
        const int row = 2 * done - 1 - 2 * k;
        if (row >= logLines) {
            wrongRound = k;
            wrongLine = "(missing)";
        } else if (g_pSystemLogList->GetText(row) != connected) {
            wrongRound = k;
            wrongLine = g_pSystemLogList->GetText(row);
        } else if (g_pSystemLogList->GetText(row - 1) != disconnected) {
            wrongRound = k;
            wrongLine = g_pSystemLogList->GetText(row - 1);
        }
    }
    const bool ordered = done > 0 && wrongRound < 0;
    const bool balanced = descriptorsAfter == descriptorsBefore;
    const bool ok = done == rounds && ordered && balanced && boxes.boxes == 0;
    std::printf("churn:         %s: %d of %d rounds of Connect and Disconnect in %.2f s (%s), %.0f rounds/s; the"
                " server accepted %ld; descriptors %d before, %d after (no leak: %s); other boxes %d\n",
                Verdict(ok), done, rounds, seconds, end, seconds > 0 ? done / seconds : 0.0, state.accepted.load(),
                descriptorsBefore, descriptorsAfter, Verdict(balanced), boxes.boxes);
    std::printf("  system log: %d lines, the newest %d a success line then a \"用户主动与服务器断开\" line for every"
                " round, in order: %s",
                logLines, 2 * done, Verdict(ordered));
    if (wrongRound >= 0)
        std::printf(" (round %d: \"%s\")", wrongRound + 1, qPrintable(FromGbk(wrongLine).trimmed()));
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(argc, argv, "bench_client", {"tcp", "udp", "drop", "churn"},
                       [](const SectionChoice &choice, BoxAnswerer &boxes) {
                           ClientBench bench(boxes);
                           const QList<int> missing = bench.MissingControls();
                           if (!missing.isEmpty()) {
                               QStringList ids;
                               for (int id : missing)
                                   ids << QString::number(id);
                               std::printf("the page lacks the controls %s\n", qPrintable(ids.join(", ")));
                               return 1;
                           }
                           if (choice.Runs("tcp"))
                               bench.Tcp(choice.Sized(1000000, 10000, 50000000));
                           if (choice.Runs("udp"))
                               bench.Udp(static_cast<int>(choice.Sized(10, 1, 120)));
                           if (choice.Runs("drop"))
                               bench.Drop();
                           if (choice.Runs("churn"))
                               bench.Churn(static_cast<int>(choice.Sized(1000, 1, 50000)));
                           bench.ReportDescriptors();
                           return 0;
                       });
}
