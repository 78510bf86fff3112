#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QNetworkProxy>

#include <arpa/inet.h>
#include <filesystem>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pages/client/client_page.h"
#include "pages/tcp_server/tcp_server_page.h"
#include "pages/udp_server/udp_server_page.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"

namespace {

// Tests reach nothing beyond 127.0.0.1: whatever the program fetches from elsewhere (the maker's
// page) goes to a proxy on a loopback port nobody listens on, so no name is even looked up.
// Qt never sends loopback traffic through a proxy.
void KeepTrafficOnLoopback()
{
    QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), FreePort()));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(KeepTrafficOnLoopback)

ScopedTemporaryCurrentDir::ScopedTemporaryCurrentDir()
    : m_previous(QDir::currentPath())
{
    QDir::setCurrent(m_dir.path());
}

ScopedTemporaryCurrentDir::~ScopedTemporaryCurrentDir()
{
    QDir::setCurrent(m_previous);
}

QByteArray ReadFileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void WriteFileBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(bytes);
}

void ResetProcessGlobals()
{
    g_strDateTime.clear();
    g_bSystemLogFile = 0;
    g_strSystemLogPath.clear();
    g_nUpSeconds = g_nUpMinutes = g_nUpHours = g_nUpDays = 0;
    g_bTcpTrafficLog = g_bUdpTrafficLog = g_bClientTrafficLog = 0;
}

int OpenSockets()
{
    int sockets = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd", error))
        sockets += std::filesystem::read_symlink(entry.path(), error).string().starts_with("socket:");
    return sockets;
}

sockaddr_in LoopbackAddress(quint16 port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

quint16 BindToFreeLoopbackPort(int socket)
{
    sockaddr_in address = LoopbackAddress(0);
    socklen_t length = sizeof address;
    ::bind(socket, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(socket, reinterpret_cast<sockaddr *>(&address), &length);
    return ntohs(address.sin_port);
}

quint16 FreePort(bool datagram)
{
    const int probe = ::socket(AF_INET, (datagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    const quint16 port = BindToFreeLoopbackPort(probe);
    ::close(probe);
    return port;
}
