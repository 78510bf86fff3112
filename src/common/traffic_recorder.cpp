#include "common/traffic_recorder.h"

#include <QCheckBox>

#include "common/encoding_box.h"
#include "common/extent_list_box.h"
#include "common/payload_codec.h"
#include "common/traffic_counters.h"
#include "common/traffic_log.h"

TrafficRecorder::TrafficRecorder(CExtentListBox *list, QCheckBox *hexDisplay, const EncodingBox *encoding,
                                 TrafficLog &log, TrafficCounters &counters, QByteArray receivedTag,
                                 QByteArray sentTag)
    : m_list(list)
    , m_hexDisplay(hexDisplay)
    , m_encoding(encoding)
    , m_log(log)
    , m_counters(counters)
    , m_receivedTag(std::move(receivedTag))
    , m_sentTag(std::move(sentTag))
{
}

void TrafficRecorder::ShowReceived(QByteArrayView block, QByteArrayView peerText)
{
    const QByteArray line = PayloadCodec::FormatReceived(block, m_hexDisplay->isChecked(), peerText);
    m_list->InsertString(0, line, m_encoding->Encoding());
    m_log.WriteLine(m_receivedTag + line);
    m_counters.AddRx(block.size());
}

void TrafficRecorder::RecordSent(QByteArrayView text)
{
    QByteArray line = m_sentTag;
    line.append(text).append("\r\n");
    m_log.WriteLine(line);
}

void TrafficRecorder::CountAndRecordSent(qint64 counted, QByteArrayView text)
{
    m_counters.AddTx(counted);
    RecordSent(text);
}
