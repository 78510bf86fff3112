// The UDP server page under four loads: one datagram and its echo after the other
// (pingpong), datagrams as fast as one sender can (flood), datagrams from many source ports
// (peers), and datagrams too long to read while the failure box is held open (boxflood).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_udp_server [pingpong|flood|peers|boxflood|all] [size]
//
// size is, for pingpong, the round trips (default 110,000); for flood, the seconds of
// flooding (default 10); for peers, the distinct source ports (default 20,000); for
// boxflood, the datagrams too long to read (default 20,000). With all (the default) every
// section takes its default size. Each section prints its figures and an OK/FAIL verdict
// against its targets; every client runs in its own thread with blocking sockets and time
// limits, while this thread runs the page's event loop. Everything stays on 127.0.0.1.
#include <QElapsedTimer>
#include <QPushButton>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

using namespace BenchSupport;
using namespace std::chrono_literals;

constexpr int kPingSize = 100;
constexpr int kFloodSize = CUdpServerPage::kDatagramSize;  // the longest datagram the page reads
constexpr int kPeerSize = 64;
constexpr int kTooLong = CUdpServerPage::kDatagramSize + 1;
// The receive queue of a socket with the default buffer holds about 256 short datagrams;
// a paced sender stays well below that, so the kernel drops none.
constexpr long kPaceWindow = 128;
const QString kReceiveFailed = QStringLiteral("接收数据失败！");

// Printable bytes with the datagram's number in front.
template <size_t Size>
void Stamp(std::array<char, Size> &datagram, long number)
{
    for (size_t i = 0; i < Size; ++i)
        datagram[i] = static_cast<char>('a' + i % 26);
    StampNumber(datagram.data(), number);
}

// Waits (napping) until the page has handled all but window of the datagrams sent; rx is
// the copy of the page's RX count that the event loop keeps, base its value when sending
// began.
// False when the page handled nothing for 5 s, or did not catch up in 60 s.
bool WaitForPage(const std::atomic<qint64> &rx, qint64 base, long sent, int size, long window)
{
    qint64 seen = rx;
    const auto start = Clock::now();
    auto progress = start;
    for (long naps = 0; (rx - base) / size < sent - window; ++naps) {
        if (naps >= 10000000)
            return false;
        const qint64 now = rx;
        const auto time = Clock::now();
        if (now != seen) {
            seen = now;
            progress = time;
        } else if (time - progress >= 5s || time - start >= 60s) {
            return false;
        }
        std::this_thread::sleep_for(20us);
    }
    return true;
}

// ---- ping-pong ----

// Sends datagram and waits for its echo; a datagram not answered within 200 ms goes again,
// up to 25 times. Echoes of earlier datagrams that come late are skipped.
bool RoundTrip(int socket, const std::array<char, kPingSize> &datagram, PingPongResult &result)
{
    std::array<char, kTooLong> echo;
    for (int attempt = 0; attempt < 25; ++attempt) {
        if (attempt > 0)
            ++result.resent;
        const auto sentAt = Clock::now();
        if (::send(socket, datagram.data(), datagram.size(), 0) != kPingSize)
            continue;
        for (int reads = 0; reads < 1000 && Clock::now() - sentAt < 200ms; ++reads) {
            const ssize_t n = ::recv(socket, echo.data(), echo.size(), 0);
            if (n < 0)
                break;  // 200 ms without any datagram
            if (n == kPingSize && std::memcmp(echo.data(), datagram.data(), 10) == 0) {
                if (std::memcmp(echo.data(), datagram.data(), kPingSize) != 0)
                    result.echoesExact = false;
                return true;
            }
        }
    }
    return false;
}

