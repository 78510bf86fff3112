#include "cli/udp_client_run.h"

#include <cerrno>
#include <cstring>

#include "cli/cli_output.h"
#include "platform/datagram.h"
#include "text/payload_codec.h"
#include "traffic/udp_file_sender.h"

UdpClientRun::UdpClientRun(const CliOptions &options, CliOutput &output, QObject *parent)
    : ClientRun(options, output, SocketKind::Datagram, parent)
    , m_recvBuffer(m_traffic.Limits().datagramBuffer, Qt::Uninitialized)
{
    connect(&m_traffic.Events(), &SocketEventRegistry::SocketEvent, this, &UdpClientRun::OnSocketEvent);
}

UdpClientRun::~UdpClientRun() = default;

void UdpClientRun::OnOpened()
{
    WidenDatagramReceiveBuffer(m_socket);
    if (!m_options.parts)
        RaiseDatagramReceiveBuffer(m_socket);
    // A datagram socket has no close event: an empty datagram is a datagram.
    m_traffic.Events().Register(m_socket, FD_READ);
}

void UdpClientRun::OnClosing()
{
    if (m_fileSender && m_fileSender->IsRunning())
        m_fileSender->Cancel();
    m_fileSender.reset();
    CloseEvent(QStringLiteral("用户主动与服务器断开"), "local");
    m_traffic.DatagramSocketClosed(m_socket);
    m_traffic.Events().Unregister(m_socket);
}

void UdpClientRun::OnAllSentWithoutWait()
{
    if (m_options.sendSource == SendSource::Stdin || m_options.sendSource == SendSource::File)
        EndNormally();
}

void UdpClientRun::SendPayload(const Payload &payload)
{
    if (!m_traffic.SendDatagramTo(m_socket, m_server, payload.bytes, payload.Counted(),
                                  payload.prepared + payload.TrailerLogText(), m_peer))
        SendFailed(errno);
}

void UdpClientRun::SendBytes(QByteArrayView bytes)
{
    if (!m_traffic.SendDatagramTo(m_socket, m_server, bytes, bytes.size(), PayloadCodec::DataText(bytes, false),
                                  m_peer))
        SendFailed(errno);
}

bool UdpClientRun::SendFile(std::unique_ptr<QFile> file)
{
    // The page's file datagrams: its default size, as fast as the socket takes them.
    m_fileSender = std::make_unique<UdpFileSender>([this](QByteArrayView datagram) -> qint64 {
        if (m_traffic.SendDatagram(m_socket, m_server, datagram, datagram.size()))
            return datagram.size();
        m_fileError = errno;
        return -1;
    });
    connect(m_fileSender.get(), &UdpFileSender::Ended, this, [this](FileEnd end) {
        if (end == FileEnd::ConnectionGone)
            SendFailed(m_fileError);
        else
            m_sends.OnFileEnded(end);
    });
    return m_fileSender->Start(std::move(file));
}

void UdpClientRun::SendFailed(int error)
{
    Fail(QStringLiteral("数据发送失败: ") + QString::fromLocal8Bit(std::strerror(error)), kExitNetwork);
}

void UdpClientRun::OnSocketEvent(int socket, int event)
{
    if (socket == m_socket && event == FD_READ)
        ReceiveDatagrams();
}

void UdpClientRun::ReceiveDatagrams()
{
    m_traffic.Slice().Begin();
    for (int reads = 0; reads < kMaxReadsPerSlice; ++reads) {
        int received = 0;
        SocketAddress source;
        const DatagramRead read = ReadDatagram(m_socket, m_recvBuffer.data(), int(m_recvBuffer.size()), received,
                                               source);
        if (read == DatagramRead::Nothing)
            return;
        if (read == DatagramRead::Failed)
            m_output.Line(
                QStringLiteral("接收数据失败！"));  // the page's line for a datagram too large or a read error
        else
            m_traffic.ReceivedDatagram(m_socket, source, QByteArrayView(m_recvBuffer.constData(), received),
                                       PeerText(source));
        if (m_socket < 0 || m_traffic.Slice().IsOver())
            return;
    }
}
