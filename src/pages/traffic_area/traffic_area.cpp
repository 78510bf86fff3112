#include "pages/traffic_area/traffic_area.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>

#include "pages/dialog_page.h"
#include "pages/message_box.h"
#include "pages/single_box.h"
#include "pages/traffic_area/capture_control.h"
#include "pages/traffic_area/counter_boxes.h"
#include "pages/traffic_area/large_view_window.h"
#include "pages/traffic_area/send_box.h"
#include "pages/traffic_area/timed_sending.h"
#include "text/gbk.h"
#include "traffic/rate_history.h"
#include "traffic/traffic_rates.h"
#include "traffic/traffic_recorder.h"
#include "widgets/display_list/display_feed.h"
#include "widgets/display_list/extent_list_box.h"
#include "widgets/encoding_box.h"
#include "widgets/paced_action.h"

namespace {

// "tcp-server" of "TCP Server": the start of a file name.
QString FileStemOf(const QString &name)
{
    QString stem;
    for (const QChar c : name.toLower())
        stem += c.isLetterOrNumber() ? c : QLatin1Char('-');
    return stem.split(QLatin1Char('-'), Qt::SkipEmptyParts).join(QLatin1Char('-'));
}

}  // namespace

TrafficArea::TrafficArea(CDialogPage *page, const TrafficAreaIds &ids, const Setup &setup)
    : QObject(page)
    , m_page(page)
    , m_caption(setup.caption)
    , m_controls(BuildTrafficArea(page, ids, setup.logFileName))
    , m_log(setup.logFileName, *setup.logFlag)
    , m_counters(new CounterBoxes(m_controls.tx, m_controls.rx, this))
    , m_timedSending(new TimedSending(m_controls.timedSend, m_controls.interval, setup.repeatTimerId, this))
    , m_sendBox(std::make_unique<SendBox>(m_controls.sendBox, m_controls.hexSend, m_controls.encoding))
    , m_replyFailureBox(std::make_unique<SingleBox>())
    , m_rateHistory(new RateHistory(this))
    , m_feed(new DisplayFeed(m_controls.dataList, this))
    , m_waitingRefresh(new PacedAction([this] { ShowWaiting(); }, this))
    , m_capture(new CaptureControl(page, m_controls.capture, m_tap, m_caption, FileStemOf(PageName())))
{
    DisplayFeed *feed = m_feed;
    m_recorder = std::make_unique<TrafficRecorder>(
        [feed](const QByteArray &line, TextEncoding encoding) { feed->Show(line, encoding); }, m_log,
        m_counters->Counters(), setup.receivedTag, setup.sentTag);
    auto *rates = new TrafficRates(m_counters->Counters(), this);
    m_controls.txRate->setText(TrafficRates::TxText(0));
    m_controls.rxRate->setText(TrafficRates::RxText(0));
    connect(rates, &TrafficRates::Updated, this, [this](const QString &tx, const QString &rx) {
        m_controls.txRate->setText(tx);
        m_controls.rxRate->setText(rx);
    });
    connect(rates, &TrafficRates::Measured, m_rateHistory, &RateHistory::Add);
    Connect();
}

TrafficArea::~TrafficArea()
{
    EndCapture();
    // Before the display list, whose lines the windows show, goes with the page.
    for (const QPointer<LargeViewWindow> &window : std::as_const(m_largeViews))
        delete window.data();
}

void TrafficArea::Connect()
{
    const TrafficAreaControls &c = m_controls;
    connect(c.send, &QPushButton::clicked, this, &TrafficArea::SendRequested);
    connect(m_timedSending, &TimedSending::Tick, this, &TrafficArea::SendRequested);
    connect(c.timedSend, &QCheckBox::clicked, this, &TrafficArea::OnTimedSend);
    connect(c.clearCounters, &QPushButton::clicked, this, &TrafficArea::OnClearCounters);
    if (c.clearData)
        connect(c.clearData, &QPushButton::clicked, this, &TrafficArea::OnClearData);
    if (c.autoReply)
        connect(c.autoReply, &QCheckBox::clicked, this, &TrafficArea::OnAutoReply);
    // Each received block is shown as these say when it comes.
    connect(c.hexDisplay, &QCheckBox::toggled, this, [this](bool hex) { m_recorder->SetHexDisplay(hex); });
    connect(c.encoding, &QComboBox::currentIndexChanged, this,
            [this] { m_recorder->SetEncoding(m_controls.encoding->Encoding()); });
    if (c.replyData)
        c.replyData->setChecked(true);
    connect(c.timestamps, &QCheckBox::toggled, this, [this](bool on) { m_recorder->SetTimestamps(on); });
    connect(c.pause, &QCheckBox::toggled, m_feed, &DisplayFeed::SetPaused);
    connect(c.largeView, &QPushButton::clicked, this, [this] { OpenLargeView(PageName()); });
    connect(m_feed, &DisplayFeed::WaitingChanged, m_waitingRefresh, &PacedAction::Request);
}

