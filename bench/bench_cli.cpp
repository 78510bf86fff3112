// velvane-cli tcp-server beside plain C on 127.0.0.1. Figures only; nothing here fails on speed.
//
//   ./build/bench/bench_cli [pingpong|flood|memory|all] [size]
//
// pingpong  one client, 1-byte messages, each sent after the last one's echo came back, in
//           alternate batches against `tcp-server --echo` (stdout to /dev/null) and a C echo
//           server (a poll loop that reads and writes back); size: round trips per batch.
// flood     one client sends 256-byte blocks (one send each) and closes; the time runs until
//           the server has read them all and closed too. Into `tcp-server` with stdout to
//           /dev/null, into it with stdout to a file, into it with --parts (256-byte reads, as
//           the GUI page without 大数据) and into a C reader that only reads (the limit), in turn
//           for three rounds; size: blocks per run (default 1,000,000).
// memory    VmRSS of `tcp-server` (stdout to /dev/null) every 1,000,000 of 10,000,000 blocks.
//
// VELVANE_CLI names another velvane-cli to run (one built before a change, say).
// TCP keeps no block boundaries: a read is not a block. Blocks are the bytes that arrived / 256.
// The GUI page's figure for the same flood is bench_tcp_server's "receive, log off" lines.
#include <QByteArray>
#include <QList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/loopback_sockets.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBlockSize = 256;

double Seconds(Clock::duration duration)
{
    return std::chrono::duration<double>(duration).count();
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double UsageSeconds(const rusage &usage)
{
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double ThreadCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_THREAD, &usage);
    return UsageSeconds(usage);
}

// velvane-cli as a child with its stdout on a descriptor of ours.
class CliChild
{
public:
    bool Start(const std::vector<std::string> &args, int stdoutFd)
    {
        const char *program = std::getenv("VELVANE_CLI");
        std::vector<std::string> all{program ? program : VELVANE_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &arg : all)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd, STDOUT_FILENO);
        const bool started = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!started)
            m_pid = -1;
        return started;
    }
    pid_t Pid() const { return m_pid; }
    // SIGTERM and its exit status (-1 when it did not end normally).
    int Stop()
    {
        if (m_pid < 0)
            return -1;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        rusage usage{};
        ::wait4(m_pid, &status, 0, &usage);
        m_cpuSeconds = UsageSeconds(usage);
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    // User and system time of its whole life, once stopped.
    double CpuSeconds() const { return m_cpuSeconds; }
    ~CliChild() { Stop(); }

private:
    pid_t m_pid = -1;
    double m_cpuSeconds = 0;
};

// A connection to the port once something listens there (at most 5 s).
int ConnectWhenListening(int port)
{
    for (int i = 0; i < 500; ++i) {
        const int socket = ConnectClient(port, true);
        if (socket >= 0)
            return socket;
        ::usleep(10000);
    }
    return -1;
}

// Starts tcp-server on a free port with the options, stdout to stdoutFd, and connects to it.
int StartCliAndConnect(CliChild &cli, std::vector<std::string> options, int stdoutFd)
{
    const int port = FreePort();
    options.insert(options.begin(), {"tcp-server", "127.0.0.1:" + std::to_string(port)});
    if (!cli.Start(options, stdoutFd))
        return -1;
    return ConnectWhenListening(port);
}

long ResidentKb(pid_t pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE *file = std::fopen(path.c_str(), "r");
    if (!file)
        return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, file))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1)
            break;
    std::fclose(file);
    return kb;
}

// ---- the plain C peers ----

// Accepts on listener until stop and sends back whatever each client sends.
void CEchoServer(int listener, const std::atomic<bool> &stop, double &cpuSeconds)
{
    std::vector<pollfd> fds{{listener, POLLIN, 0}};
    std::vector<char> buffer(64 * 1024);
    while (!stop) {
        if (::poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0)
                fds.push_back({client, POLLIN, 0});
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            const ssize_t n = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (n <= 0 || !SendAll(fds[i].fd, buffer.data(), size_t(n))) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        fds.erase(std::remove_if(fds.begin() + 1, fds.end(), [](const pollfd &entry) { return entry.fd < 0; }),
                  fds.end());
    }
    for (size_t i = 1; i < fds.size(); ++i)
        ::close(fds[i].fd);
    cpuSeconds = ThreadCpuSeconds();
}

