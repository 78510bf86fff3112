// 大数据 under load: a UDP flood of 1,400-byte datagrams to the UDP server page (udpflood) and
// a flood of 64 KiB TCP blocks to the TCP server page with hex display on while the list is
// scrolled (tcpflood).
//
//   QT_QPA_PLATFORM=offscreen ./build/bench/bench_large_data [udpflood|tcpflood|all] [seconds]
//
// seconds: how long each flood runs (default 20 for udpflood, 60 for tcpflood). The page is
// shown; a 10 ms timer on this thread measures how late the window's own timers come, and a
// second timer scrolls the display list as a user reading it would. Peers run in threads with
// blocking sockets; everything stays on 127.0.0.1.
#include <QCheckBox>
#include <QLineEdit>
#include <QScrollBar>

#include <cstdio>
#include <random>
#include <thread>

#include <sys/socket.h>
#include <unistd.h>

#include "bench_support.h"

#include "pages/control_ids.h"
#include "pages/udp_server/udp_server_page.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/display_list/line_list_model.h"

using namespace BenchSupport;

namespace {

constexpr int kDatagram = 1400;
constexpr int kBlock = 65536;

double MiB(long bytes)
{
    return bytes / 1048576.0;
}

// Ticks the page's 大数据 and listens on 127.0.0.1 at a free port.
template <typename Page>
quint16 ListenLarge(Page &page, int portId, int listenId, bool datagrams)
{
    page.OnInitDialog();
    page.resize(page.sizeHint());
    page.show();
    page.template findChild<QCheckBox *>(QStringLiteral("largeData"))->setChecked(true);
    const quint16 port = FreePort(datagrams);
    qobject_cast<QLineEdit *>(page.GetDlgItem(portId))->setText(QString::number(port));
    qobject_cast<QAbstractButton *>(page.GetDlgItem(listenId))->click();
    return port;
}

// Moves the list's scroll bars now and then, as a reader does, so that long rows are painted.
class ListScroller
{
public:
    explicit ListScroller(CExtentListBox *list)
    {
        m_timer.setInterval(100);
        QObject::connect(&m_timer, &QTimer::timeout, [this, list] {
            QScrollBar *vertical = list->verticalScrollBar();
            QScrollBar *horizontal = list->horizontalScrollBar();
            vertical->setValue(std::uniform_int_distribution<int>(0, vertical->maximum())(m_random));
            horizontal->setValue(std::uniform_int_distribution<int>(0, horizontal->maximum())(m_random));
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    std::mt19937 m_random{7};
};

void UdpFlood(int seconds)
{
    CUdpServerPage page;
    const quint16 port = ListenLarge(page, UdpServerIds::kPort, UdpServerIds::kListen, true);
    auto *lines = page.DataList()->Lines();

    std::atomic<bool> finished = false;
    std::atomic<long> sent = 0;
    ClientThread sender;
    sender.thread = std::thread([&] {
        const int fd = UdpSocket(0, port);
        std::vector<char> datagram(kDatagram, 'u');
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end) {
            // Paced in bursts so the kernel's queue, not a busy sender, decides what is lost.
            for (int i = 0; i < 64; ++i)
                if (::send(fd, datagram.data(), datagram.size(), 0) == kDatagram)
                    ++sent;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        ::close(fd);
        finished = true;
    });
    TimerLateness lateness;
    lateness.Start();
    long residentAtBound = 0;
    const qint64 handledNs = RunUntilDrained(
        [&] {
            if (!residentAtBound && lines->Count() >= LineListBox::kKeptLines)
                residentAtBound = ResidentBytes();
            return page.RxCount();
        },
        finished, (seconds + 30) * 1000);
    lateness.Stop();
    sender.thread.join();
    const long received = static_cast<long>(page.RxCount() / kDatagram);
    const double handledSeconds = handledNs / 1e9;
    std::printf("udpflood, 1,400 B:   sent %ld, received %ld (loss %.2f %%) in %.1f s: %.0f datagrams/s, %.1f MB/s;"
                " lines %d (%.0f MiB), resident %.0f MiB at the line bound, %.0f MiB at the end;"
                " worst timer lateness %.1f ms\n",
                sent.load(), received, 100.0 * (sent - received) / std::max(1L, sent.load()), handledSeconds,
                received / handledSeconds, page.RxCount() / handledSeconds / 1e6, lines->Count(),
                MiB(lines->StoredBytes()), MiB(residentAtBound), MiB(ResidentBytes()), lateness.WorstMs());
    std::fflush(stdout);
    page.OnStop();
}

void TcpFlood(int seconds)
{
    CTcpServerPage page;
    const quint16 port = ListenLarge(page, TcpServerIds::kPort, TcpServerIds::kListen, false);
    qobject_cast<QCheckBox *>(page.GetDlgItem(TcpServerIds::kHexDisplay))->setChecked(true);
    auto *lines = page.DataList()->Lines();

    std::atomic<bool> finished = false;
    std::atomic<long> sentBlocks = 0;
    ClientThread sender;
    sender.thread = std::thread([&] {
        const int fd = ConnectClient(port, true);
        SetTimeouts(fd, 10000);
        std::vector<char> block(kBlock, 'B');
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < end && SendAll(fd, block.data(), block.size()))
            ++sentBlocks;
        ::close(fd);
        finished = true;
    });
    ListScroller scroller(page.DataList());
    TimerLateness lateness;
    lateness.Start();
    long residentAtBound = 0;
    const qint64 handledNs = RunUntilDrained(
        [&] {
            if (!residentAtBound && lines->StoredBytes() >= lines->MaxBytes() - 2 * kBlock * 3)
                residentAtBound = ResidentBytes();
            return page.RxCount();
        },
        finished, (seconds + 60) * 1000);
    lateness.Stop();
    sender.thread.join();
    const double handledSeconds = handledNs / 1e9;
    std::printf("tcpflood, 64 KiB hex: %ld blocks sent, %.1f MiB read in %.1f s: %.0f blocks/s (%.1f MB/s);"
                " lines %d holding %.0f MiB (bound 256 MiB); resident %.0f MiB at the bound, %.0f MiB at the end;"
                " worst timer lateness while scrolling %.1f ms (goal <= 50 ms: %s)\n",
                sentBlocks.load(), MiB(page.RxCount()), handledSeconds,
                page.RxCount() / double(kBlock) / handledSeconds, page.RxCount() / handledSeconds / 1e6, lines->Count(),
                MiB(lines->StoredBytes()), MiB(residentAtBound), MiB(ResidentBytes()), lateness.WorstMs(),
                Verdict(lateness.WorstMs() <= 50));
    std::fflush(stdout);
    page.OnStop();
}

}  // namespace

int main(int argc, char *argv[])
{
    return RunSections(argc, argv, "bench_large_data", {"udpflood", "tcpflood"},
                       [](const SectionChoice &choice, BoxAnswerer &) {
                           if (choice.Runs("udpflood"))
                               UdpFlood(static_cast<int>(choice.Sized(20, 1, 600)));
                           if (choice.Runs("tcpflood"))
                               TcpFlood(static_cast<int>(choice.Sized(60, 1, 600)));
                           return 0;
                       });
}
