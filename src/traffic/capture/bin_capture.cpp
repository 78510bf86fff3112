#include "traffic/capture/bin_capture.h"

#include "traffic/capture/record_writer.h"

namespace {

class BinCapture final : public TrafficCapture
{
public:
    BinCapture(std::unique_ptr<CaptureSink> sink, const QString &path, const BinCaptureTarget &target,
               std::function<void()> stopped);
    ~BinCapture() override { Close(); }

    void TcpOpened(int, const FlowEnds &, TcpOpener) override {}
    void TcpReceived(int connection, QByteArrayView bytes) override;
    void TcpSent(int, QByteArrayView) override {}
    void TcpClosed(int connection, bool byPeer) override;
    void UdpReceived(const FlowEnds &ends, QByteArrayView bytes) override;
    void UdpSent(const FlowEnds &, QByteArrayView) override {}

    void Close() override { m_writer.Close(); }
    bool HasFailed() const override { return m_writer.HasFailed(); }
    bool HasEnded() const override { return m_ended; }
    QString FilePath() const override { return m_path; }

private:
    void Take(QByteArrayView bytes);
    void TellStopped();

    QString m_path;
    BinCaptureTarget m_target;
    std::function<void()> m_stopped;
    bool m_toldStopped = false;
    bool m_ended = false;
    RecordWriter m_writer;
};

BinCapture::BinCapture(std::unique_ptr<CaptureSink> sink, const QString &path, const BinCaptureTarget &target,
                       std::function<void()> stopped)
    : m_path(path)
    , m_target(target)
    , m_stopped(std::move(stopped))
    , m_writer(std::move(sink), [this] { TellStopped(); })
{
}

void BinCapture::TcpReceived(int connection, QByteArrayView bytes)
{
    if (m_target.kind == BinCaptureTarget::Kind::TcpConnection && connection == m_target.connection)
        Take(bytes);
}

void BinCapture::TcpClosed(int connection, bool)
{
    if (m_ended || m_target.kind != BinCaptureTarget::Kind::TcpConnection || connection != m_target.connection)
        return;
    m_ended = true;
    // What the target sent is on disk before the owner hears of the end; a failure to write
    // it is told by the same call.
    m_writer.Flush();
    TellStopped();
}

void BinCapture::UdpReceived(const FlowEnds &ends, QByteArrayView bytes)
{
    if (m_target.kind == BinCaptureTarget::Kind::UdpPeer && ends.remote == m_target.peer)
        Take(bytes);
}

void BinCapture::Take(QByteArrayView bytes)
{
    if (m_ended || bytes.isEmpty())
        return;
    m_writer.Append(bytes.data(), bytes.size());
    m_writer.EndRecord();
}

void BinCapture::TellStopped()
{
    if (m_toldStopped)
        return;
    m_toldStopped = true;
    if (m_stopped)
        m_stopped();
}

}  // namespace

std::unique_ptr<TrafficCapture> OpenBinCapture(const QString &path, const BinCaptureTarget &target,
                                               std::function<void()> stopped, QString *error)
{
    std::unique_ptr<CaptureSink> sink = FileCaptureSink::Create(path, error);
    if (!sink)
        return nullptr;
    return OpenBinCapture(std::move(sink), path, target, std::move(stopped));
}

std::unique_ptr<TrafficCapture> OpenBinCapture(std::unique_ptr<CaptureSink> sink, const QString &path,
                                               const BinCaptureTarget &target, std::function<void()> stopped)
{
    return std::make_unique<BinCapture>(std::move(sink), path, target, std::move(stopped));
}
