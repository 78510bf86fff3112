// The TCP server page under four loads: a client that sends a lot before it reads anything
// (slow), one request and its echo after the other (pingpong), a stream of blocks (flood),
// and clients that come and go as fast as they can beside one that stays (churn).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_tcp_traffic [slow|pingpong|flood|churn|many|all] [size]
//
// size is, for slow, the MiB sent (default 8); for pingpong, the round trips (default
// 110,000); for flood, the 256-byte blocks (default 5,000,000); for churn, the seconds of
// churning (default 10); for many, the clients flooding at once for 5 s (default 32). With all (the default) every section takes its default size.
// Each section prints its figures and an OK/FAIL verdict against its targets; every client
// runs in its own thread with blocking sockets and time limits, while this thread runs the
// page's event loop. Everything stays on 127.0.0.1.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "traffic/client_list_line.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

using namespace BenchSupport;
using namespace std::chrono_literals;

constexpr int kListBound = 100000;  // the newest lines a list is meant to keep
constexpr double kMiB = 1024.0 * 1024.0;

// Every byte depends on its offset, so a gap or a reordering shows at the first byte it moves.
char PatternByte(qint64 offset)
{
    return static_cast<char>(offset * 7 + offset / 256);
}

// A blocking client socket connected to the port on 127.0.0.1; the send limit bounds the
// connect too.
int ConnectWithTimeouts(int port, int milliseconds)
{
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0)
        return -1;
    SetTimeouts(socket, milliseconds);
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(socket);
        return -1;
    }
    return socket;
}

bool ReceiveExactly(int socket, char *data, size_t size)
{
    size_t received = 0;
    while (received < size) {
        const ssize_t n = ::recv(socket, data + received, size - received, 0);
        if (n <= 0)
            return false;
        received += static_cast<size_t>(n);
    }
    return true;
}

// About 90 bytes, different every time, as received lines are.
QByteArray TypicalLine(int counter)
{
    QByteArray line = "127.0.0.1:50123 ";
    line += QByteArray::number(counter).rightJustified(10, '0');
    line += " the quick brown fox jumps over the lazy dog 0123456789 ABCDEFGHIJ";
    line += "\r\n";
    return line;
}

// A display line as the slow reader's blocks make them: text up to the first zero byte,
// which the pattern puts about every 256 bytes, so 128 characters on average.
QByteArray TypicalDataLine(int counter)
{
    QByteArray line = "127.0.0.1:50123 ";
    line += QByteArray::number(counter).rightJustified(10, '0');
    line += QByteArray(118, 'x');
    line += "\r\n";
    return line;
}

// Inserts at the top until the list holds kListBound lines (at most that many inserts).
void FillToBound(LineListBox *list, QByteArray (*makeLine)(int) = TypicalLine)
{
    for (int n = 0; n < kListBound && list->GetCount() < kListBound; ++n)
        list->InsertString(0, makeLine(n));
}

// ---- slow reader ----

struct SlowResult
{
    qint64 sent = 0;
    qint64 received = 0;
    qint64 firstDifference = -1;
    const char *readEnd = "all back";
    double sendSeconds = 0;
    double totalSeconds = 0;
};

