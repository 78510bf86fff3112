#include "support/test_environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QNetworkProxy>

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
    QNetworkProxy::setApplicationProxy(
        QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), FreePort()));
}

}  // namespace

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
