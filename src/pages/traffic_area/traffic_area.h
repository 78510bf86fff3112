#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

#include "pages/traffic_area/traffic_area_layout.h"
#include "traffic/capture/capture_tap.h"
#include "traffic/payload.h"
#include "traffic/read_limits.h"
#include "traffic/send_history.h"
#include "traffic/traffic_log.h"

class CaptureControl;
class CaptureSource;
class CounterBoxes;
class LargeViewWindow;
class RateHistory;
class CommandWindow;
class DisplayFeed;
class FileSendControl;
class FileSendSource;
class FileSendTally;
class UdpFileSender;
class PacedAction;
class SendBox;
class SendOptionsWindow;
class SingleBox;
class SocketAddress;
class TcpSendPath;
class TimedSending;
struct Command;
class TrafficCounters;
class TrafficRecorder;

// The part every traffic page has below its own controls: the send box with its options,
// timed sending, the counters and rates, the display list with its traffic log, and the
// refusals of a send. The three pages use it with their own texts and order of steps; a
// new capability of the traffic pages is added here once.
class TrafficArea : public QObject
{
    Q_OBJECT

public:
    struct Setup
    {
        QString caption;      // of the page's own boxes, "TCP Server提示"
        QString logFileName;  // "logtcp.txt"
        int *logFlag;         // the page's process-wide recording switch
        QByteArray receivedTag;
        QByteArray sentTag;
        int repeatTimerId;  // the window timer of timed sending
    };

    TrafficArea(CDialogPage *page, const TrafficAreaIds &ids, const Setup &setup);
    ~TrafficArea() override;

    const TrafficAreaControls &Controls() const { return m_controls; }
    CExtentListBox *DataList() const { return m_controls.dataList; }
    const SendBox &Box() const { return *m_sendBox; }
    TrafficRecorder &Recorder() { return *m_recorder; }
    TrafficCounters &Counters();
    qint64 RxCount() const;
    qint64 TxCount() const;
    bool IsTimedSending() const;
    void StopTimedSending();

    // The buttons' handlers, also the pages' own.
    void OnTimedSend();
    void OnClearCounters();
    void OnClearData();
    // "16进制发送" keeps its tick while greyed out: data replies still follow it.
    void OnAutoReply();

    // Asks "是否需要系统记录收发数据？"; on Yes starts the traffic log, and says in a box when it
    // cannot be written (recording then stays off). Returns whether the user said Yes.
    bool StartLog(TrafficLog::Header header = TrafficLog::Header::Server);
    void StopLog();

    // Stops timed sending first (its ticks would go on under the box), then says why a send
    // cannot go. A command's send leaves timed sending alone.
    void RefuseSend(const QString &message);
    // A send the system did not take: the page's line, and timed sending stops as for a refusal.
    void FailSend(const QString &line);
    // Sends the command through the page's own send (its target, refusals, counters, lines
    // and logs) with the command's mode, encoding and options; false when it was refused or failed.
    bool SendCommand(const Command &command);
    // "命令…": the page's window of the shared command library, made on first use; Ctrl+1 …
    // Ctrl+9 send the first nine commands of the group it shows. sendsGone says whether what
    // the page sent has all gone to the system (a sequence's 0 ms step waits for it).
    CommandWindow *Commands();
    void SetSendsGone(std::function<bool()> sendsGone) { m_sendsGone = std::move(sendsGone); }
    void OnShortcut(int index);
    // The send button's text and the history Up and Down walk through in the send box.
    SendHistory &History() { return m_history; }

    // What a start restores while 记住设置 is on: the send box, interval, hex modes, reply
    // mode, encoding, 时间戳, 大数据, the send options and the datagram settings, and with history
    // the texts sent. Nothing that starts activity (定时发送, 自动回复, 暂停, a capture).
    QJsonObject SaveState(bool withHistory) const;
    void RestoreState(const QJsonObject &state);
    // True, after its refusal, when the send box is empty.
    bool RefuseEmptySend();
    // The send box's payload; a hex failure is refused and returned.
    PayloadCodec::HexFailure MakePayload(Payload &payload);
    PayloadCodec::HexFailure MakePayloadOf(const QByteArray &prepared, Payload &payload);
    // The box text of a payload's failure: the hex rules' texts, or where an escape is wrong.
    static QString FailureMessage(PayloadCodec::HexFailure failure, const Payload &payload);
    // A server's data reply; false when it failed. Its box shows once while it is open, not
    // once per received block.
    bool MakeDataReply(Payload &payload);

