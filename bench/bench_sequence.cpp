// A command sequence's timing: 1,000 steps of 10 ms sent through a TcpSendPath on a loopback
// connection to a peer thread that stamps each arrival, with the TCP server page on the same
// thread idle (quiet) or receiving a BlockStream as fast as it reads (flood). Reports how far
// each send was from its planned time, at the send call on this thread and at the arrival.
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_sequence [quiet|flood|all] [steps]
//
// steps defaults to 1,000 (100 ... 100,000). Targets: median <= 1 ms, 99th percentile <= 5 ms.
// Everything stays on 127.0.0.1.
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "traffic/commands/sequence_runner.h"
#include "traffic/tcp_send_path.h"

namespace {

using namespace BenchSupport;

constexpr qint64 kStepMs = 10;
constexpr int kRecordSize = 16;  // "%010d step\n" and a padding space

// The peer: accepts one connection and stamps the arrival of each record, until it has
// count of them, stop, or 60 s.
void StampArrivals(int listener, int count, const std::atomic<bool> &stop, std::vector<Clock::time_point> &arrivals)
{
    const int socket = ::accept(listener, nullptr, nullptr);
    if (socket < 0)
        return;
    SetTimeouts(socket, 100);
    const auto end = Clock::now() + std::chrono::seconds(60);
    char buffer[4096];
    qint64 received = 0;
    while (int(arrivals.size()) < count && !stop && Clock::now() < end) {
        const ssize_t got = ::recv(socket, buffer, sizeof buffer, 0);
        if (got == 0)
            break;
        if (got < 0)
            continue;
        const auto now = Clock::now();
        received += got;
        while (qint64(arrivals.size() + 1) * kRecordSize <= received)
            arrivals.push_back(now);
    }
    ::close(socket);
}

struct Lateness
{
    std::vector<double> atSend;
    std::vector<double> atArrival;
};

class Bench : public PageBench
{
public:
    void Run(const char *label, int steps, bool flood);
};

void Bench::Run(const char *label, int steps, bool flood)
{
    if (!BeginSection(flood ? "flood" : "quiet", label))
        return;
    BlockStream stream;
    bool listed = true;
    if (flood) {
        stream.Start(m_port, 1000000000L);
        listed = WaitUntil([this] { return Listed() == 1; }, 5000);
        stream.go = true;
        RunEventsFor(300);  // the flood under way before the first step
    }

    int peerPort = 0;
    const int listener = OpenListener(peerPort, 1);
    std::atomic<bool> stopPeer = false;
    std::vector<Clock::time_point> arrivals;
    arrivals.reserve(steps);
    ClientThread peer;
    peer.thread = std::thread(StampArrivals, listener, steps, std::cref(stopPeer), std::ref(arrivals));
    const int socket = ConnectClient(peerPort, true);
    SetBlocking(socket, false);

    std::vector<Command> commands(steps);
    Sequence sequence;
    sequence.loops = 1;
    for (int i = 0; i < steps; ++i) {
        char text[kRecordSize + 1];
        std::snprintf(text, sizeof text, "%010d step\n", i);
        commands[i].id = quint64(i + 1);
        commands[i].name = QString::number(i);
        commands[i].text = QString::fromLatin1(text);
        sequence.steps.append({quint64(i + 1), kStepMs});
    }

    TcpSendPath path;
    Clock::time_point start;
    std::vector<Clock::time_point> sends;
    sends.reserve(steps);
    SequenceRunner runner(
        [&](const Command &command) {
            sends.push_back(Clock::now());
            return path.Send(socket, command.text.toLatin1());
        },
        [&] { return path.Queued(socket) == 0; });
    bool ended = false;
    SequenceRunner::End end = SequenceRunner::End::Stopped;
    QObject::connect(&runner, &SequenceRunner::Ended, [&](SequenceRunner::End how) {
        ended = true;
        end = how;
    });
    const qint64 rxBefore = m_page->RxCount();
    QElapsedTimer clock;
    clock.start();
    start = Clock::now();
    const bool started = runner.Start(sequence, [&](quint64 id) { return &commands[id - 1]; });
    WaitUntil([&] { return ended; }, int(steps * kStepMs + 30000));
    const double seconds = clock.nsecsElapsed() / 1e9;
    const qint64 blocks = (m_page->RxCount() - rxBefore) / kBlockSize;
    runner.Stop();
    WaitUntil([&] { return int(arrivals.size()) >= steps; }, 5000);
    stopPeer = true;
    peer.thread.join();
    path.Forget(socket);
    ::close(socket);
    ::close(listener);
    stream.stop = true;
    Stop([&] {
        if (stream.client.thread.joinable())
            stream.client.thread.join();
    });

    Lateness late;
    auto offMs = [&](Clock::time_point at, int step) {
        const auto planned = start + std::chrono::milliseconds(step * kStepMs);
        return std::abs(std::chrono::duration<double, std::milli>(at - planned).count());
    };
    for (size_t i = 0; i < sends.size(); ++i)
        late.atSend.push_back(offMs(sends[i], int(i)));
    for (size_t i = 0; i < arrivals.size(); ++i)
        late.atArrival.push_back(offMs(arrivals[i], int(i)));
    const bool complete = started && listed && ended && end == SequenceRunner::End::Done && int(sends.size()) == steps
                          && int(arrivals.size()) == steps;
    std::printf("%s%d steps of %lld ms in %.2f s, %s", label, steps, static_cast<long long>(kStepMs), seconds,
                complete ? "all sent and arrived" : "INCOMPLETE");
    if (flood)
        std::printf(", page received %.0f blocks/s meanwhile", blocks / seconds);
    std::printf("\n");
    const char *where[] = {"at the send call", "at arrival      "};
    const std::vector<double> *figures[] = {&late.atSend, &late.atArrival};
    for (int i = 0; i < 2; ++i) {
        const double median = Percentile(*figures[i], 0.5);
        const double p99 = Percentile(*figures[i], 0.99);
        std::printf("  |actual - planned| %s: median %.3f ms, 99th percentile %.3f ms, max %.3f ms"
                    " (target median <= 1 ms, p99 <= 5 ms: %s)\n",
                    where[i], median, p99, Percentile(*figures[i], 1.0),
                    Verdict(complete && median <= 1.0 && p99 <= 5.0));
    }
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(argc, argv, "bench_sequence", {"quiet", "flood"},
                       [](const SectionChoice &choice, BoxAnswerer &) {
                           Bench bench;
                           const int steps = int(choice.Sized(1000, 100, 100000));
                           if (choice.Runs("quiet"))
                               bench.Run("sequence, quiet: ", steps, false);
                           if (choice.Runs("flood"))
                               bench.Run("sequence, flood: ", steps, true);
                           bench.ReportDescriptors();
                           return bench.DescriptorsBalanced() ? 0 : 1;
                       });
}