// One 100-byte datagram out, its echo back, then the next; at most 60 s.
void PingPongClient(int port, long trips, long window, const std::atomic<bool> &go, PingPongResult &result,
                    std::atomic<bool> &finished)
{
    const int socket = UdpSocket(0, port);
    if (socket >= 0 && WaitFor(go, 10000)) {
        SetTimeouts(socket, 200);
        std::array<char, kPingSize> datagram;
        Stamp(datagram, 0);
        TimeRoundTrips(trips, window, result, [&](long n) {
            StampNumber(datagram.data(), n);
            if (RoundTrip(socket, datagram, result))
                return true;
            result.end = "no echo for 5 s";
            return false;
        });
    }
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

// The limit for the ping-pong: a plain blocking echo, no event loop between.
void EchoDatagrams(int socket, const std::atomic<bool> &stop)
{
    SetTimeouts(socket, 200);
    std::array<char, 256> buffer;
    for (long reads = 0; reads < 100000000 && !stop; ++reads) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        auto *address = reinterpret_cast<sockaddr *>(&from);
        const ssize_t n = ::recvfrom(socket, buffer.data(), buffer.size(), 0, address, &length);
        if (n > 0)
            ::sendto(socket, buffer.data(), static_cast<size_t>(n), 0, address, length);
    }
}

// ---- flood ----