// Sends everything without reading (a send making no progress for 5 s, or 30 s in all, ends
// that), then reads until everything sent is back, 30 s pass or nothing comes for 5 s.
void SlowReaderClient(int port, const std::vector<char> &data, const std::atomic<bool> &go, SlowResult &result,
                      std::atomic<bool> &finished)
{
    const int socket = ConnectWithTimeouts(port, 1000);
    if (socket >= 0 && WaitFor(go, 10000)) {
        const auto start = Clock::now();
        auto progress = start;
        size_t sent = 0;
        for (long calls = 0; sent < data.size() && calls < 10000000; ++calls) {
            const ssize_t n = ::send(socket, data.data() + sent, std::min<size_t>(65536, data.size() - sent),
                                     MSG_NOSIGNAL);
            const auto now = Clock::now();
            if (n > 0) {
                sent += static_cast<size_t>(n);
                progress = now;
                continue;
            }
            const bool timedOut = n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
            if (!timedOut || now - progress >= 5s || now - start >= 30s)
                break;
        }
        result.sent = static_cast<qint64>(sent);
        result.sendSeconds = Seconds(Clock::now() - start);

        const auto readStart = Clock::now();
        auto lastByte = readStart;
        std::vector<char> buffer(65536);
        result.readEnd = "all back";
        for (long calls = 0; result.received < result.sent; ++calls) {
            const auto now = Clock::now();
            if (now - readStart >= 30s || calls >= 10000000) {
                result.readEnd = "30 s passed";
                break;
            }
            const ssize_t n = ::recv(socket, buffer.data(), buffer.size(), 0);
            if (n > 0) {
                for (ssize_t i = 0; i < n && result.firstDifference < 0; ++i)
                    if (buffer[static_cast<size_t>(i)] != PatternByte(result.received + i))
                        result.firstDifference = result.received + i;
                result.received += n;
                lastByte = Clock::now();
            } else if (n == 0) {
                result.readEnd = "the server closed the connection";
                break;
            } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                result.readEnd = "a read failed";
                break;
            } else if (Clock::now() - lastByte >= 5s) {
                result.readEnd = "nothing more came for 5 s";
                break;
            }
        }
        result.totalSeconds = Seconds(lastByte - start);
    }
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

// ---- ping-pong ----

