#include "traffic/file_send_tally.h"

#include <QFileInfo>

#include "text/byte_rate.h"
#include "traffic/tcp_send_path.h"
#include "traffic/udp_file_sender.h"

namespace {

// Which end says most about the whole send.
int Weight(FileEnd end)
{
    switch (end) {
    case FileEnd::Done:
        return 0;
    case FileEnd::Cancelled:
        return 1;
    case FileEnd::ConnectionGone:
        return 2;
    case FileEnd::ReadFailed:
        return 3;
    }
    return 0;
}

QString Bytes(qint64 bytes)
{
    // The rate text without its "/s".
    QString text = ByteRateText(double(bytes));
    text.chop(2);
    return text;
}

}  // namespace

void FileSendTally::Begin(const QString &path, qint64 size)
{
    m_path = path;
    m_size = size;
    m_targets = 0;
    m_running.clear();
    m_sentByEnded = 0;
    m_worst = FileEnd::Done;
    m_clock.start();
}

void FileSendTally::AddTarget(int target)
{
    ++m_targets;
    m_running[target] = 0;
}

void FileSendTally::Progress(int target, qint64 sent)
{
    const auto found = m_running.find(target);
    if (found == m_running.end())
        return;
    found->second = sent;
    emit Changed();
}

void FileSendTally::End(int target, FileEnd end)
{
    const auto found = m_running.find(target);
    if (found == m_running.end())
        return;
    m_sentByEnded += found->second;
    m_running.erase(found);
    if (Weight(end) > Weight(m_worst))
        m_worst = end;
    emit Changed();
    if (m_running.empty())
        emit Ended(m_worst);
}

qint64 FileSendTally::Sent() const
{
    qint64 sent = m_sentByEnded;
    for (const auto &[target, bytes] : m_running)
        sent += bytes;
    return sent;
}

double FileSendTally::BytesPerSecond() const
{
    const qint64 ms = m_clock.isValid() ? m_clock.elapsed() : 0;
    return ms > 0 ? Sent() * 1000.0 / ms : 0.0;
}

void FollowFileSends(TcpSendPath &path, FileSendTally &tally)
{
    QObject::connect(&path, &TcpSendPath::FileProgress, &tally,
                     [&tally](int socket, qint64 sent, qint64) { tally.Progress(socket, sent); });
    QObject::connect(&path, &TcpSendPath::FileEnded, &tally,
                     [&tally](int socket, FileEnd end) { tally.End(socket, end); });
}

void FollowFileSends(UdpFileSender &sender, FileSendTally &tally)
{
    QObject::connect(&sender, &UdpFileSender::Progress, &tally,
                     [&tally](qint64 sent, qint64, qint64) { tally.Progress(0, sent); });
    QObject::connect(&sender, &UdpFileSender::Ended, &tally, [&tally](FileEnd end) { tally.End(0, end); });
}

QString FileSendTally::ProgressText() const
{
    const qint64 total = Total();
    const int percent = total > 0 ? int(Sent() * 100 / total) : 100;
    return QStringLiteral("发送文件 %1: %2 / %3 (%4%), %5")
        .arg(QFileInfo(m_path).fileName(), Bytes(Sent()), Bytes(total), QString::number(percent),
             ByteRateText(BytesPerSecond()));
}
