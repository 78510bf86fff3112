// The TCP server page under loopback traffic: accept latency, receive rate with the traffic
// log off and on, 2,000 clients at once, and sturdiness checks (resets, mass connect and
// close, a reply flood that fails, closing the window while listening, descriptor counts).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_tcp_server [blocks]
//
// blocks is the length of the receive runs with the traffic log off (default 100,000; up to
// 1,000,000 shows whether the cost per block stays flat as the display list grows); the runs
// with the traffic log on take at most 100,000. Each runs with the page shown, then hidden
// (as behind another tab: no painting). A receive run not done in 15 s (or blocks / 20,000 s)
// stops there and reports what it handled. Everything stays on 127.0.0.1.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/control_ids.h"
#include "pages/log/log_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "text/gbk.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_box.h"

namespace {

using namespace BenchSupport;

// Opens count connections as fast as it can, waits (at most 30 s) until the client side of
// each is established or failed, holds them until release, then closes them all.
void OpenMany(int port, int count, const std::atomic<bool> &release, std::atomic<int> &opened,
              std::atomic<int> &established, std::atomic<bool> &ready, std::atomic<bool> &finished)
{
    std::vector<int> sockets;
    sockets.reserve(count);
    for (int i = 0; i < count; ++i) {
        const int socket = ConnectClient(port, false);
        if (socket >= 0)
            sockets.push_back(socket);
    }
    opened = static_cast<int>(sockets.size());
    std::vector<pollfd> waiting;
    for (int socket : sockets)
        waiting.push_back({socket, POLLOUT, 0});
    QElapsedTimer clock;
    clock.start();
    int done = 0;
    while (done < static_cast<int>(waiting.size()) && clock.elapsed() < 30000) {
        ::poll(waiting.data(), waiting.size(), 100);
        for (pollfd &entry : waiting) {
            if (entry.fd < 0 || !(entry.revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(entry.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error == 0)
                ++established;
            ++done;
            entry.fd = -entry.fd - 1;  // poll skips negative descriptors
        }
    }
    ready = true;
    WaitFor(release, 70000);
    for (int socket : sockets)
        ::close(socket);
    finished = true;
}

int CountLogLines(const QString &fragment)
{
    int count = 0;
    for (int i = 0; i < g_pSystemLogList->GetCount(); ++i)
        if (FromGbk(g_pSystemLogList->GetText(i)).contains(fragment))
            ++count;
    return count;
}

class Bench : public PageBench
{
public:
    explicit Bench(BoxAnswerer &boxes)
        : m_boxes(boxes)
    {
    }

    void AcceptLatency();
    // filter: typed into the page's filter field for the run (empty: none).
    // Returns the blocks handled per second (0 when it could not run).
    double ReceiveRate(long blocks, bool trafficLog, bool pageShown, const QString &filter = QString());
    // Receive runs without a filter and with two, taken in turn for rounds, so the machine's
    // drift between runs falls on all three alike; prints the median of each.
    void FilterCost(long blocks, int rounds);
    void ManyAtOnce(int count);
    void ResetMidStream();
    void ConnectAndCloseTogether(int count);
    void ReplyFlood(long blocks);
    void CloseWindowWhileListening(int clients);

private:
    BoxAnswerer &m_boxes;
};

void Bench::AcceptLatency()
{
    m_section = "accept latency";
    if (!Listen()) {
        std::printf("accept latency:           FAIL (Listen refused)\n");
        return;
    }
    std::vector<double> latencies;
    int missed = 0;
    for (int i = 0; i < 200; ++i) {
        const int client = ConnectClient(m_port, false);
        QElapsedTimer clock;
        clock.start();
        if (client < 0 || !WaitUntil([this] { return Listed() == 1; }, 2000))
            ++missed;
        else
            latencies.push_back(clock.nsecsElapsed() / 1e6);
        if (client >= 0)
            ::close(client);
        WaitUntil([this] { return Listed() == 0; }, 2000);
    }
    Stop();
    std::printf("accept latency:           median %.3f ms, 95th percentile %.3f ms, max %.3f ms over %zu connects"
                " (%d missed) (target median <= 2 ms: %s)\n",
                Percentile(latencies, 0.5), Percentile(latencies, 0.95), Percentile(latencies, 1.0), latencies.size(),
                missed, Verdict(missed == 0 && Percentile(latencies, 0.5) <= 2.0));
    std::fflush(stdout);
}

double Bench::ReceiveRate(long blocks, bool trafficLog, bool pageShown, const QString &filter)
{
    m_section = QByteArray("receive, log ") + (trafficLog ? "on" : "off") + (pageShown ? ", shown" : ", hidden");
    QByteArray label = trafficLog ? (pageShown ? "log on,  shown " : "log on,  hidden")
                                  : (pageShown ? "log off, shown " : "log off, hidden");
    if (!filter.isEmpty())
        label += ", filter \"" + filter.toUtf8() + '"';
    auto *filterField = qobject_cast<QLineEdit *>(m_page->GetDlgItem(TcpServerIds::kFilter));
    filterField->setText(filter);
    QTemporaryDir temporary;
    const QString previousDir = QDir::currentPath();
    if (trafficLog) {
        QDir::setCurrent(temporary.path());
        m_boxes.AnswerText(kLogQuestion, QMessageBox::Yes);
    }
    if (!pageShown)
        m_page->hide();
    ClearLists();
    const bool listening = Listen();
    m_boxes.AnswerText(kLogQuestion, QMessageBox::No);
    if (!listening) {
        std::printf("receive, %s: FAIL (Listen refused)\n", label.constData());
        QDir::setCurrent(previousDir);
        m_page->show();
        return 0;
    }

    BlockStream stream;
    stream.Start(m_port, blocks);
    const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);

    // The time at which each further 1,000 blocks had been handled.
    constexpr qint64 kMarkBytes = 1000 * kBlockSize;
    std::vector<qint64> marks;
    marks.reserve(blocks / 1000 + 1);
    const qint64 total = qint64(blocks) * kBlockSize;
    QElapsedTimer clock;
    stream.go = true;
    clock.start();
    const int limitMs = static_cast<int>(std::max<long>(15000, blocks / 20));
    const bool complete = listed
                          && WaitUntil(
                              [&] {
                                  const qint64 rx = m_page->RxCount();
                                  while (rx >= qint64(marks.size() + 1) * kMarkBytes)
                                      marks.push_back(clock.nsecsElapsed());
                                  return rx >= total || (stream.finished && rx >= stream.sent);
                              },
                              limitMs);
    const qint64 elapsedNs = clock.nsecsElapsed();
    const qint64 rx = m_page->RxCount();
    const int displayLines = m_page->DataList()->GetCount();
    const int shownLines = m_page->DataList()->model()->rowCount();
    const int logLines = g_pSystemLogList->GetCount();
    stream.stop = true;
    if (complete)
        WaitUntil([this] { return Listed() == 0; }, 5000);
    const qint64 logBytes = trafficLog ? QFileInfo(temporary.filePath(QStringLiteral("logtcp.txt"))).size() : 0;
    // Stop resets a client still sending, so it ends before the descriptors are counted.
    Stop([&] { stream.client.thread.join(); });
    QDir::setCurrent(previousDir);
    m_page->show();
    QApplication::processEvents();

    const double handled = double(rx) / kBlockSize;
    const double rate = handled / (elapsedNs / 1e9);
    std::printf("receive, %s: %.0f blocks/s (%.0f blocks in %.2f s; %d display lines, %d shown, %d system log lines",
                label.constData(), rate, handled, elapsedNs / 1e9, displayLines, shownLines, logLines);
    if (trafficLog)
        std::printf(", logtcp.txt %lld bytes", static_cast<long long>(logBytes));
    std::printf(")");
    if (!complete || rx != total)
        std::printf(" STOPPED at the time bound, %ld of %ld blocks", static_cast<long>(handled), blocks);
    if (!trafficLog)
        std::printf(" (target >= 50,000/s: %s)", Verdict(rate >= 50000));
    std::printf("\n");
    const size_t tenth = marks.size() / 10;
    if (tenth > 0) {
        const double firstCost = double(marks[tenth - 1]) / (tenth * 1000.0);
        const double lastCost = double(marks.back() - marks[marks.size() - 1 - tenth]) / (tenth * 1000.0);
        std::printf("  per block, first 10%% of those handled: %.0f ns; last 10%% (display list near %d lines): %.0f ns"
                    " (ratio %.2f, flat if <= 1.5)\n",
                    firstCost, displayLines, lastCost, lastCost / firstCost);
    }
    filterField->clear();
    std::fflush(stdout);
    return rate;
}

void Bench::FilterCost(long blocks, int rounds)
{
    const QStringList filters{QString(), QStringLiteral("127.0.0.1"), QStringLiteral("QQQ")};
    std::vector<std::vector<double>> rates(filters.size());
    for (int round = 0; round < rounds; ++round)
        for (qsizetype i = 0; i < filters.size(); ++i)
            rates[i].push_back(ReceiveRate(blocks, false, true, filters[i]));
    const double unfiltered = Percentile(rates[0], 0.5);
    for (qsizetype i = 1; i < filters.size(); ++i) {
        const double filtered = Percentile(rates[i], 0.5);
        std::printf("filter \"%s\": median %.0f blocks/s against %.0f without a filter over %d rounds (%+.1f %%;"
                    " target within 10 %%: %s)\n",
                    qPrintable(filters[i]), filtered, unfiltered, rounds, 100.0 * (filtered / unfiltered - 1),
                    Verdict(filtered >= 0.9 * unfiltered));
    }
    std::fflush(stdout);
}

void Bench::ManyAtOnce(int count)
{
    m_section = "clients at once";
    ClearLists();
    if (!Listen()) {
        std::printf("%d clients at once:      FAIL (Listen refused)\n", count);
        return;
    }
    const int listening = OpenDescriptors();
    const std::map<QByteArray, long> before = NetCounters(QStringLiteral("/proc/net/netstat"), "TcpExt:");
    std::atomic<bool> release = false;
    std::atomic<bool> ready = false;
    std::atomic<bool> finished = false;
    std::atomic<int> opened = 0;
    std::atomic<int> established = 0;
    QElapsedTimer clock;
    clock.start();
    ClientThread client;
    client.thread = std::thread(OpenMany, m_port, count, std::cref(release), std::ref(opened), std::ref(established),
                                std::ref(ready), std::ref(finished));
    int peak = 0;
    qint64 lastListedNs = 0;
    const bool all = WaitUntil(
        [&] {
            if (Listed() > peak) {
                peak = Listed();
                lastListedNs = clock.nsecsElapsed();
            }
            return peak == count;
        },
        20000);
    WaitUntil([&] { return ready.load(); }, 35000);
    // Server sockets the worker accepted, whether listed yet or not.
    const int accepted = OpenDescriptors() - listening - opened;
    const std::map<QByteArray, long> after = NetCounters(QStringLiteral("/proc/net/netstat"), "TcpExt:");
    release = true;
    client.thread.join();
    const bool emptied = WaitUntil([this] { return Listed() == 0; }, 30000);
    Stop();

    auto delta = [&](const char *name) {
        return after.count(name) && before.count(name) ? after.at(name) - before.at(name) : -1L;
    };
    std::printf("%d clients at once:      %s: %d of %d listed, the last after %.3f s%s (client side: %d opened,"
                " %d established; server side: %d accepted); all gone after close: %s\n",
                count, Verdict(all), peak, count, lastListedNs / 1e9, all ? "" : " (waited 20 s)", opened.load(),
                established.load(), accepted, Verdict(emptied));
    std::printf("  kernel listen queue: ListenOverflows %ld, ListenDrops %ld, SyncookiesSent %ld,"
                " SyncookiesRecv %ld, SyncookiesFailed %ld\n",
                delta("ListenOverflows"), delta("ListenDrops"), delta("SyncookiesSent"), delta("SyncookiesRecv"),
                delta("SyncookiesFailed"));
    std::fflush(stdout);
}

void Bench::ResetMidStream()
{
    m_section = "reset mid-stream";
    ClearLists();
    if (!Listen()) {
        std::printf("client resets mid-stream: FAIL (Listen refused)\n");
        return;
    }
    BlockStream stream;
    stream.go = true;
    // 40,000 blocks would be sent; the reset comes after 20,000, with data still unread.
    stream.Start(m_port, 40000L, 20000L);
    const bool listed = WaitUntil([&] { return Listed() == 1 || stream.finished; }, 5000);
    const bool gone = WaitUntil([&] { return stream.finished && Listed() == 0; }, 20000);
    stream.client.thread.join();
    const QString newest = g_pSystemLogList->GetCount() ? FromGbk(g_pSystemLogList->GetText(0)) : QString();
    const bool closeLine = newest.contains(QStringLiteral("断开与服务器的连接"))
                           && newest.contains(QStringLiteral("127.0.0.1:"))
                           && !newest.contains(QStringLiteral("0.0.0.0"));
    // Still serving: a new client is listed.
    const int next = ConnectClient(m_port, false);
    const bool serving = WaitUntil([this] { return Listed() == 1; }, 2000);
    ::close(next);
    WaitUntil([this] { return Listed() == 0; }, 2000);
    Stop();
    std::printf("client resets mid-stream: %s (listed %d, removed %d, close line \"%s\", RX %lld of %ld sent,"
                " still accepting %d)\n",
                Verdict(listed && gone && closeLine && serving), listed, gone, qPrintable(newest.trimmed()),
                static_cast<long long>(m_page->RxCount()), stream.sent.load(), serving);
    std::fflush(stdout);
}

void Bench::ConnectAndCloseTogether(int count)
{
    m_section = "connect and close";
    ClearLists();
    if (!Listen()) {
        std::printf("%d connect and close:    FAIL (Listen refused)\n", count);
        return;
    }
    const int listening = OpenDescriptors();
    std::atomic<bool> release = true;  // closed as soon as the client side is established
    std::atomic<bool> ready = false;
    std::atomic<bool> finished = false;
    std::atomic<int> opened = 0;
    std::atomic<int> established = 0;
    QElapsedTimer clock;
    clock.start();
    ClientThread client;
    client.thread = std::thread(OpenMany, m_port, count, std::cref(release), std::ref(opened), std::ref(established),
                                std::ref(ready), std::ref(finished));
    int peak = 0;
    const bool settled = WaitUntil(
        [&] {
            peak = std::max(peak, Listed());
            return finished && Listed() == 0
                   && CountLogLines(QStringLiteral("连接到本机"))
                          == CountLogLines(QStringLiteral("断开与服务器的连接"));
        },
        60000);
    // Stragglers still in the accept queue arrive closed; give them a moment.
    RunEventsFor(300);
    client.thread.join();
    const int connected = CountLogLines(QStringLiteral("连接到本机"));
    const int closed = CountLogLines(QStringLiteral("断开与服务器的连接"));
    const int stillListening = OpenDescriptors();
    const bool ok = settled && Listed() == 0 && connected == closed && stillListening == listening;
    Stop();
    std::printf("%d connect and close:    %s (client side %d established; server: %d connect lines, %d close lines,"
                " most listed %d, descriptors while listening %d -> %d, settled in %.2f s)\n",
                count, Verdict(ok), established.load(), connected, closed, peak, listening, stillListening,
                clock.nsecsElapsed() / 1e9);
    std::fflush(stdout);
}

void Bench::ReplyFlood(long blocks)
{
    m_section = "reply flood";
    ClearLists();
    if (!Listen()) {
        std::printf("reply flood:              FAIL (Listen refused)\n");
        return;
    }
    BlockStream stream;
    stream.Start(m_port, blocks);
    const bool listed = WaitUntil([this] { return Listed() == 1; }, 5000);

    Item<QLineEdit>(TcpServerIds::kSendBox)->setText(QStringLiteral("1 2 3"));  // three digits: odd length
    auto *hexSend = Item<QCheckBox>(TcpServerIds::kHexSend);
    auto *autoReply = Item<QCheckBox>(TcpServerIds::kAutoReply);
    if (!hexSend->isChecked())
        hexSend->click();
    autoReply->click();
    const bool armed = hexSend->isChecked() && autoReply->isChecked();

    m_boxes.StartTally(1000);
    QElapsedTimer clock;
    stream.go = true;
    clock.start();
    const qint64 total = qint64(blocks) * kBlockSize;
    const bool complete = listed
                          && WaitUntil(
                              [&] {
                                  const qint64 rx = m_page->RxCount();
                                  return rx >= total || (stream.finished && rx >= stream.sent);
                              },
                              30000);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const bool gone = WaitUntil([this] { return Listed() == 0; }, 5000);
    stream.stop = true;
    const BoxAnswerer::Tally boxes = m_boxes.EndTally();
    const qint64 rx = m_page->RxCount();
    const qint64 tx = m_page->TxCount();
    Stop([&] { stream.client.thread.join(); });
    hexSend->setChecked(false);
    Item<QLineEdit>(TcpServerIds::kSendBox)->clear();

    const bool ok = armed && complete && rx == total && gone && boxes.boxes >= 1 && boxes.maxOpen <= 1 && tx == 0
                    && boxes.lastText == QStringLiteral("输入格式不符合要求!");
    std::printf("reply flood, odd hex:     %s (%ld blocks in %.2f s, RX %lld, TX %lld, %d boxes \"%s\","
                " most open at once %d)\n",
                Verdict(ok), blocks, seconds, static_cast<long long>(rx), static_cast<long long>(tx), boxes.boxes,
                qPrintable(boxes.lastText), boxes.maxOpen);
    std::fflush(stdout);
}

void Bench::CloseWindowWhileListening(int clients)
{
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
    const int before = OpenDescriptors();
    ClearLists();
    if (!Listen()) {
        std::printf("window closed listening:  FAIL (Listen refused)\n");
        return;
    }
    std::vector<int> sockets;
    bool listed = true;
    for (int i = 0; i < clients; ++i) {
        sockets.push_back(ConnectClient(m_port, false));
        listed = listed && WaitUntil([&] { return Listed() == i + 1; }, 2000);
    }
    QElapsedTimer clock;
    clock.start();
    m_page->close();
    m_page.reset();
    const double closeMs = clock.nsecsElapsed() / 1e6;
    for (int socket : sockets)
        ::close(socket);
    RunEventsFor(200);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    const int after = OpenDescriptors();
    std::printf("window closed listening:  %s (%d clients listed: %s, page gone in %.1f ms, descriptors %d -> %d)\n",
                Verdict(listed && after == before), clients, listed ? "yes" : "no", closeMs, before, after);
    std::fflush(stdout);
}

bool RaiseDescriptorLimit(rlim_t wanted)
{
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur >= wanted)
        return true;
    if (limit.rlim_max < wanted)
        limit.rlim_max = wanted;  // only works with the privilege to raise the hard limit
    limit.rlim_cur = wanted;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    BenchProcess process(argc, argv);
    const long blocks = argc > 1 ? std::clamp(std::atol(argv[1]), 10000L, 1000000L) : 100000L;

    if (!RaiseDescriptorLimit(8192)) {
        std::printf("cannot raise RLIMIT_NOFILE to 8192; the 2,000-client figure needs it\n");
        return 1;
    }

    BoxAnswerer boxes;
    AnswerAsUser(boxes);
    {
        Bench bench(boxes);
        bench.AcceptLatency();
        bench.ReceiveRate(blocks, false, true);
        // Every line matches the first filter (the most work per line), none the second.
        bench.FilterCost(blocks, 3);
        bench.ReceiveRate(std::min(blocks, 100000L), true, true);
        bench.ReceiveRate(blocks, false, false);
        bench.ReceiveRate(std::min(blocks, 100000L), true, false);
        bench.ManyAtOnce(2000);
        bench.ResetMidStream();
        bench.ConnectAndCloseTogether(1000);
        bench.ReplyFlood(5000);
        bench.ReportDescriptors();
        bench.CloseWindowWhileListening(20);
    }
    process.ReportWallTime();
    return 0;
}