void TrafficArea::ShowWaiting()
{
    const int waiting = m_feed->Waiting();
    m_controls.waiting->setText(waiting > 0 ? QString::number(waiting) : QString());
    m_controls.pause->setToolTip(waiting > 0 ? QStringLiteral("等待显示的行: %1").arg(waiting) : QString());
}

TrafficCounters &TrafficArea::Counters()
{
    return m_counters->Counters();
}

qint64 TrafficArea::RxCount() const
{
    return m_counters->Counters().Rx();
}

qint64 TrafficArea::TxCount() const
{
    return m_counters->Counters().Tx();
}

bool TrafficArea::IsTimedSending() const
{
    return m_timedSending->IsRunning();
}

void TrafficArea::StopTimedSending()
{
    m_timedSending->Stop();
}

void TrafficArea::OnTimedSend()
{
    m_timedSending->OnClicked();
}

void TrafficArea::OnClearCounters()
{
    m_counters->Clear();
}

void TrafficArea::OnClearData()
{
    m_feed->Clear();
}

void TrafficArea::OnAutoReply()
{
    m_controls.hexSend->setEnabled(!m_controls.autoReply->isChecked());
}

bool TrafficArea::StartLog(TrafficLog::Header header)
{
    const auto answer = PageMessageBox(m_page, m_caption, QStringLiteral("是否需要系统记录收发数据？"),
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::Warning);
    if (answer != QMessageBox::Yes)
        return false;
    if (!m_log.StartLog(header))
        PageMessageBox(m_page, m_caption,
                       QStringLiteral("无法写入") + m_log.FileName() + QStringLiteral("，本次不记录收发数据!"),
                       QMessageBox::Ok, QMessageBox::Warning);
    return true;
}

void TrafficArea::StopLog()
{
    m_log.StopLog();
}

void TrafficArea::RefuseSend(const QString &message)
{
    StopTimedSending();
    AppMessageBox(message);
}

bool TrafficArea::RefuseEmptySend()
{
    if (!m_sendBox->IsEmpty())
        return false;
    RefuseSend(QStringLiteral("发送内容不能为空!"));
    return true;
}

PayloadCodec::HexFailure TrafficArea::MakePayload(Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayload(payload);
    if (failure != PayloadCodec::HexFailure::None)
        RefuseSend(PayloadCodec::FailureMessage(failure));
    return failure;
}

PayloadCodec::HexFailure TrafficArea::MakePayloadOf(const QByteArray &prepared, Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayloadOf(prepared, payload);
    if (failure != PayloadCodec::HexFailure::None)
        RefuseSend(PayloadCodec::FailureMessage(failure));
    return failure;
}

bool TrafficArea::MakeDataReply(Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakeServerReply(payload);
    if (failure == PayloadCodec::HexFailure::None)
        return true;
    m_replyFailureBox->Show(PayloadCodec::FailureMessage(failure));  // a flood must not pile up boxes
    return false;
}

bool TrafficArea::IsAutoReplying() const
{
    return m_controls.autoReply && m_controls.autoReply->isChecked();
}

ReplyMode TrafficArea::ReadReplyMode() const
{
    return m_controls.replyEcho->isChecked() ? ReplyMode::Echo : ReplyMode::Data;
}

void TrafficArea::AllowAutoReply(bool allowed)
{
    if (!allowed)
        m_controls.autoReply->setChecked(false);
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_controls.autoReply, m_controls.replyData, m_controls.replyEcho})
        control->setEnabled(allowed);
}

void TrafficArea::EnableHexSend()
{
    m_controls.hexSend->setEnabled(true);
}

void TrafficArea::ShowLine(const QString &text)
{
    m_feed->Show(ToGbk(text));
}

QString TrafficArea::PageName() const
{
    return QString(m_caption).remove(QStringLiteral("提示"));
}

void TrafficArea::SetCaptureSource(CaptureSource *source)
{
    m_capture->SetSource(source);
}

bool TrafficArea::IsCapturing() const
{
    return m_capture->IsCapturing();
}

void TrafficArea::EndCapture()
{
    m_capture->EndCapture();
}

LargeViewWindow *TrafficArea::OpenLargeView(const QString &pageName)
{
    m_largeViews.removeAll(nullptr);
    auto *window = new LargeViewWindow(pageName, m_controls.dataList, *m_rateHistory, m_page);
    m_largeViews.append(window);
    window->show();
    window->activateWindow();
    return window;
}
