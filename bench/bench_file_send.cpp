// What sending a file costs. tcp: a file (default 1 GiB) through TcpSendPath on this thread
// to a sink thread that reads and discards, against a plain read()+send() loop of the same
// file on a thread of its own to the same kind of sink; the resident memory during the send
// and the worst lateness of a 10 ms timer on this thread. udp: a file (default 256 MiB) as
// 1024-byte datagrams as fast as the socket takes them through UdpFileSender, to a receiving
// thread that counts what arrives.
//
//   ./build/bench/bench_file_send [tcp|udp|all] [MiB]
//
// The file is written with a pattern in a temporary directory first (and is then in the page
// cache for both senders). Targets: the path at least half the plain loop's rate, the timer
// at most 50 ms late. Everything stays on 127.0.0.1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"
#include "traffic/tcp_send_path.h"
#include "traffic/udp_file_sender.h"

namespace {

using BenchSupport::Clock;
using BenchSupport::Seconds;

constexpr qint64 kMiB = 1 << 20;
constexpr size_t kPlainChunk = 256 * 1024;

bool WritePatternFile(const QString &path, qint64 bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(kMiB, Qt::Uninitialized);
    for (qint64 at = 0; at < bytes; at += kMiB) {
        for (qint64 i = 0; i < kMiB; ++i)
            block[i] = static_cast<char>((at + i) * 131 + ((at + i) >> 8));
        if (file.write(block.constData(), std::min(kMiB, bytes - at)) < 0)
            return false;
    }
    return file.flush();
}

// Accepts one connection and reads it to its end, discarding; keeps the count and the time
// of the last byte.
struct Sink
{
    int port = 0;
    int listener = -1;
    std::atomic<qint64> got = 0;
    Clock::time_point last;
    std::thread thread;

    Sink()
    {
        listener = OpenListener(port, 1);
        thread = std::thread([this] {
            const int socket = ::accept(listener, nullptr, nullptr);
            std::vector<char> piece(kPlainChunk);
            for (ssize_t n; socket >= 0 && (n = ::recv(socket, piece.data(), piece.size(), 0)) > 0;) {
                got += n;
                last = Clock::now();
            }
            if (socket >= 0)
                ::close(socket);
        });
    }
    ~Sink()
    {
        if (thread.joinable())
            thread.join();
        ::close(listener);
    }
};

// The baseline: read() and a blocking send() of each chunk, nothing else.
double PlainSend(const QString &path, qint64 bytes)
{
    Sink sink;
    const int socket = ConnectClient(sink.port, true);
    const int file = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    std::vector<char> chunk(kPlainChunk);
    const Clock::time_point start = Clock::now();
    std::thread sender([&] {
        for (ssize_t n; (n = ::read(file, chunk.data(), chunk.size())) > 0;) {
            if (!SendAll(socket, chunk.data(), size_t(n)))
                break;
        }
        ::shutdown(socket, SHUT_WR);
    });
    sender.join();
    sink.thread.join();
    ::close(file);
    ::close(socket);
    if (sink.got != bytes)
        std::printf("plain send: FAIL, the sink got %lld of %lld bytes\n", qlonglong(sink.got), qlonglong(bytes));
    return sink.got / Seconds(sink.last - start) / 1e6;
}

// Samples the resident memory every 20 ms on this thread; keeps the most.
struct ResidentSampler
{
    QTimer timer;
    long most = 0;
    ResidentSampler()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { most = std::max(most, ResidentBytes()); });
        timer.start(20);
    }
};

int BenchTcp(const QString &path, qint64 bytes)
{
    std::printf("tcp: a %lld MiB file to a sink thread on 127.0.0.1\n", qlonglong(bytes / kMiB));
    const double plain = PlainSend(path, bytes);
    std::printf("  plain read()+send() loop   %8.0f MB/s\n", plain);

    Sink sink;
    const int socket = ConnectClient(sink.port, true);
    SetBlocking(socket, false);
    auto file = std::make_unique<QFile>(path);
    file->open(QIODevice::ReadOnly);
    TcpSendPath sendPath;
    qint64 counted = 0;
    int progress = 0;
    std::optional<FileEnd> end;
    QObject::connect(&sendPath, &TcpSendPath::BytesSent, [&](int, qint64 bytes) { counted += bytes; });
    QObject::connect(&sendPath, &TcpSendPath::FileProgress, [&](int, qint64, qint64) { ++progress; });
    QObject::connect(&sendPath, &TcpSendPath::FileEnded, [&](int, FileEnd how) { end = how; });

    const long residentBefore = ResidentBytes();
    ResidentSampler resident;
    BenchSupport::TimerLateness lateness;
    lateness.Start();
    const Clock::time_point start = Clock::now();
    sendPath.SendFile(socket, std::move(file));
    WaitUntil([&] { return end.has_value(); }, 600000);
    lateness.Stop();
    resident.most = std::max(resident.most, ResidentBytes());
    sendPath.Forget(socket);
    ::shutdown(socket, SHUT_WR);
    sink.thread.join();
    ::close(socket);

    const double rate = sink.got / Seconds(sink.last - start) / 1e6;
    const bool whole = end == FileEnd::Done && sink.got == bytes && counted == bytes;
    std::printf("  TcpSendPath::SendFile      %8.0f MB/s  %s (the sink got %lld bytes, TX %lld, %d progress signals)\n",
                rate, whole ? "whole" : "FAIL", qlonglong(sink.got.load()), qlonglong(counted), progress);
    std::printf("  ratio                      %8.2f  (target >= 0.5)  %s\n", rate / plain,
                BenchSupport::Verdict(rate / plain >= 0.5));
    std::printf("  resident memory            %8.1f MiB before, %.1f MiB at most while sending\n",
                residentBefore / double(kMiB), resident.most / double(kMiB));
    std::printf("  10 ms timer's worst lateness %6.1f ms  (target <= 50)  %s\n", lateness.WorstMs(),
                BenchSupport::Verdict(lateness.WorstMs() <= 50));
    return whole && rate / plain >= 0.5 && lateness.WorstMs() <= 50 ? 0 : 1;
}