// One 100-byte block out, its 100 bytes back, then the next; at most 60 s.
void PingPongClient(int port, long trips, long window, const std::atomic<bool> &go, PingPongResult &result,
                    std::atomic<bool> &finished)
{
    const int socket = ConnectWithTimeouts(port, 2000);
    if (socket >= 0 && WaitFor(go, 10000)) {
        const int noDelay = 1;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        std::array<char, 100> block;
        std::array<char, 100> echo;
        for (size_t i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>('A' + i % 26);
        TimeRoundTrips(trips, window, result, [&](long n) {
            StampNumber(block.data(), n);
            if (!SendAll(socket, block.data(), block.size()) || !ReceiveExactly(socket, echo.data(), echo.size())) {
                result.end = "a send or read failed or waited 2 s";
                return false;
            }
            if (echo != block)
                result.echoesExact = false;
            return true;
        });
    }
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

// The limit for the ping-pong: a plain blocking echo of one client, no event loop between.
void EchoOneClient(int listener)
{
    pollfd waiting{listener, POLLIN, 0};
    if (::poll(&waiting, 1, 10000) != 1)
        return;
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (peer < 0)
        return;
    SetTimeouts(peer, 2000);
    char buffer[256];
    for (long reads = 0; reads < 100000000; ++reads) {
        const ssize_t n = ::recv(peer, buffer, sizeof buffer, 0);
        if (n <= 0 || !SendAll(peer, buffer, static_cast<size_t>(n)))
            break;
    }
    ::close(peer);
}

// ---- churn ----

// What the churn threads and the descriptor watch share.
struct ChurnState
{
    std::atomic<long> opened = 0;
    std::atomic<long> failed = 0;
    std::atomic<long> resets = 0;
    std::atomic<long> closes = 0;
    std::atomic<long> nonReaders = 0;
    std::atomic<int> running = 0;  // churn threads not done yet
    std::atomic<Clock::time_point> end = Clock::time_point();
    std::atomic<bool> over = false;  // set after end, by the last churn thread

    int before = 0;  // descriptors right before the churn
    int pauseAt = 0;
    std::atomic<bool> pause = false;
    std::atomic<int> peak = 0;
    std::atomic<long> pausedMs = 0;
    std::atomic<long> backAfterMs = -1;  // after the end, when the count was back to before
    std::atomic<int> countAfterTwoSeconds = -1;
};

// Counts this process's descriptors every 10 ms (50 ms while far above the count before the
// churn) until stop or the time is up: the peak, and after the churn, when they are back.
// Above pauseAt the churn holds back, so that the clients this program runs itself do not
// take the last descriptors from a page that falls behind (it holds every accepted socket
// meanwhile).
void WatchDescriptors(ChurnState &churn, Clock::duration longest, const std::atomic<bool> &stop)
{
    const auto start = Clock::now();
    while (!stop && Clock::now() - start < longest) {
        const int count = OpenDescriptors();
        churn.peak = std::max(churn.peak.load(), count);
        churn.pause = count > churn.pauseAt;
        if (churn.over) {
            const auto since = Clock::now() - churn.end.load();
            if (churn.backAfterMs < 0 && count <= churn.before)
                churn.backAfterMs = std::chrono::duration_cast<std::chrono::milliseconds>(since).count();
            if (churn.countAfterTwoSeconds < 0 && since >= 2s)
                churn.countAfterTwoSeconds = count;
        }
        // Listing thousands of descriptors costs a core's worth of time at 10 ms; far from
        // the count before, a coarser look is enough.
        const auto interval = count > churn.before + 1000 ? 50ms : 10ms;
        std::this_thread::sleep_for(interval);
        if (churn.pause && !churn.over)
            churn.pausedMs += interval.count();
    }
    churn.pause = false;
}

// Connects again and again until the deadline: each connection sends 1-200 random bytes,
// then is reset, closed, or sends 1-4 more blocks without ever reading and is closed.
void ChurnClients(int port, Clock::time_point deadline, unsigned seed, ChurnState &churn)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> length(1, 200);
    std::uniform_int_distribution<int> ending(0, 2);
    std::uniform_int_distribution<int> extraBlocks(1, 4);
    std::array<char, kBlockSize> bytes;
    for (char &byte : bytes)
        byte = static_cast<char>(random());
    for (long n = 0; n < 10000000 && Clock::now() < deadline; ++n) {
        if (churn.pause) {
            ::usleep(1000);
            continue;
        }
        const int socket = ConnectWithTimeouts(port, 1000);
        if (socket < 0) {
            ++churn.failed;
            ::usleep(1000);  // a full queue or no port left: do not spin on it
            continue;
        }
        ++churn.opened;
        SendAll(socket, bytes.data(), static_cast<size_t>(length(random)));
        switch (ending(random)) {
        case 0:
            ResetOnClose(socket);
            ++churn.resets;
            break;
        case 1:
            ++churn.closes;
            break;
        default:
            for (int k = extraBlocks(random); k > 0; --k)
                if (!SendAll(socket, bytes.data(), bytes.size()))
                    break;
            ++churn.nonReaders;
            break;
        }
        ::close(socket);
    }
    if (--churn.running == 0) {
        churn.end = Clock::now();
        churn.over = true;
    }
}

struct SteadyTally
{
    std::atomic<int> okDuring = 0;
    std::atomic<int> missedDuring = 0;
    std::atomic<int> okAfter = 0;
    std::atomic<int> missedAfter = 0;
    std::atomic<bool> closedByServer = false;
};

// The client that behaves: a 16-byte message every 50 ms, each waiting up to 1 s for its
// echo, until 2 s after the churn. A late echo of an earlier message is skipped, not taken
// for the current one.
void SteadyClient(int port, Clock::duration longest, const std::atomic<bool> &go, const ChurnState &churn,
                  SteadyTally &tally, std::atomic<bool> &finished)
{
    const int socket = ConnectWithTimeouts(port, 1000);
    if (socket >= 0 && WaitFor(go, 10000)) {
        SetTimeouts(socket, 50);  // reads wake often; the 1 s wait is counted here
        const auto start = Clock::now();
        QByteArray pending;
        for (long seq = 0; Clock::now() - start < longest; ++seq) {
            const auto sentAt = Clock::now();
            const bool after = churn.over;
            if (after && sentAt - churn.end.load() >= 2s)
                break;
            char message[32];  // 16 bytes go: 'm', 14 digits, '\n'
            std::snprintf(message, sizeof message, "m%014ld\n", seq);
            bool answered = false;
            bool closed = false;
            if (SendAll(socket, message, 16)) {
                while (!answered && !closed && Clock::now() - sentAt < 1s) {
                    char buffer[256];
                    const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
                    if (n > 0)
                        pending.append(buffer, n);
                    else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
                        closed = true;
                    while (pending.size() >= 16) {
                        answered = answered || pending.mid(1, 14).toLong() == seq;
                        pending.remove(0, 16);
                    }
                }
            } else {
                closed = true;
            }
            std::atomic<int> &count = after ? (answered ? tally.okAfter : tally.missedAfter)
                                            : (answered ? tally.okDuring : tally.missedDuring);
            ++count;
            if (closed) {
                tally.closedByServer = true;
                break;
            }
            std::this_thread::sleep_until(sentAt + 50ms);
        }
    }
    if (socket >= 0)
        ::close(socket);
    finished = true;
}

class TrafficBench : public PageBench
{
public:
    void SlowReader(int mebibytes);
    void PingPong(long trips);
    void Flood(long blocks);
    void Churn(int seconds);
    void ManyFlooding(int clients);

private:
    int HighestListedId() const;
};

// Clients are listed in the order they came, so the newest is at one end of the list.
int TrafficBench::HighestListedId() const
{
    LineListBox *clients = m_page->ClientList();
    const int count = clients->GetCount();
    if (count == 0)
        return -1;
    return std::max(IdOfClientLine(clients->GetText(0)), IdOfClientLine(clients->GetText(count - 1)));
}

void TrafficBench::SlowReader(int mebibytes)
{
    if (!BeginSection("slow reader", "slow reader:   "))
        return;
    // The lists are at their bound before the exchange, so what it adds to them is no growth.
    FillToBound(m_page->DataList(), TypicalDataLine);
    FillToBound(g_pSystemLogList);
    const int displayBefore = m_page->DataList()->GetCount();
    const int logBefore = g_pSystemLogList->GetCount();

    const qint64 total = qint64(mebibytes) * 1024 * 1024;
    std::vector<char> data(static_cast<size_t>(total));
    for (qint64 offset = 0; offset < total; ++offset)
        data[static_cast<size_t>(offset)] = PatternByte(offset);

    std::atomic<bool> go = false;
    std::atomic<bool> finished = false;
    SlowResult result;
    ClientThread client;
    client.thread = std::thread(SlowReaderClient, m_port, std::cref(data), std::cref(go), std::ref(result),
                                std::ref(finished));
    const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);
    const bool armed = listed && EchoReply();

    QApplication::processEvents();
    const long startResident = ResidentBytes();
    long peakResident = startResident;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout, [&] { peakResident = std::max(peakResident, ResidentBytes()); });
    sampler.start(10);
    go = armed;
    WaitUntil([&] { return finished.load(); }, 75000);
    sampler.stop();
    peakResident = std::max(peakResident, ResidentBytes());

    const qint64 tx = m_page->TxCount();
    const qint64 rx = m_page->RxCount();
    const int displayAfter = m_page->DataList()->GetCount();
    const int logAfter = g_pSystemLogList->GetCount();
    DataReply();
    Stop([&] { client.thread.join(); });

    const bool allBack = result.received == total && result.firstDifference < 0;
    const double growthMiB = (peakResident - startResident) / kMiB;
    std::printf("slow reader:   %s: %lld of %lld bytes sent, %lld back, %s; page RX %lld, TX %lld (must be %lld);"
                " %.2f s (sending %.2f s; reading ended: %s)%s\n",
                Verdict(armed && allBack && result.sent == total && tx == total), static_cast<long long>(result.sent),
                static_cast<long long>(total), static_cast<long long>(result.received),
                result.firstDifference < 0 ? "in order byte for byte" : "NOT in order", static_cast<long long>(rx),
                static_cast<long long>(tx), static_cast<long long>(total), result.totalSeconds, result.sendSeconds,
                result.readEnd, armed ? "" : " (transparent reply not on)");
    if (result.firstDifference >= 0)
        std::printf("  first byte that differs at offset %lld\n", static_cast<long long>(result.firstDifference));
    if (result.sent < total)
        std::printf("  the client's sending stalled after %lld bytes: neither side read\n",
                    static_cast<long long>(result.sent));
    const bool bounded = displayAfter <= kListBound && logAfter <= kListBound;
    std::printf("  memory: peak resident growth %.1f MiB over the start of the exchange (target within 4 MiB: %s);"
                " display list %d -> %d lines, system log %d -> %d lines: %s\n",
                growthMiB, Verdict(growthMiB <= 4.0), displayBefore, displayAfter, logBefore, logAfter,
                bounded ? "kept at most 100,000" : "NOT bounded at 100,000 lines, their new lines count in the growth");
    std::fflush(stdout);
}