// Accepts one client and reads until it closes; the bytes read.
void CReader(int listener, std::atomic<long> &bytes, double &cpuSeconds)
{
    const int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0)
        return;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(client, buffer.data(), buffer.size());
        if (n <= 0)
            break;
        bytes += n;
    }
    ::close(client);
    cpuSeconds = ThreadCpuSeconds();
}

// ---- ping-pong ----

// trips 1-byte round trips; false when an echo is missing or wrong.
bool RoundTrips(int socket, long trips)
{
    for (long n = 0; n < trips; ++n) {
        const char out = char(n);
        char in = 0;
        if (::send(socket, &out, 1, MSG_NOSIGNAL) != 1 || ::recv(socket, &in, 1, 0) != 1 || in != out)
            return false;
    }
    return true;
}

void PingPong(long tripsPerBatch)
{
    constexpr int kBatches = 10;
    std::printf("== ping-pong: 1-byte round trips, %d batches of %ld each way, alternating\n", kBatches, tripsPerBatch);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    CliChild cli;
    const int toCli = StartCliAndConnect(cli, {"--echo"}, devNull);
    int echoPort = 0;
    const int listener = OpenListener(echoPort, 16);
    std::atomic<bool> stop = false;
    double echoCpu = 0;
    std::thread echo(CEchoServer, listener, std::cref(stop), std::ref(echoCpu));
    const int toC = ConnectClient(echoPort, true);
    bool ok = toCli >= 0 && toC >= 0;
    const int one = 1;
    for (int socket : {toCli, toC}) {
        if (socket < 0)
            continue;
        ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        SetTimeouts(socket, 5000);
    }
    // A warm-up for both, then the batches in turn.
    ok = ok && RoundTrips(toCli, 1000) && RoundTrips(toC, 1000);
    double cliSeconds = 0, cSeconds = 0;
    std::vector<double> cliRates, cRates;
    for (int batch = 0; ok && batch < kBatches; ++batch) {
        for (int target = 0; ok && target < 2; ++target) {
            const auto start = Clock::now();
            ok = RoundTrips(target == 0 ? toCli : toC, tripsPerBatch);
            const double seconds = Seconds(Clock::now() - start);
            (target == 0 ? cliSeconds : cSeconds) += seconds;
            (target == 0 ? cliRates : cRates).push_back(tripsPerBatch / seconds);
        }
    }
    if (toCli >= 0)
        ::close(toCli);
    if (toC >= 0)
        ::close(toC);
    stop = true;
    echo.join();
    ::close(listener);
    const int exit = cli.Stop();
    ::close(devNull);
    if (!ok) {
        std::printf("ping-pong: FAILED (an echo missing or wrong)\n");
        return;
    }
    const double total = double(tripsPerBatch) * kBatches;
    const double cliRate = total / cliSeconds, cRate = total / cSeconds;
    // CPU per round trip: the CLI's includes its start and the warm-up, the C server's the warm-up.
    const double trips = total + 1000;
    std::printf("velvane-cli tcp-server --echo (stdout /dev/null): %8.0f round trips/s (median batch %.0f; "
                "%.1f us CPU per trip), exit %d\n",
                cliRate, Median(cliRates), cli.CpuSeconds() / trips * 1e6, exit);
    std::printf("C echo server (poll, read, write back):            %8.0f round trips/s (median batch %.0f; "
                "%.1f us CPU per trip)\n",
                cRate, Median(cRates), echoCpu / trips * 1e6);
    std::printf("ratio velvane-cli / C: %.2f x (goal >= 0.90: %s)\n\n", cliRate / cRate,
                cliRate / cRate >= 0.9 ? "met" : "NOT met");
}

// ---- flood ----

