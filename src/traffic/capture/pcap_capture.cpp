#include "traffic/capture/pcap_capture.h"

#include <QFile>

#include <pcap/pcap.h>

#include <cerrno>
#include <ctime>

#include "traffic/capture/record_writer.h"
#include "traffic/capture/traffic_packets.h"

namespace {

// The largest packet is 65535 bytes after a 40-byte IPv6 header: no record is ever cut.
constexpr int kSnapLength = 262144;

using Side = TrafficPackets::Side;

class PcapCapture final : public TrafficCapture
{
public:
    PcapCapture(std::unique_ptr<CaptureSink> sink, const QString &path, std::function<void()> stopped);
    ~PcapCapture() override;

    // Writes the file header; false, with the reason in error, when it cannot.
    bool Start(QString *error);

    void TcpOpened(int connection, const FlowEnds &ends, TcpOpener opener) override;
    void TcpReceived(int connection, QByteArrayView bytes) override;
    void TcpSent(int connection, QByteArrayView bytes) override;
    void TcpClosed(int connection, bool byPeer) override;
    void UdpReceived(const FlowEnds &ends, QByteArrayView bytes) override;
    void UdpSent(const FlowEnds &ends, QByteArrayView bytes) override;

    void Close() override;
    bool HasFailed() const override { return m_writer.HasFailed(); }
    QString FilePath() const override { return m_path; }

private:
    // Whether the call is taken; if so, its packets carry this moment.
    bool Begin();
    void OnPacket(QByteArrayView packet, qsizetype wireSize);
    void CloseDumper();

    QString m_path;
    std::function<void()> m_stopped;
    bool m_started = false;
    RecordWriter m_writer;
    TrafficPackets m_packets;
    pcap_t *m_pcap = nullptr;
    pcap_dumper_t *m_dumper = nullptr;
    timeval m_now{};
};

PcapCapture::PcapCapture(std::unique_ptr<CaptureSink> sink, const QString &path, std::function<void()> stopped)
    : m_path(path)
    , m_stopped(std::move(stopped))
    // A capture that never started says so through its factory, not "stopped".
    , m_writer(std::move(sink),
               [this] {
                   if (m_started && m_stopped)
                       m_stopped();
               })
    , m_packets([this](QByteArrayView packet, qsizetype wireSize) { OnPacket(packet, wireSize); })
{
}

PcapCapture::~PcapCapture()
{
    Close();
}

bool PcapCapture::Start(QString *error)
{
    const auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        return false;
    };
    m_pcap = pcap_open_dead(DLT_RAW, kSnapLength);
    if (!m_pcap)
        return fail(QStringLiteral("libpcap: pcap_open_dead"));
    FILE *stream = m_writer.OpenStream();
    if (!stream)
        return fail(qt_error_string(errno));
    m_dumper = pcap_dump_fopen(m_pcap, stream);
    if (!m_dumper) {
        const QString reason = QString::fromLocal8Bit(pcap_geterr(m_pcap));
        // libpcap closes the stream on some failures and not on others.
        if (FILE *left = m_writer.Stream())
            std::fclose(left);
        return fail(reason);
    }
    m_writer.EndRecord();
    if (!m_writer.Flush())
        return fail(m_writer.ErrorText());
    m_started = true;
    return true;
}

bool PcapCapture::Begin()
{
    if (m_writer.HasFailed() || m_writer.IsClosed())
        return false;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    m_now.tv_sec = now.tv_sec;
    m_now.tv_usec = now.tv_nsec / 1000;
    return true;
}

void PcapCapture::OnPacket(QByteArrayView packet, qsizetype wireSize)
{
    // A block split into several packets stops at the first that cannot be written.
    if (m_writer.HasFailed())
        return;
    pcap_pkthdr header{};
    header.ts = m_now;
    header.caplen = bpf_u_int32(packet.size());
    header.len = bpf_u_int32(wireSize);
    pcap_dump(reinterpret_cast<u_char *>(m_dumper), &header, reinterpret_cast<const u_char *>(packet.data()));
    m_writer.EndRecord();
}

void PcapCapture::TcpOpened(int connection, const FlowEnds &ends, TcpOpener opener)
{
    if (Begin())
        m_packets.TcpOpened(connection, ends, opener);
}

void PcapCapture::TcpReceived(int connection, QByteArrayView bytes)
{
    if (Begin())
        m_packets.TcpData(connection, Side::Remote, bytes);
}

void PcapCapture::TcpSent(int connection, QByteArrayView bytes)
{
    if (Begin())
        m_packets.TcpData(connection, Side::Local, bytes);
}

void PcapCapture::TcpClosed(int connection, bool byPeer)
{
    if (Begin())
        m_packets.TcpClosed(connection, byPeer ? Side::Remote : Side::Local);
}

void PcapCapture::UdpReceived(const FlowEnds &ends, QByteArrayView bytes)
{
    if (Begin())
        m_packets.Udp(ends, Side::Remote, bytes);
}

void PcapCapture::UdpSent(const FlowEnds &ends, QByteArrayView bytes)
{
    if (Begin())
        m_packets.Udp(ends, Side::Local, bytes);
}

void PcapCapture::Close()
{
    // The writer flushes what libpcap wrote, then libpcap closes its stream.
    m_writer.Close();
    CloseDumper();
}

void PcapCapture::CloseDumper()
{
    if (m_dumper)
        pcap_dump_close(m_dumper);
    m_dumper = nullptr;
    if (m_pcap)
        pcap_close(m_pcap);
    m_pcap = nullptr;
}

}  // namespace

std::unique_ptr<TrafficCapture> OpenPcapCapture(const QString &path, std::function<void()> stopped, QString *error)
{
    std::unique_ptr<CaptureSink> sink = FileCaptureSink::Create(path, error);
    if (!sink)
        return nullptr;
    std::unique_ptr<TrafficCapture> capture = OpenPcapCapture(std::move(sink), path, std::move(stopped), error);
    // A file without its header is no capture: it does not stay behind.
    if (!capture)
        QFile::remove(path);
    return capture;
}

std::unique_ptr<TrafficCapture> OpenPcapCapture(std::unique_ptr<CaptureSink> sink, const QString &path,
                                                std::function<void()> stopped, QString *error)
{
    auto capture = std::make_unique<PcapCapture>(std::move(sink), path, std::move(stopped));
    if (!capture->Start(error))
        return nullptr;
    return capture;
}