    // A server's automatic reply: whether it is on, and the radio buttons read.
    bool IsAutoReplying() const;
    ReplyMode ReadReplyMode() const;
    // The reply controls follow whether anybody can be answered; off, the reply is unticked.
    void AllowAutoReply(bool allowed);
    void EnableHexSend();

    // A line of the page's own at the top of the display list ("数据发送失败!").
    void ShowLine(const QString &text);

    // Opens a window of its own, titled pageName ("TCP Server"), with the display list's
    // lines, live, and the rates of the last ten minutes. Several may be open; they close
    // when the page goes.
    LargeViewWindow *OpenLargeView(const QString &pageName);
    // The page's name, as its boxes' caption has it before "提示": "TCP Server".
    QString PageName() const;
    // Where the page tells its traffic to a capture, and what it offers one it starts.
    CaptureTap &Tap() { return m_tap; }
    // What the page's TCP connections send reaches a capture as it goes to the system, files too.
    void TapSends(TcpSendPath &path);
    void SetCaptureSource(CaptureSource *source);
    bool IsCapturing() const;
    // Stop, Disconnect and the page going end a capture: written out and closed.
    void EndCapture();

    // "发送选项…": the window, made on first use (with the UDP file send's settings when the
    // page sends datagrams), and the strip's summary and preview of the next send.
    void SetSendsDatagrams(bool sendsDatagrams) { m_sendsDatagrams = sendsDatagrams; }
    // "发送文件…": the page that sends, and whether a file goes now.
    void SetFileSendSource(FileSendSource *source);
    bool IsSendingFile() const;
    FileSendTally &FileTally();
    // Sends the file at path on a datagram socket to peer, in datagrams of the options
    // window's size and rate; counted in TX and told to a capture like the page's own sends.
    bool SendFileAsDatagrams(int socket, const SocketAddress &peer, const QString &path, FileSendTally &tally);
    void CancelDatagramFile();
    SendOptionsWindow *OptionsWindow();
    void OnSendOptions();
    // The strip's text: what a running file send has done, or what is on and the bytes the
    // next send puts on the wire; hidden when neither.
    void UpdateStrip();

    // 大数据: what one read takes and one hex send carries on the page.
    bool IsLargeData() const;
    ReadLimits Limits() const { return ReadLimits::Of(IsLargeData()); }

signals:
    // The send button was pressed, or timed sending ticked.
    void SendRequested();
    // 大数据 was ticked or unticked: a page with an open datagram socket widens its buffer.
    void LargeDataChanged(bool on);
    // Something SaveState holds changed.
    void StateChanged();

private:
    void Connect();
    void OnSendButton();
    bool eventFilter(QObject *watched, QEvent *event) override;
    void ShowWaiting();
    void OnOptionsChanged();
    void OnLargeData(bool on);
    QString StripText();

    CDialogPage *m_page;
    QString m_caption;
    TrafficAreaControls m_controls;
    TrafficLog m_log;
    CounterBoxes *m_counters;
    TimedSending *m_timedSending;
    std::unique_ptr<SendBox> m_sendBox;
    std::unique_ptr<TrafficRecorder> m_recorder;
    std::unique_ptr<SingleBox> m_replyFailureBox;
    RateHistory *m_rateHistory;  // from the page's start, for the windows opened later
    QList<QPointer<LargeViewWindow>> m_largeViews;
    CaptureTap m_tap;
    DisplayFeed *m_feed;
    PacedAction *m_waitingRefresh;
    CaptureControl *m_capture;
    SendOptionsWindow *m_optionsWindow = nullptr;
    FileSendControl *m_fileSend;
    UdpFileSender *m_datagramFile = nullptr;
    SendHistory m_history;
    bool m_sendingCommand = false;
    CommandWindow *m_commandWindow = nullptr;
    std::function<bool()> m_sendsGone = [] { return true; };
    bool m_refused = false;
    bool m_sendsDatagrams = false;
};