// Sends blocks 256-byte blocks, numbered, one send each; every `every` blocks calls onMark.
bool SendBlocks(int socket, long blocks, long every = 0, const std::function<void(long)> &onMark = {})
{
    char block[kBlockSize];
    for (int i = 0; i < kBlockSize; ++i)
        block[i] = char('a' + i % 26);
    for (long n = 0; n < blocks; ++n) {
        std::snprintf(block, 12, "%010ld ", n % 10000000000L);
        block[11] = 'x';  // snprintf's terminating zero
        if (!SendAll(socket, block, kBlockSize))
            return false;
        if (every > 0 && (n + 1) % every == 0 && onMark)
            onMark(n + 1);
    }
    return true;
}

// The end of the client's part: no more sends, then the server's close once it read them all.
bool AwaitServerClose(int socket)
{
    ::shutdown(socket, SHUT_WR);
    SetTimeouts(socket, 60000);
    char byte;
    const bool closed = ::recv(socket, &byte, 1, 0) == 0;
    ::close(socket);
    return closed;
}

struct FloodRun
{
    double seconds = 0;
    long bytes = 0;         // what the server shows it received
    double cpuSeconds = 0;  // the server's
    bool ok = false;
};

FloodRun FloodC(long blocks)
{
    FloodRun run;
    int port = 0;
    const int listener = OpenListener(port, 16);
    std::atomic<long> bytes = 0;
    std::thread reader(CReader, listener, std::ref(bytes), std::ref(run.cpuSeconds));
    const int socket = ConnectClient(port, true);
    SetTimeouts(socket, 30000);
    const auto start = Clock::now();
    run.ok = socket >= 0 && SendBlocks(socket, blocks) && AwaitServerClose(socket);
    run.seconds = Seconds(Clock::now() - start);
    reader.join();
    ::close(listener);
    run.bytes = bytes;
    return run;
}

// The bytes the text display lines of a file show: each data line is the peer, a space and
// the block's text (the blocks are printable).
long DisplayedBytes(const char *path, const QByteArray &peer)
{
    FILE *file = std::fopen(path, "r");
    if (!file)
        return -1;
    long bytes = 0;
    std::vector<char> line(256 * 1024);
    const QByteArray prefix = peer + ' ';
    while (std::fgets(line.data(), int(line.size()), file)) {
        const size_t length = std::strlen(line.data());
        if (length > size_t(prefix.size()) && std::memcmp(line.data(), prefix.constData(), prefix.size()) == 0)
            bytes += long(length - prefix.size() - (line[length - 1] == '\n' ? 1 : 0));
    }
    std::fclose(file);
    return bytes;
}

