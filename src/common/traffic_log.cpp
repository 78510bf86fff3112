#include "common/traffic_log.h"

#include <QMessageBox>

#include "app/globals.h"
#include "common/log_file.h"
#include "platform/gbk.h"
#include "platform/message_box.h"
#include "ui/system_log.h"

namespace {

const QByteArray kSeparator = "*---------------------------------------------------*\r\n";
const QByteArray kTcpClientBanner = "*-----------------------TCP CLIENT---------------------*\r\n";
const QByteArray kUdpClientBanner = "*----------------------UDP CLIENT----------------------*\r\n";

} // namespace

const QByteArray TrafficLog::kReceivedTag = "CLIENT->SERVER  ";
const QByteArray TrafficLog::kSentTag = "SERVER->CLIENT  ";

TrafficLog::TrafficLog(const QString &fileName, const QString &caption, int &flag)
    : m_fileName(fileName)
    , m_caption(caption)
    , m_flag(flag)
{
}

bool TrafficLog::StartLog(QWidget *owner, Header header)
{
    const auto answer = PageMessageBox(owner, m_caption, QStringLiteral("是否需要系统记录收发数据？"),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning);
    if (answer != QMessageBox::Yes)
        return false;
    m_logPath = SystemLog::PathInCurrentDirectory(m_fileName);
    m_failureReported = false;
    if (!WriteHeader(header)) {
        m_flag = 0;
        PageMessageBox(owner, m_caption, QStringLiteral("无法写入") + m_fileName + QStringLiteral("，本次不记录收发数据!"),
                       QMessageBox::Ok, QMessageBox::Warning);
        return true;
    }
    m_flag = 1;
    return true;
}

bool TrafficLog::WriteHeader(Header header)
{
    const QByteArray banner = header == Header::TcpClient ? kTcpClientBanner
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
