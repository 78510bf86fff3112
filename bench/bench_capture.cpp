// What a capture costs a page per block: 256-byte TCP blocks (received and sent in turn) and
// 128-byte datagrams told to a .pcap and a .bin capture in passes of the event loop as a page
// reads them, with the file on the temporary directory's disk.
//
//   ./build/bench/bench_capture [blocks]
//
// Reports per capture the time one block costs, and what a page that handles 300,000 blocks a
// second without a capture would keep of that rate with one.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

#include "traffic/capture/bin_capture.h"
#include "traffic/capture/pcap_capture.h"
#include "traffic/receive_slice.h"

namespace {

constexpr double kPageBlocksPerSecond = 300000;

void Measure(const char *name, TrafficCapture &capture, int blocks, bool datagrams)
{
    const QByteArray block(datagrams ? kDatagramSize : kStreamReadSize, 'x');
    const FlowEnds ends{{QByteArray("\x7f\0\0\x01", 4), 5000}, {QByteArray("\x7f\0\0\x01", 4), 40000}};
    capture.TcpOpened(7, ends);
    QElapsedTimer clock;
    clock.start();
    for (int told = 0; told < blocks;) {
        for (int read = 0; read < kMaxReadsPerSlice && told < blocks; ++read, ++told) {
            if (datagrams)
                (told % 2 ? capture.UdpSent(ends, block) : capture.UdpReceived(ends, block));
            else
                (told % 2 ? capture.TcpSent(7, block) : capture.TcpReceived(7, block));
        }
        QCoreApplication::processEvents();
    }
    capture.Close();
    const double perBlock = double(clock.nsecsElapsed()) / blocks;
    const double kept = 1 / (1 + perBlock * 1e-9 * kPageBlocksPerSecond);
    std::printf("%-22s %7.0f ns per block  %s  page keeps %.2f of its rate\n", name, perBlock,
                capture.HasFailed() ? "FAILED" : "ok", kept);
}

}  // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int blocks = argc > 1 ? std::atoi(argv[1]) : 3000000;
    QTemporaryDir dir;
    QString error;
    for (const bool datagrams : {false, true}) {
        std::unique_ptr<TrafficCapture> pcap = OpenPcapCapture(dir.filePath("bench.pcap"), {}, &error);
        if (!pcap) {
            std::fprintf(stderr, "no capture: %s\n", qPrintable(error));
            return 1;
        }
        Measure(datagrams ? "pcap, UDP 128 bytes" : "pcap, TCP 256 bytes", *pcap, blocks, datagrams);
        const BinCaptureTarget target = datagrams ? BinCaptureTarget::Udp({QByteArray("\x7f\0\0\x01", 4), 40000})
                                                  : BinCaptureTarget::Tcp(7);
        std::unique_ptr<TrafficCapture> bin = OpenBinCapture(dir.filePath("bench.bin"), target, {}, &error);
        Measure(datagrams ? "bin, UDP 128 bytes" : "bin, TCP 256 bytes", *bin, blocks, datagrams);
    }
    return 0;
}
