#include "traffic/traffic_recorder.h"

#include "text/payload_codec.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_log.h"

TrafficRecorder::TrafficRecorder(Display display, TrafficLog &log, TrafficCounters &counters, QByteArray receivedTag,
                                 QByteArray sentTag)
    : m_display(std::move(display))
    , m_log(log)
    , m_counters(counters)
    , m_receivedTag(std::move(receivedTag))
    , m_sentTag(std::move(sentTag))
{
}

void TrafficRecorder::ShowReceived(QByteArrayView block, QByteArrayView peerText)
{
    const QByteArray line = PayloadCodec::FormatReceived(block, m_hexDisplay, peerText);
    if (m_timestamps) {
        const qint64 now = m_stamps.Now();  // read now, whenever the line is painted
        m_display(m_stamps.TimeOfDay(now) + line, m_encoding);
        if (m_log.IsOn())
            m_log.WriteLine(m_stamps.DateAndTime(now) + m_receivedTag + line);
    } else {
        m_display(line, m_encoding);
        m_log.WriteLine(m_receivedTag + line);
    }
    m_counters.AddRx(block.size());
}

void TrafficRecorder::RecordSent(QByteArrayView text)
{
    QByteArray line = m_timestamps ? m_stamps.DateAndTime(m_stamps.Now()) : QByteArray();
    line.append(m_sentTag).append(text).append("\r\n");
    m_log.WriteLine(line);
}

void TrafficRecorder::CountAndRecordSent(qint64 counted, QByteArrayView text)
{
    m_counters.AddTx(counted);
    RecordSent(text);
}
