#include "support/test_environment.h"

#include <QDir>
#include <QFile>

#include "app/globals.h"

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