int BenchUdp(const QString &path, qint64 bytes)
{
    constexpr int kDatagram = 1024;
    std::printf("udp: a %lld MiB file in %d-byte datagrams, unlimited rate, to a thread on 127.0.0.1\n",
                qlonglong(bytes / kMiB), kDatagram);
    const int receiver = UdpSocket(0);
    const int big = 64 << 20;
    if (::setsockopt(receiver, SOL_SOCKET, SO_RCVBUFFORCE, &big, sizeof big) != 0)
        ::setsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    int buffer = 0;
    socklen_t length = sizeof buffer;
    ::getsockopt(receiver, SOL_SOCKET, SO_RCVBUF, &buffer, &length);
    SetTimeouts(receiver, 300);
    std::atomic<qint64> received = 0;
    std::atomic<bool> senderDone = false;
    std::thread receiving([&] {
        char piece[65536];
        // Ends once the sender is done and nothing came for 300 ms.
        for (;;) {
            const ssize_t n = ::recv(receiver, piece, sizeof piece, 0);
            if (n > 0)
                ++received;
            else if (senderDone)
                break;
        }
    });

    const int sender = UdpSocket(0, LocalPort(receiver));
    SetBlocking(sender, false);
    qint64 retries = 0;
    UdpFileSender fileSender([&](QByteArrayView datagram) -> qint64 {
        const ssize_t sent = ::send(sender, datagram.data(), size_t(datagram.size()), 0);
        retries += sent < 0 && (errno == EAGAIN || errno == ENOBUFS);
        return sent;
    });
    qint64 datagrams = 0;
    std::optional<FileEnd> end;
    QObject::connect(&fileSender, &UdpFileSender::Progress, [&](qint64, qint64, qint64 count) { datagrams = count; });
    QObject::connect(&fileSender, &UdpFileSender::Ended, [&](FileEnd how) { end = how; });
    auto file = std::make_unique<QFile>(path);
    file->open(QIODevice::ReadOnly);

    BenchSupport::TimerLateness lateness;
    lateness.Start();
    const Clock::time_point start = Clock::now();
    fileSender.Start(std::move(file), kDatagram, 0);
    WaitUntil([&] { return end.has_value(); }, 600000);
    const double seconds = Seconds(Clock::now() - start);
    lateness.Stop();
    senderDone = true;
    receiving.join();
    ::close(sender);
    ::close(receiver);

    const qint64 expected = (bytes + kDatagram - 1) / kDatagram;
    const bool whole = end == FileEnd::Done && datagrams == expected;
    std::printf("  sent          %lld datagrams in %.2f s: %.0f datagrams/s (%.0f MB/s)  %s, %lld tries again\n",
                qlonglong(datagrams), seconds, datagrams / seconds, datagrams * double(kDatagram) / seconds / 1e6,
                whole ? "whole" : "FAIL", qlonglong(retries));
    std::printf("  received      %lld datagrams (receive buffer %d bytes): %.1f %% lost\n", qlonglong(received.load()),
                buffer, 100.0 * double(datagrams - received) / double(std::max<qint64>(datagrams, 1)));
    std::printf("  10 ms timer's worst lateness %6.1f ms  (target <= 50)  %s\n", lateness.WorstMs(),
                BenchSupport::Verdict(lateness.WorstMs() <= 50));
    return whole && lateness.WorstMs() <= 50 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QByteArray section = argc > 1 ? QByteArray(argv[1]) : QByteArray("all");
    if (section != "tcp" && section != "udp" && section != "all") {
        std::printf("usage: bench_file_send [tcp|udp|all] [MiB]\n");
        return 2;
    }
    const qint64 asked = argc > 2 ? std::clamp(std::atoll(argv[2]), 1LL, 65536LL) * kMiB : 0;
    QTemporaryDir dir;
    int failed = 0;
    for (const char *name : {"tcp", "udp"}) {
        if (section != "all" && section != name)
            continue;
        const bool tcp = QByteArray(name) == "tcp";
        const qint64 bytes = asked > 0 ? asked : (tcp ? 1024 : 256) * kMiB;
        const QString path = dir.filePath(QString::number(bytes));
        if (!QFile::exists(path) && !WritePatternFile(path, bytes)) {
            std::printf("%s: FAIL, cannot write %s\n", name, qPrintable(path));
            return 1;
        }
        failed += tcp ? BenchTcp(path, bytes) : BenchUdp(path, bytes);
    }
    return failed;
}
