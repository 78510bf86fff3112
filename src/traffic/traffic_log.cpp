#include "traffic/traffic_log.h"

#include "text/gbk.h"
#include "traffic/clock_text.h"
#include "traffic/log_file.h"
#include "traffic/system_log.h"

namespace {

const QByteArray kSeparator = "*---------------------------------------------------*\r\n";
const QByteArray kTcpClientBanner = "*-----------------------TCP CLIENT---------------------*\r\n";
const QByteArray kUdpClientBanner = "*----------------------UDP CLIENT----------------------*\r\n";

}  // namespace

const QByteArray TrafficLog::kReceivedTag = "CLIENT->SERVER  ";
const QByteArray TrafficLog::kSentTag = "SERVER->CLIENT  ";

TrafficLog::TrafficLog(const QString &fileName, int &flag)
    : m_fileName(fileName)
    , m_flag(flag)
{
}

bool TrafficLog::StartLog(Header header)
{
    m_logPath = SystemLog::PathInCurrentDirectory(m_fileName);
    m_failureReported = false;
    m_flag = WriteHeader(header) ? 1 : 0;
    return m_flag != 0;
}

bool TrafficLog::WriteHeader(Header header)
{
    const QByteArray banner = header == Header::TcpClient   ? kTcpClientBanner
                              : header == Header::UdpClient ? kUdpClientBanner
                                                            : kSeparator;
    return LogFile::WriteSectionHeader(m_logFile, m_logPath, ToGbk(g_strDateTime) + "\r\n" + banner,
                                       header != Header::UdpClient);
}

void TrafficLog::WriteLine(const QByteArray &line)
{
    if (!m_flag)
        return;
    if (LogFile::AppendToExisting(m_logFile, m_logPath, line)) {
        m_failureReported = false;
    } else if (!m_failureReported) {
        m_failureReported = true;
        SystemLog::Append(g_strDateTime + QStringLiteral(" 收发数据写入") + m_logPath + QStringLiteral("失败!\r\n"));
    }
}

void TrafficLog::StopLog()
{
    m_flag = 0;
}