void TrafficBench::PingPong(long trips)
{
    const long window = std::max(1L, std::min(10000L, trips / 11));
    if (!BeginSection("ping-pong", "ping-pong:     "))
        return;
    std::atomic<bool> go = false;
    std::atomic<bool> finished = false;
    PingPongResult page;
    {
        ClientThread client;
        client.thread = std::thread(PingPongClient, m_port, trips, window, std::cref(go), std::ref(page),
                                    std::ref(finished));
        const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);
        go = listed && EchoReply();
        if (!go)
            std::printf("ping-pong:     transparent reply could not be switched on\n");
        WaitUntil([&] { return finished.load(); }, 70000);
        DataReply();
        Stop([&] { client.thread.join(); });
    }

    PingPongResult limit;
    {
        int echoPort = 0;
        const int listener = OpenListener(echoPort, 1);
        std::atomic<bool> limitGo = listener >= 0;
        std::atomic<bool> limitFinished = false;
        ClientThread echo;
        if (listener >= 0)
            echo.thread = std::thread(EchoOneClient, listener);
        std::thread(PingPongClient, echoPort, trips, window, std::cref(limitGo), std::ref(limit),
                    std::ref(limitFinished))
            .join();
        if (echo.thread.joinable())
            echo.thread.join();
        if (listener >= 0)
            ::close(listener);
    }

    ReportPingPong(page, limit, trips, window, true);
}

