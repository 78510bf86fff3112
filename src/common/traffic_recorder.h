#pragma once

#include <QByteArray>

class CExtentListBox;
class EncodingBox;
class QCheckBox;
class TrafficCounters;
class TrafficLog;

// What a traffic page does with every block it receives and every payload it sends: the
// display line at the top of its list, the line in its traffic log, and the counts. The
// tags say the direction as this page sees it (a client's are the other way round).
class TrafficRecorder
{
public:
    TrafficRecorder(CExtentListBox *list, QCheckBox *hexDisplay, const EncodingBox *encoding, TrafficLog &log,
                    TrafficCounters &counters, QByteArray receivedTag, QByteArray sentTag);

    // The display line of a block from peer, shown in the page's encoding, recorded as its
    // bytes and counted in RX (every byte, also those after a zero byte the text display
    // stops at).
    void ShowReceived(QByteArrayView block, QByteArrayView peerText);
    // The traffic log line of a send: the sent tag, text, CR LF.
    void RecordSent(QByteArrayView text);
    // A send the system took: counted bytes into TX, the line into the traffic log.
    void CountAndRecordSent(qint64 counted, QByteArrayView text);

private:
    CExtentListBox *m_list;
    QCheckBox *m_hexDisplay;
    const EncodingBox *m_encoding;
    TrafficLog &m_log;
    TrafficCounters &m_counters;
    QByteArray m_receivedTag;
    QByteArray m_sentTag;
};