FloodRun FloodCli(long blocks, const std::vector<std::string> &options, const char *outputPath)
{
    FloodRun run;
    const int output = ::open(outputPath, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    CliChild cli;
    const int socket = StartCliAndConnect(cli, options, output);
    ::close(output);
    if (socket < 0)
        return run;
    SetTimeouts(socket, 30000);
    const QByteArray peer = "127.0.0.1:" + QByteArray::number(LocalPort(socket));
    const auto start = Clock::now();
    run.ok = SendBlocks(socket, blocks) && AwaitServerClose(socket);
    run.seconds = Seconds(Clock::now() - start);
    run.ok = cli.Stop() == 0 && run.ok;
    run.cpuSeconds = cli.CpuSeconds();
    run.bytes = std::strcmp(outputPath, "/dev/null") == 0 ? long(blocks) * kBlockSize
                                                          : DisplayedBytes(outputPath, peer);
    return run;
}

void Flood(long blocks)
{
    constexpr int kRounds = 3;
    std::printf("== receive flood: %ld blocks of 256 bytes (one send each) per run, %d rounds in turn\n", blocks,
                kRounds);
    char path[] = "/tmp/bench_cli_out.XXXXXX";
    const int made = ::mkstemp(path);
    if (made < 0) {
        std::printf("flood: FAILED (no temporary file)\n");
        return;
    }
    ::close(made);
    struct Target
    {
        const char *name;
        bool cli;
        std::vector<std::string> options;
        const char *output;
        std::vector<double> rates{};
        std::vector<double> cpuPerBlock{};
        bool complete = true;
    };
    // --parts reads 256 bytes at a time, as the GUI page does without 大数据.
    Target targets[] = {{"C reader (read only, the limit)      ", false, {}, nullptr},
                        {"tcp-server > /dev/null               ", true, {}, "/dev/null"},
                        {"tcp-server > file                    ", true, {}, path},
                        {"tcp-server --parts > /dev/null       ", true, {"--parts"}, "/dev/null"}};
    long fileSize = 0;
    for (int round = 0; round < kRounds; ++round) {
        for (Target &target : targets) {
            const FloodRun run = target.cli ? FloodCli(blocks, target.options, target.output) : FloodC(blocks);
            target.complete = target.complete && run.ok && run.bytes == long(blocks) * kBlockSize;
            target.rates.push_back(double(run.bytes) / kBlockSize / run.seconds);
            target.cpuPerBlock.push_back(run.cpuSeconds / blocks * 1e9);
            if (target.output == path) {
                struct stat info = {};
                ::stat(path, &info);
                fileSize = long(info.st_size);
            }
        }
    }
    ::unlink(path);
    const double limit = Median(targets[0].rates);
    for (const Target &target : targets) {
        std::printf("%s median %7.0f blocks/s, %.2f x the C reader (runs:", target.name, Median(target.rates),
                    Median(target.rates) / limit);
        for (double rate : target.rates)
            std::printf(" %.0f", rate);
        std::printf("; median %.0f ns CPU per block)%s\n", Median(target.cpuPerBlock),
                    target.complete ? "" : " INCOMPLETE: bytes missing or a run failed");
    }
    std::printf("file: %ld bytes of display lines for %ld bytes received (checked line by line)\n\n", fileSize,
                blocks * kBlockSize);
}

// ---- memory ----

void Memory(long blocks)
{
    const long every = std::max(1L, blocks / 10);
    std::printf("== resident memory of tcp-server > /dev/null over %ld blocks of 256 bytes (VmRSS, kB)\n", blocks);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    CliChild cli;
    const int socket = StartCliAndConnect(cli, {}, devNull);
    ::close(devNull);
    if (socket < 0) {
        std::printf("memory: FAILED (no connection)\n");
        return;
    }
    SetTimeouts(socket, 30000);
    std::printf("connected: %ld\n", ResidentKb(cli.Pid()));
    std::vector<long> samples;
    const auto start = Clock::now();
    bool ok = SendBlocks(socket, blocks, every, [&](long sent) {
        samples.push_back(ResidentKb(cli.Pid()));
        std::printf("after %9ld blocks sent: %ld\n", sent, samples.back());
        std::fflush(stdout);
    });
    ok = AwaitServerClose(socket) && ok;
    const double seconds = Seconds(Clock::now() - start);
    std::printf("all read, connection closed: %ld (%.0f blocks/s)\n", ResidentKb(cli.Pid()), blocks / seconds);
    const int exit = cli.Stop();
    if (samples.size() >= 2)
        std::printf("growth from the first sample to the last: %+ld kB; %s, exit %d\n\n",
                    samples.back() - samples.front(), ok ? "all sent" : "SEND FAILED", exit);
}

}  // namespace

int main(int argc, char *argv[])
{
    const QByteArray section = argc > 1 ? QByteArray(argv[1]) : QByteArray("all");
    const long size = argc > 2 ? std::atol(argv[2]) : 0;
    if (!QList<QByteArray>{"pingpong", "flood", "memory", "all"}.contains(section)) {
        std::printf("usage: %s [pingpong|flood|memory|all] [size]\n", argv[0]);
        return 2;
    }
    ::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (section == "pingpong" || section == "all")
        PingPong(size > 0 ? std::clamp(size, 100L, 1000000L) : 5000);
    if (section == "flood" || section == "all")
        Flood(size > 0 ? std::clamp(size, 1000L, 100000000L) : 1000000);
    if (section == "memory" || section == "all")
        Memory(size > 0 ? std::clamp(size, 1000000L, 100000000L) : 10000000);
    return 0;
}