void TrafficBench::Flood(long blocks)
{
    if (!BeginSection("flood", "flood:         "))
        return;
    BlockStream stream;
    stream.Start(m_port, blocks);
    const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);
    if (listed)
        AutoReplyOff();

    // Memory once the lists could be full, against memory at the end.
    const long markBlocks = std::min(500000L, blocks / 10);
    const qint64 markBytes = qint64(markBlocks) * kBlockSize;
    long markResident = 0;
    const qint64 total = qint64(blocks) * kBlockSize;
    QElapsedTimer clock;
    stream.go = true;
    clock.start();
    const bool complete = listed
                          && WaitUntil(
                              [&] {
                                  const qint64 rx = m_page->RxCount();
                                  if (markResident == 0 && rx >= markBytes)
                                      markResident = ResidentBytes();
                                  return rx >= total || (stream.finished && rx >= stream.sent);
                              },
                              120000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const long endResident = ResidentBytes();
    const qint64 rx = m_page->RxCount();
    const int displayLines = m_page->DataList()->GetCount();
    const int logLines = g_pSystemLogList->GetCount();
    stream.stop = true;
    Stop([&] { stream.client.thread.join(); });

    const double handled = double(rx) / kBlockSize;
    const double rate = handled / seconds;
    const double ratio = markResident > 0 ? double(endResident) / markResident : 0.0;
    std::printf(
        "flood:         %s: %.0f blocks in %.2f s, %.0f blocks/s (target >= 100,000/s: %s)%s\n",
        Verdict(complete && rx == total && rate >= 100000 && markResident > 0 && ratio <= 1.10), handled, seconds, rate,
        Verdict(rate >= 100000),
        complete && rx == total
            ? ""
            : qPrintable(
                QStringLiteral(" STOPPED at the time bound, %1 of %2 blocks").arg(qint64(handled)).arg(blocks)));
    std::printf("  resident %.1f MiB after %ld blocks, %.1f MiB at the end, ratio %.2f (target <= 1.10: %s);"
                " display list %d lines, system log %d lines\n",
                markResident / kMiB, markBlocks, endResident / kMiB, ratio, Verdict(markResident > 0 && ratio <= 1.10),
                displayLines, logLines);
    std::fflush(stdout);
}

