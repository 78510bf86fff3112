#pragma once

#include <QByteArray>

#include <functional>

#include "text/text_encoding.h"
#include "traffic/block_stamps.h"

class TrafficCounters;
class TrafficLog;

// What a traffic page does with every block it receives and every payload it sends: the
// display line, the line in its traffic log, and the counts. The tags say the direction as
// this page sees it (a client's are the other way round).
class TrafficRecorder
{
public:
    // Puts a line at the top of the page's display; it is shown decoded from its encoding.
    using Display = std::function<void(const QByteArray &line, TextEncoding encoding)>;

    TrafficRecorder(Display display, TrafficLog &log, TrafficCounters &counters, QByteArray receivedTag,
                    QByteArray sentTag);

    // "16进制显示" and the page's encoding, for the blocks received from now on.
    void SetHexDisplay(bool hex) { m_hexDisplay = hex; }
    void SetEncoding(TextEncoding encoding) { m_encoding = encoding; }
    // "时间戳": each display line from now on starts with the time its block was read, each
    // traffic log line with the date and time; lines already written keep their form.
    void SetTimestamps(bool on) { m_timestamps = on; }
    BlockStamps &Stamps() { return m_stamps; }

    // The display line of a block from peer, recorded as its bytes and counted in RX (every
    // byte, also those after a zero byte the text display stops at).
    void ShowReceived(QByteArrayView block, QByteArrayView peerText);
    // The traffic log line of a send: the sent tag, text, CR LF.
    void RecordSent(QByteArrayView text);
    // A send the system took: counted bytes into TX, the line into the traffic log.
    void CountAndRecordSent(qint64 counted, QByteArrayView text);

private:
    Display m_display;
    TrafficLog &m_log;
    TrafficCounters &m_counters;
    QByteArray m_receivedTag;
    QByteArray m_sentTag;
    bool m_hexDisplay = false;
    bool m_timestamps = false;
    BlockStamps m_stamps;
    TextEncoding m_encoding = TextEncoding::Gbk;
};