// Sends 128-byte datagrams as fast as it can until the time is up or stop.
void FloodSender(int port, Clock::duration length, const std::atomic<bool> &go, const std::atomic<bool> &stop,
                 std::atomic<long> &sent, std::atomic<bool> &finished)
{
    const int socket = UdpSocket(0, port);
    if (socket >= 0 && WaitFor(go, 10000))
        BlastDatagrams(socket, kFloodSize, length, stop, sent);
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

// ---- peers ----

struct PacedRun
{
    long sent = 0;
    double seconds = 0;
    bool caughtUp = true;
};

// Sends count datagrams of kPeerSize bytes on the connected socket, never more than
// kPaceWindow ahead of the page; the time runs until the page has handled them all.
void PacedSender(int socket, long count, const std::atomic<qint64> &rx, qint64 base, PacedRun &run,
                 std::atomic<bool> &finished)
{
    std::array<char, kPeerSize> datagram;
    Stamp(datagram, 0);
    const auto start = Clock::now();
    for (long n = 0; n < count && run.caughtUp; ++n) {
        StampNumber(datagram.data(), n);
        if (::send(socket, datagram.data(), datagram.size(), 0) == kPeerSize)
            ++run.sent;
        run.caughtUp = WaitForPage(rx, base, run.sent, kPeerSize, kPaceWindow);
    }
    run.caughtUp = run.caughtUp && WaitForPage(rx, base, run.sent, kPeerSize, 0);
    run.seconds = Seconds(Clock::now() - start);
    finished = true;
}

struct PortsRun
{
    std::vector<int> ports;  // in the order their datagrams went out
    int kept = -1;           // the socket of the middle port, left open for the next rounds
    int keptPort = 0;
    bool caughtUp = true;
    double seconds = 0;
};

// One datagram from each of count source ports, in batches of 500 open sockets. The ports
// are bound one by one upwards from 20,000: ports the kernel picks come again once their
// socket is closed, and the same port twice is one peer. A port in use is skipped.
void ManyPortsSender(int pagePort, int count, const std::atomic<qint64> &rx, qint64 base, PortsRun &run,
                     std::atomic<bool> &finished)
{
    constexpr int kBatch = 500;
    std::array<char, kPeerSize> datagram;
    Stamp(datagram, 0);
    run.ports.clear();
    run.caughtUp = true;
    const auto start = Clock::now();
    int candidate = 20000;
    while (static_cast<int>(run.ports.size()) < count && candidate <= 65535 && run.caughtUp) {
        std::vector<int> batch;
        while (static_cast<int>(batch.size()) < kBatch && static_cast<int>(run.ports.size() + batch.size()) < count
               && candidate <= 65535) {
            const int port = candidate++;
            const int socket = port == run.keptPort ? run.kept : port == pagePort ? -1 : UdpSocket(port, pagePort);
            if (socket >= 0)
                batch.push_back(socket);
        }
        for (int socket : batch) {
            StampNumber(datagram.data(), static_cast<long>(run.ports.size()));
            if (::send(socket, datagram.data(), datagram.size(), 0) != kPeerSize)
                continue;
            run.ports.push_back(LocalPort(socket));
            if (static_cast<int>(run.ports.size()) == count / 2 + 1 && run.kept < 0) {
                run.kept = socket;
                run.keptPort = run.ports.back();
            }
            run.caughtUp = run.caughtUp
                           && WaitForPage(rx, base, static_cast<long>(run.ports.size()), kPeerSize, kPaceWindow);
        }
        for (int socket : batch)
            if (socket != run.kept)
                ::close(socket);
    }
    run.caughtUp = run.caughtUp && WaitForPage(rx, base, static_cast<long>(run.ports.size()), kPeerSize, 0);
    run.seconds = Seconds(Clock::now() - start);
    finished = true;
}

// ---- box flood ----

// Sends count datagrams of size bytes, resting 1 ms after every 100.
void SendDatagrams(int port, long count, int size, std::atomic<long> &sent, std::atomic<bool> &finished)
{
    const int socket = UdpSocket(0, port);
    if (socket >= 0) {
        SetTimeouts(socket, 1000);
        std::vector<char> datagram(static_cast<size_t>(size), 'x');
        for (long n = 0; n < count; ++n) {
            if (::send(socket, datagram.data(), datagram.size(), 0) == size)
                ++sent;
            if (n % 100 == 99)
                ::usleep(1000);
        }
        ::close(socket);
    }
    finished = true;
}

// ---- the page ----

class UdpBench : public ListeningPageBench
{
public:
    explicit UdpBench(BoxAnswerer &boxes);

    void PingPong(long trips);
    void Flood(int seconds);
    void Peers(int ports);
    void BoxFlood(long datagrams);

private:
    bool PageListening() const override { return m_page->IsListening(); }
    // WaitUntil that keeps m_rx at the page's RX count for the client threads that pace
    // themselves by it.
    bool RunMirroringRx(const std::function<bool()> &done, int milliseconds);
    int PeerCount() const { return m_page->PeerList()->GetCount(); }
    // Selects and deletes the listed peers one by one; returns how many are left.
    int DeletePeers();
    // Nanoseconds per datagram for count datagrams on the socket, paced; false in handled
    // when the page did not handle each of them.
    double TimePaced(int socket, long count, bool &handled);
    // One datagram from each of count ports; false when the page did not handle each of
    // them or the peer list did not grow by them in their order.
    bool SendFromPorts(int count, PortsRun &run);

    std::unique_ptr<CUdpServerPage> m_page;
    BoxAnswerer &m_boxes;
    std::atomic<qint64> m_rx = 0;
};

UdpBench::UdpBench(BoxAnswerer &boxes)
    : ListeningPageBench({UdpServerIds::kPort, UdpServerIds::kListen, UdpServerIds::kStop, UdpServerIds::kClearData,
                          UdpServerIds::kClearCounters, UdpServerIds::kAutoReply, UdpServerIds::kReplyData,
                          UdpServerIds::kReplyEcho})
    , m_page(std::make_unique<CUdpServerPage>())
    , m_boxes(boxes)
{
    ShowPage(m_page.get());
}

bool UdpBench::RunMirroringRx(const std::function<bool()> &done, int milliseconds)
{
    return WaitUntil(
        [&] {
            m_rx = m_page->RxCount();
            return done();
        },
        milliseconds);
}

int UdpBench::DeletePeers()
{
    for (int n = PeerCount(); n > 0 && PeerCount() == n; --n) {
        m_page->PeerList()->SetCurSel(0);
        Item<QPushButton>(UdpServerIds::kDeletePeer)->click();
    }
    return PeerCount();
}

void UdpBench::PingPong(long trips)
{
    const long window = std::max(1L, std::min(10000L, trips / 11));
    if (!BeginSection("ping-pong", "ping-pong:     "))
        return;
    const int peersBefore = PeerCount();
    const bool armed = EchoReply();
    std::atomic<bool> go = armed;
    std::atomic<bool> finished = false;
    PingPongResult page;
    {
        ClientThread client;
        client.thread = std::thread(PingPongClient, m_port, trips, window, std::cref(go), std::ref(page),
                                    std::ref(finished));
        WaitUntil([&] { return finished.load(); }, 70000);
    }
    const qint64 rx = m_page->RxCount();
    const qint64 tx = m_page->TxCount();
    const int peers = PeerCount();
    AutoReplyOff();
    DataReply();
    Stop();

    PingPongResult limit;
    {
        const int echoSocket = UdpSocket(0, 0);
        std::atomic<bool> limitGo = echoSocket >= 0;
        std::atomic<bool> stopEcho = false;
        std::atomic<bool> limitFinished = false;
        ClientThread echo;
        if (echoSocket >= 0)
            echo.thread = std::thread(EchoDatagrams, echoSocket, std::cref(stopEcho));
        std::thread(PingPongClient, echoSocket >= 0 ? LocalPort(echoSocket) : 0, trips, window, std::cref(limitGo),
                    std::ref(limit), std::ref(limitFinished))
            .join();
        stopEcho = true;
        if (echo.thread.joinable())
            echo.thread.join();
        if (echoSocket >= 0)
            ::close(echoSocket);
    }

    // Every datagram that reached the page went back: TX equals RX, resent ones included.
    const QString pageNotes = QStringLiteral(", %1 resent; page RX %2, TX %3, peers listed %4 -> %5%6")
                                  .arg(page.resent)
                                  .arg(rx)
                                  .arg(tx)
                                  .arg(peersBefore)
                                  .arg(peers)
                                  .arg(armed ? "" : "; echo reply not on");
    ReportPingPong(page, limit, trips, window, armed && tx == rx && peers == peersBefore + 1, pageNotes,
                   QStringLiteral(", %1 resent").arg(limit.resent));
}

void UdpBench::Flood(int seconds)
{
    if (!BeginSection("flood", "flood:         "))
        return;
    AutoReplyOff();
    const QString snmp = QStringLiteral("/proc/net/snmp");
    std::map<QByteArray, long> before = NetCounters(snmp, "Udp:");
    std::atomic<bool> go = false;
    std::atomic<bool> stop = false;
    std::atomic<bool> finished = false;
    std::atomic<long> sent = 0;
    ClientThread sender;
    sender.thread = std::thread(FloodSender, m_port, Clock::duration(std::chrono::seconds(seconds)), std::cref(go),
                                std::cref(stop), std::ref(sent), std::ref(finished));

    // The time runs until the page handled its last datagram: the sender's end, or the
    // drain of what waited in the kernel after it.
    TimerLateness ticker;
    go = true;
    ticker.Start();
    const qint64 lastGrowthNs = RunUntilDrained([this] { return m_page->RxCount(); }, finished, seconds * 1000 + 10000);
    ticker.Stop();
    stop = true;
    sender.thread.join();
    std::map<QByteArray, long> after = NetCounters(snmp, "Udp:");
    const qint64 rx = m_page->RxCount();
    const int displayLines = m_page->DataList()->GetCount();
    const int logLines = g_pSystemLogList->GetCount();
    Stop();

    const double handledSeconds = lastGrowthNs / 1e9;
    const long handled = static_cast<long>(rx / kFloodSize);
    const double rate = handledSeconds > 0 ? handled / handledSeconds : 0.0;
    const double maxLateMs = ticker.WorstMs();
    const bool ok = finished && rate >= 100000 && maxLateMs <= 100;
    std::printf("flood:         %s: %ld datagrams of %d bytes sent in %d s, the page handled %ld in %.2f s: %.0f/s"
                " (target >= 100,000/s: %s); 10 ms timer late at most %.1f ms (target <= 100 ms: %s)\n",
                Verdict(ok), sent.load(), kFloodSize, seconds, handled, handledSeconds, rate, Verdict(rate >= 100000),
                maxLateMs, Verdict(maxLateMs <= 100));
    std::printf("  dropped: sent - handled %ld; the kernel's Udp counters: RcvbufErrors +%ld, InErrors +%ld;"
                " display list %d lines, system log %d lines\n",
                sent - handled, after["RcvbufErrors"] - before["RcvbufErrors"], after["InErrors"] - before["InErrors"],
                displayLines, logLines);
    std::fflush(stdout);
}

double UdpBench::TimePaced(int socket, long count, bool &handled)
{
    ClearLists();
    m_rx = m_page->RxCount();
    PacedRun run;
    {
        std::atomic<bool> finished = false;
        ClientThread client;
        client.thread = std::thread(PacedSender, socket, count, std::cref(m_rx), qint64(0), std::ref(run),
                                    std::ref(finished));
        RunMirroringRx([&] { return finished.load(); }, 70000);
    }
    handled = handled && run.caughtUp && run.sent == count && m_page->RxCount() == count * kPeerSize;
    return run.sent > 0 ? run.seconds * 1e9 / run.sent : 0.0;
}

bool UdpBench::SendFromPorts(int count, PortsRun &run)
{
    ClearLists();
    m_rx = m_page->RxCount();
    const int before = PeerCount();
    {
        std::atomic<bool> finished = false;
        ClientThread client;
        client.thread = std::thread(ManyPortsSender, m_port, count, std::cref(m_rx), qint64(0), std::ref(run),
                                    std::ref(finished));
        RunMirroringRx([&] { return finished.load(); }, 120000);
    }
    const int sent = static_cast<int>(run.ports.size());
    if (!run.caughtUp || sent != count || m_page->RxCount() != qint64(sent) * kPeerSize || PeerCount() != before + sent)
        return false;
    LineListBox *list = m_page->PeerList();
    for (int i = 0; i < sent; ++i)
        if (list->GetText(before + i) != "127.0.0.1:" + QByteArray::number(run.ports[static_cast<size_t>(i)]))
            return false;
    return true;
}

// The cost per datagram with 1 peer listed and with many, in rounds that alternate the two:
// the speed of this loop on the machine shifts for seconds at a time, and alternating rounds
// meet the same shifts. Every round deletes the peers and lists them again.
void UdpBench::Peers(int ports)
{
    constexpr long kTimed = 50000;
    constexpr int kRounds = 3;
    if (!BeginSection("peers", "peers:         "))
        return;
    AutoReplyOff();
    const int leftOver = PeerCount();
    const int single = UdpSocket(0, m_port);
    bool handled = true;
    TimePaced(single, kTimed / 5, handled);  // the first lines of a list cost more: not timed

    PortsRun many;
    bool listed = true;
    int deleteFailed = 0;
    int listedAlone = 0;
    int listedCrowded = 0;
    std::vector<double> aloneNs;
    std::vector<double> crowdedNs;
    std::vector<double> ratios;
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < kRounds; ++round) {
        deleteFailed += DeletePeers();
        aloneNs.push_back(TimePaced(single, kTimed, handled));
        listedAlone = PeerCount();
        listed = SendFromPorts(ports, many) && listed;
        crowdedNs.push_back(many.kept >= 0 ? TimePaced(many.kept, kTimed, handled) : 0.0);
        listedCrowded = PeerCount();
        ratios.push_back(aloneNs.back() > 0 ? crowdedNs.back() / aloneNs.back() : 0.0);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    LineListBox *list = m_page->PeerList();
    const QByteArray first = listedAlone < listedCrowded ? list->GetText(listedAlone) : QByteArray("-");
    const QByteArray last = listedAlone < listedCrowded ? list->GetText(listedCrowded - 1) : QByteArray("-");
    Stop([&] {
        if (single >= 0)
            ::close(single);
        if (many.kept >= 0)
            ::close(many.kept);
    });

    const bool listOk = listed && deleteFailed == 0 && listedAlone == 1 && listedCrowded == 1 + ports;
    std::printf(
        "peers:         %s: %d rounds of %d source ports sending one datagram each, in %.1f s; peers listed"
        " %d -> %d, every datagram handled and every peer listed in order of first arrival in every round:"
        " %s (first %s, last %s)%s\n",
        Verdict(listOk), kRounds, ports, seconds, listedAlone, listedCrowded, listed ? "yes" : "NO", first.constData(),
        last.constData(),
        leftOver > 0 || deleteFailed > 0 ? qPrintable(
            QStringLiteral("; %1 peers of earlier sections, %2 peers not deleted").arg(leftOver).arg(deleteFailed))
                                         : "");
    auto joined = [](const std::vector<double> &values, int precision) {
        QStringList texts;
        for (double value : values)
            texts << QString::number(value, 'f', precision);
        return texts.join('/');
    };
    const double ratio = Percentile(ratios, 0.5);
    const bool timedOk = handled && ratio > 0 && ratio <= 1.5;
    std::printf("  %ld datagrams from one socket in each round: %s ns each with %d peer listed, %s ns each with %d"
                " listed (ratio %s, median %.2f, target <= 1.50: %s)%s\n",
                kTimed, qPrintable(joined(aloneNs, 0)), listedAlone, qPrintable(joined(crowdedNs, 0)), listedCrowded,
                qPrintable(joined(ratios, 2)), ratio, Verdict(timedOk),
                handled ? "" : "; the page did not handle every datagram");
    std::fflush(stdout);
}

void UdpBench::BoxFlood(long datagrams)
{
    constexpr int kHoldMs = 3000;
    if (!BeginSection("box flood", "box flood:     "))
        return;
    AutoReplyOff();
    m_boxes.StartTally(kHoldMs);
    const QString snmp = QStringLiteral("/proc/net/snmp");
    std::map<QByteArray, long> before = NetCounters(snmp, "Udp:");
    std::atomic<long> sent = 0;
    std::atomic<bool> finished = false;
    QElapsedTimer clock;
    clock.start();
    {
        ClientThread sender;
        sender.thread = std::thread(SendDatagrams, m_port, datagrams, kTooLong, std::ref(sent), std::ref(finished));
        WaitUntil([&] { return finished && m_boxes.Tallied().heldClosed; }, kHoldMs + 15000);
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    // Whatever waited behind the held box, and any box it brings, goes before the check.
    RunEventsFor(300);
    const BoxAnswerer::Tally boxes = m_boxes.EndTally();
    std::map<QByteArray, long> after = NetCounters(snmp, "Udp:");
    const long kernelDropped = after["RcvbufErrors"] - before["RcvbufErrors"];

    // Datagrams the page can read are shown again.
    const qint64 rxBefore = m_page->RxCount();
    const int linesBefore = m_page->DataList()->GetCount();
    std::atomic<long> goodSent = 0;
    std::atomic<bool> goodFinished = false;
    QElapsedTimer recovery;
    recovery.start();
    {
        ClientThread sender;
        sender.thread = std::thread(SendDatagrams, m_port, 10L, 5, std::ref(goodSent), std::ref(goodFinished));
        WaitUntil([&] { return goodFinished && m_page->RxCount() >= rxBefore + 50; }, 3000);
    }
    const double recoveryMs = recovery.nsecsElapsed() / 1e6;
    const qint64 rxGrowth = m_page->RxCount() - rxBefore;
    const int linesGrowth = m_page->DataList()->GetCount() - linesBefore;
    Stop();

    const bool boxesOk = boxes.heldClosed && boxes.whileHeld == 1 && boxes.maxOpen <= 1
                         && boxes.lastText == kReceiveFailed;
    const bool recovers = rxGrowth == 50 && linesGrowth == 10;
    std::printf("box flood:     %s: %ld of %ld datagrams of %d bytes sent, box \"%s\" held %.1f s: %d box%s while"
                " held (target 1), %d in all, most open at once %d (target <= 1); RX meanwhile %lld; the kernel"
                " dropped %ld (RcvbufErrors), the page read the others\n",
                Verdict(boxesOk && recovers), sent.load(), datagrams, kTooLong, qPrintable(boxes.lastText),
                kHoldMs / 1000.0, boxes.whileHeld, boxes.whileHeld == 1 ? "" : "es", boxes.boxes, boxes.maxOpen,
                static_cast<long long>(rxBefore), kernelDropped);
    std::printf("  recovers: %s, 10 datagrams of 5 bytes after the box: RX +%lld of 50, display list +%d lines of 10,"
                " in %.1f ms (flood and hold took %.2f s)\n",
                Verdict(recovers), static_cast<long long>(rxGrowth), linesGrowth, recoveryMs, seconds);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(argc, argv, "bench_udp_server", {"pingpong", "flood", "peers", "boxflood"},
                       [](const SectionChoice &choice, BoxAnswerer &boxes) {
                           UdpBench bench(boxes);
                           if (choice.Runs("pingpong"))
                               bench.PingPong(choice.Sized(110000, 1000, 10000000));
                           if (choice.Runs("flood"))
                               bench.Flood(static_cast<int>(choice.Sized(10, 1, 120)));
                           if (choice.Runs("peers"))
                               bench.Peers(static_cast<int>(choice.Sized(20000, 10, 40000)));
                           if (choice.Runs("boxflood"))
                               bench.BoxFlood(choice.Sized(20000, 10, 1000000));
                           bench.ReportDescriptors();
                           return 0;
                       });
}