// Many clients stream blocks at once for 5 s: the page must share its time between them
// and keep the window's timers running.
void TrafficBench::ManyFlooding(int clients)
{
    if (!BeginSection("many flooding", "many flooding: "))
        return;
    std::atomic<bool> go = false;
    std::atomic<bool> stop = false;
    std::vector<std::atomic<bool>> finished(clients);
    std::vector<std::atomic<long>> sent(clients);
    std::vector<ClientThread> threads(clients);
    for (int i = 0; i < clients; ++i)
        threads[i].thread = std::thread(StreamBlocks, m_port, 100000000L, -1L, std::cref(go), std::cref(stop),
                                        std::ref(sent[i]), std::ref(finished[i]));
    const bool listed = WaitUntil([&] { return Listed() == clients; }, 10000);

    QElapsedTimer clock;
    clock.start();
    TimerLateness ticker;
    go = true;
    ticker.Start();
    RunEventsFor(5000);
    ticker.Stop();
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 rx = m_page->RxCount();
    stop = true;
    Stop([&] {
        for (ClientThread &thread : threads)
            thread.thread.join();
    });
    const double maxLateMs = ticker.WorstMs();
    std::printf("many flooding: %s: %d clients listed %s, %.0f blocks/s for %.1f s, 10 ms timer late at most %.1f ms"
                " (target <= 250 ms: %s)\n",
                Verdict(listed && maxLateMs <= 250), clients, listed ? "yes" : "no", rx / double(kBlockSize) / seconds,
                seconds, maxLateMs, Verdict(maxLateMs <= 250));
    std::fflush(stdout);
}

