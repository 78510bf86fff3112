// Each traffic page on ::1 beside 127.0.0.1: serial ping-pong (the page echoes, or for the
// client page sends and a peer echoes) and a flood toward the page, five runs per family taken
// in turn (IPv4, IPv6, IPv4, ...), reported as the median and the spread (lowest–highest).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_address_families [tcp-server|udp-server|client|all] [trips]
//
// trips: round trips per ping-pong run (default 3,000); a flood run is 8 MiB of 256-byte
// blocks (TCP) or 40,000 datagrams of 100 bytes (UDP: the pages read at most 128). Peers run in threads with blocking
// sockets and time limits while this thread runs the page. Everything stays on 127.0.0.1
// and ::1.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/client/client_page.h"
#include "pages/control_ids.h"
#include "pages/udp_server/udp_server_page.h"
#include "platform/socket_address.h"
#include "widgets/ipv4_address_edit.h"

using namespace BenchSupport;

namespace {

constexpr int kRuns = 5;
constexpr int kMessage = 32;
constexpr qint64 kFloodBytes = 8 << 20;
constexpr int kFloodDatagrams = 40000;
constexpr int kDatagramBytes = 100;

SocketAddress At(const QString &host, quint16 port)
{
    return *EndpointOfHostField(host, port);
}

// A blocking socket of the address's family with 5 s limits, connected when asked.
int PeerSocket(int type, const SocketAddress &to, bool connectIt)
{
    const int fd = ::socket(to.Family(), type | SOCK_CLOEXEC, 0);
    SetTimeouts(fd, 5000);
    if (connectIt && ::connect(fd, to.Data(), to.Length()) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Round trips of kMessage bytes on a connected socket; the seconds they took, or -1.
double EchoTrips(int fd, bool stream, long trips)
{
    char out[kMessage];
    char in[kMessage];
    std::memset(out, 'p', sizeof out);
    const auto start = Clock::now();
    for (long i = 0; i < trips; ++i) {
        if (::send(fd, out, sizeof out, MSG_NOSIGNAL) != kMessage)
            return -1;
        for (ssize_t got = 0; got < kMessage;) {
            const ssize_t part = ::recv(fd, in + got, sizeof in - got, 0);
            if (part <= 0)
                return -1;
            got = stream ? got + part : kMessage;
        }
    }
    return Seconds(Clock::now() - start);
}

struct Spread
{
    std::vector<double> values;
    void Add(double value) { values.push_back(value); }
    QByteArray Text(const char *unit) const
    {
        if (values.empty())
            return "no run";
        char text[160];
        std::snprintf(text, sizeof text, "median %.1f %s (%.1f–%.1f, %zu runs)", Percentile(values, 0.5), unit,
                      Percentile(values, 0), Percentile(values, 1), values.size());
        return text;
    }
};

class FamilyBench
{
public:
    explicit FamilyBench(long trips)
        : m_trips(trips)
    {
    }

    void Servers(bool stream)
    {
        for (int run = 0; run < kRuns * 2; ++run) {
            const QString host = run % 2 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
            Measured &figures = m_figures[run % 2];
            std::unique_ptr<CServerPage> page;
            if (stream)
                page = std::make_unique<CTcpServerPage>();
            else
                page = std::make_unique<CUdpServerPage>();
            page->OnInitDialog();
            page->findChild<QCheckBox *>(QStringLiteral("ipv6All"))->setChecked(true);
            auto *hostBox = qobject_cast<QComboBox *>(
                page->GetDlgItem(stream ? int(TcpServerIds::kHost) : int(UdpServerIds::kHost)));
            hostBox->setCurrentIndex(hostBox->findText(host));
            const quint16 port = FreePort(!stream);
            qobject_cast<QLineEdit *>(page->GetDlgItem(stream ? int(TcpServerIds::kPort) : int(UdpServerIds::kPort)))
                ->setText(QString::number(port));
            page->OnListen();
            const SocketAddress to = At(host, port);
            const int type = stream ? SOCK_STREAM : SOCK_DGRAM;

            // Ping-pong against the page's echo.
            auto *autoReply = qobject_cast<QCheckBox *>(
                page->GetDlgItem(stream ? int(TcpServerIds::kAutoReply) : int(UdpServerIds::kAutoReply)));
            const int fd = PeerSocket(type, to, true);
            if (stream)
                WaitUntil([&] { return page->RxCount() >= 0 && Listed(*page) == 1; }, 5000);
            autoReply->setEnabled(true);
            autoReply->click();
            qobject_cast<QAbstractButton *>(
                page->GetDlgItem(stream ? int(TcpServerIds::kReplyEcho) : int(UdpServerIds::kReplyEcho)))
                ->click();
            figures.pingPong.Add(RunPeer([&] { return EchoTrips(fd, stream, m_trips); }) * 1e6 / m_trips);
            autoReply->click();

            // A flood from the same peer.
            const qint64 before = page->RxCount();
            const double seconds = stream ? RunPeer([&] { return StreamTo(fd); },
                                                    [&] { return page->RxCount() - before >= kFloodBytes; })
                                          : DatagramFlood(fd, [&] { return page->RxCount() - before; });
            const qint64 got = page->RxCount() - before;
            if (seconds > 0)
                figures.flood.Add(got / seconds / 1e6);
            if (!stream)
                figures.loss.Add(100.0 * (1.0 - double(got) / (double(kFloodDatagrams) * kDatagramBytes)));
            ::close(fd);
            page->OnStop();
        }
        Report(stream ? "TCP server" : "UDP server", !stream);
    }

    void Client(bool stream)
    {
        for (int run = 0; run < kRuns * 2; ++run) {
            const QString host = run % 2 ? QStringLiteral("::1") : QStringLiteral("127.0.0.1");
            Measured &figures = m_figures[run % 2];
            const int type = stream ? SOCK_STREAM : SOCK_DGRAM;
            const int listener = PeerSocket(type, At(host, 0), false);
            SocketAddress bound = At(host, 0);
            ::bind(listener, bound.Data(), bound.Length());
            socklen_t length = SocketAddress::Capacity();
            ::getsockname(listener, bound.Data(), &length);
            if (stream)
                ::listen(listener, 4);

            CClientPage page;
            page.OnInitDialog();
            if (run % 2)
                page.findChild<QLineEdit *>(QStringLiteral("hostName"))->setText(host);
            else
                qobject_cast<Ipv4AddressEdit *>(page.GetDlgItem(ClientIds::kHost))->SetAddressText(host);
            qobject_cast<QLineEdit *>(page.GetDlgItem(ClientIds::kPort))->setText(QString::number(bound.Port()));
            qobject_cast<QComboBox *>(page.GetDlgItem(ClientIds::kProtocol))->setCurrentIndex(stream ? 1 : 2);
            page.OnConnect();
            WaitUntil([&] { return page.IsConnected(); }, 5000);
            qobject_cast<QLineEdit *>(page.GetDlgItem(ClientIds::kSendBox))->setText(QString(kMessage - 1, 'c'));

            // The page sends, the peer echoes: kMessage bytes each way (the text and its zero byte).
            std::atomic<bool> done = false;
            int peer = -1;
            std::thread echo([&] {
                peer = stream ? ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC) : listener;
                SetTimeouts(peer, 5000);
                char buffer[4096];
                SocketAddress from;
                for (long got = 0; got < long(m_trips) * kMessage && !done;) {
                    socklen_t fromLength = SocketAddress::Capacity();
                    const ssize_t part = ::recvfrom(peer, buffer, sizeof buffer, 0, from.Data(), &fromLength);
                    if (part <= 0)
                        break;
                    got += part;
                    if (stream ? ::send(peer, buffer, part, MSG_NOSIGNAL) != part
                               : ::sendto(peer, buffer, part, 0, from.Data(), fromLength) != part)
                        break;
                }
                if (!stream)
                    ::connect(peer, from.Data(), from.Length());  // the flood goes back to the page
            });
            const auto start = Clock::now();
            long trips = 0;
            for (; trips < m_trips; ++trips) {
                const qint64 expected = page.RxCount() + kMessage;
                page.OnSend();
                if (!WaitUntil([&] { return page.RxCount() >= expected; }, 5000))
                    break;
            }
            const double seconds = Seconds(Clock::now() - start);
            done = true;
            echo.join();
            if (trips == m_trips)
                figures.pingPong.Add(seconds * 1e6 / trips);

            const qint64 before = page.RxCount();
            const double flood = stream ? RunPeer([&] { return StreamTo(peer); },
                                                  [&] { return page.RxCount() - before >= kFloodBytes; })
                                        : DatagramFlood(peer, [&] { return page.RxCount() - before; });
            const qint64 got = page.RxCount() - before;
            if (flood > 0)
                figures.flood.Add(got / flood / 1e6);
            if (!stream)
                figures.loss.Add(100.0 * (1.0 - double(got) / (double(kFloodDatagrams) * kDatagramBytes)));
            page.OnDisconnect();
            if (stream)
                ::close(peer);
            ::close(listener);
        }
        Report(stream ? "client, TCP" : "client, UDP", !stream);
    }

private:
    struct Measured
    {
        Spread pingPong;
        Spread flood;
        Spread loss;
    };

    static int Listed(CServerPage &page)
    {
        return qobject_cast<LineListBox *>(page.GetDlgItem(TcpServerIds::kPeers))->GetCount();
    }

    // Runs work on a peer thread while this thread serves the page, until it ends and done()
    // holds (at most 60 s); what work returned.
    static double RunPeer(
        const std::function<double()> &work, const std::function<bool()> &done = [] { return true; })
    {
        std::atomic<bool> finished = false;
        double result = -1;
        std::thread peer([&] {
            result = work();
            finished = true;
        });
        WaitUntil([&] { return finished && done(); }, 60000);
        peer.join();
        return result;
    }

    // kFloodBytes in 256-byte blocks; the seconds from the first to the last accepted send.
    static double StreamTo(int fd)
    {
        char block[kBlockSize];
        std::memset(block, 'f', sizeof block);
        const auto start = Clock::now();
        for (qint64 sent = 0; sent < kFloodBytes; sent += kBlockSize)
            if (!SendAll(fd, block, sizeof block))
                return -1;
        return Seconds(Clock::now() - start);
    }

    // kFloodDatagrams as fast as the peer can; the seconds until the page handled the last it got.
    static double DatagramFlood(int fd, const std::function<qint64()> &rx)
    {
        std::atomic<bool> finished = false;
        std::thread peer([&] {
            char datagram[kDatagramBytes];
            std::memset(datagram, 'u', sizeof datagram);
            for (int i = 0; i < kFloodDatagrams; ++i)
                ::send(fd, datagram, sizeof datagram, MSG_NOSIGNAL);
            finished = true;
        });
        const qint64 ns = RunUntilDrained(rx, finished, 60000);
        peer.join();
        return ns / 1e9;
    }

    void Report(const char *page, bool datagrams)
    {
        for (int family = 0; family < 2; ++family) {
            const Measured &m = m_figures[family];
            std::printf("%-12s %-9s ping-pong %s/round trip; flood %s%s\n", page, family ? "::1" : "127.0.0.1",
                        m.pingPong.Text("µs").constData(), m.flood.Text("MB/s").constData(),
                        datagrams ? (", loss " + m.loss.Text("%")).constData() : "");
        }
        std::fflush(stdout);
        m_figures[0] = {};
        m_figures[1] = {};
    }

    long m_trips;
    Measured m_figures[2];
};

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(
        argc, argv, "bench_address_families", {"tcp-server", "udp-server", "client"},
        [](const SectionChoice &choice, BoxAnswerer &) {
            // The host as the pages list it, with its IPv6 loopback.
            HostEntry host{QStringLiteral("bench"), {QStringLiteral("127.0.0.1")}, {QStringLiteral("::1")}};
            HostEntry *previous = g_pHostEntry;
            g_pHostEntry = &host;
            FamilyBench bench(choice.Sized(3000, 100, 1000000));
            if (choice.Runs("tcp-server"))
                bench.Servers(true);
            if (choice.Runs("udp-server"))
                bench.Servers(false);
            if (choice.Runs("client")) {
                bench.Client(true);
                bench.Client(false);
            }
            g_pHostEntry = previous;
            return 0;
        });
}