void TrafficBench::Churn(int seconds)
{
    if (!BeginSection("churn", "churn:         "))
        return;
    ChurnState churn;
    std::atomic<bool> go = false;
    std::atomic<bool> steadyFinished = false;
    SteadyTally steady;
    ClientThread steadyThread;
    steadyThread.thread = std::thread(SteadyClient, m_port, Clock::duration(std::chrono::seconds(seconds + 30)),
                                      std::cref(go), std::cref(churn), std::ref(steady), std::ref(steadyFinished));
    const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);
    const bool armed = listed && EchoReply();
    QApplication::processEvents();
    churn.before = OpenDescriptors();
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    churn.pauseAt = static_cast<int>(std::max<rlim_t>(limit.rlim_cur / 2, limit.rlim_cur - 6000));
    std::atomic<bool> stopWatch = false;
    ClientThread watchThread;
    watchThread.thread = std::thread(WatchDescriptors, std::ref(churn),
                                     Clock::duration(std::chrono::seconds(seconds + 60)), std::cref(stopWatch));

    // On this thread: how late a 10 ms timer fires, and the highest client id listed.
    int highestId = HighestListedId();
    TimerLateness ticker;
    QObject::connect(&ticker.Timer(), &QTimer::timeout, [&] { highestId = std::max(highestId, HighestListedId()); });
    ticker.Start();

    go = armed;
    constexpr int kThreads = 4;
    std::array<ClientThread, kThreads> churners;
    churn.running = kThreads;
    const auto start = Clock::now();
    const auto deadline = start + std::chrono::seconds(seconds);
    for (int i = 0; i < kThreads; ++i)
        churners[static_cast<size_t>(i)].thread = std::thread(ChurnClients, m_port, deadline, 12345u + i,
                                                              std::ref(churn));
    // The steady client goes on for 2 s after the last churn thread was done.
    WaitUntil([&] { return churn.over && Clock::now() - churn.end.load() >= 2s; }, seconds * 1000 + 20000);
    ticker.Stop();
    WaitUntil([&] { return steadyFinished.load(); }, 3000);
    steadyThread.thread.join();
    for (ClientThread &churner : churners)
        churner.thread.join();
    stopWatch = true;
    watchThread.thread.join();
    const double churnSeconds = Seconds(churn.end.load() - start);

    // Still listening: a new client is listed.
    const bool listening = m_page->IsListening();
    const int probe = ConnectClient(m_port, false);
    const int idBeforeProbe = std::max(highestId, HighestListedId());
    const bool serving = listening && probe >= 0 && WaitUntil([&] { return HighestListedId() > idBeforeProbe; }, 3000);
    if (probe >= 0)
        ::close(probe);
    WaitUntil([this] { return Listed() == 0; }, 2000);
    DataReply();
    Stop();

    const long accepted = highestId >= 1000 ? highestId - 999 : 0;
    const double maxLateMs = ticker.WorstMs();
    const bool lateOk = maxLateMs <= 250;
    const long backAfterMs = churn.backAfterMs;
    const bool backOk = backAfterMs >= 0 && backAfterMs <= 2000;
    const bool echoesOk = steady.missedDuring == 0 && steady.missedAfter == 0 && !steady.closedByServer;
    const bool heldBack = churn.pausedMs > 0;
    std::printf("churn:         %s: %.1f s, %d threads opened %ld connections (%.0f/s; %ld failed to connect;"
                " %ld reset, %ld closed, %ld never read), server accepted %ld (highest id %d - 999, the steady"
                " client included; %.0f/s);"
                " still listening: %s, a new client listed within 3 s: %s%s\n",
                Verdict(armed && lateOk && backOk && echoesOk && serving && !heldBack), churnSeconds, kThreads,
                churn.opened.load(), churn.opened / churnSeconds, churn.failed.load(), churn.resets.load(),
                churn.closes.load(), churn.nonReaders.load(), accepted, highestId, accepted / churnSeconds,
                listening ? "yes" : "NO", serving ? "yes" : "NO", armed ? "" : " (transparent reply not on)");
    const QString back = backAfterMs >= 0
                             ? QStringLiteral("back in %1 s").arg(backAfterMs / 1000.0, 0, 'f', 2)
                             : QStringLiteral("NOT back, %1 2 s after the churn").arg(churn.countAfterTwoSeconds);
    std::printf("  steady client echoes: during the churn %d OK, %d missed; 2 s after %d OK, %d missed%s"
                " (all answered: %s);"
                " 10 ms timer late at most %.1f ms (target <= 250 ms: %s); descriptors %d before the churn, %s"
                " (target within 2 s: %s)\n",
                steady.okDuring.load(), steady.missedDuring.load(), steady.okAfter.load(), steady.missedAfter.load(),
                steady.closedByServer ? "; its connection was closed" : "", Verdict(echoesOk), maxLateMs,
                Verdict(lateOk), churn.before, qPrintable(back), Verdict(backOk));
    std::printf("  descriptors of this process peaked at %d (limit %llu)", churn.peak.load(),
                static_cast<unsigned long long>(limit.rlim_cur));
    if (heldBack)
        std::printf("; the churn held back %.2f s while above %d: the page fell behind and held the accepted sockets",
                    churn.pausedMs / 1000.0, churn.pauseAt);
    std::printf("\n");
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(argc, argv, "bench_tcp_traffic", {"slow", "pingpong", "flood", "churn", "many"},
                       [](const SectionChoice &choice, BoxAnswerer &) {
                           TrafficBench bench;
                           if (choice.Runs("slow"))
                               bench.SlowReader(static_cast<int>(choice.Sized(8, 1, 256)));
                           if (choice.Runs("pingpong"))
                               bench.PingPong(choice.Sized(110000, 1000, 10000000));
                           if (choice.Runs("flood"))
                               bench.Flood(choice.Sized(5000000, 10000, 50000000));
                           if (choice.Runs("churn"))
                               bench.Churn(static_cast<int>(choice.Sized(10, 1, 300)));
                           if (choice.Runs("many"))
                               bench.ManyFlooding(static_cast<int>(choice.Sized(32, 2, 500)));
                           bench.ReportDescriptors();
                           return 0;
                       });
}
