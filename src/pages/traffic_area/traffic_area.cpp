#include "pages/traffic_area/traffic_area.h"

#include <QCheckBox>
#include <QFile>
#include <QJsonArray>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>

#include <netinet/in.h>
#include <sys/socket.h>

#include "pages/commands/command_window.h"
#include "pages/dialog_page.h"
#include "pages/message_box.h"
#include "pages/single_box.h"
#include "pages/traffic_area/capture_control.h"
#include "pages/traffic_area/counter_boxes.h"
#include "pages/traffic_area/file_send_control.h"
#include "pages/traffic_area/large_view_window.h"
#include "pages/traffic_area/send_box.h"
#include "pages/traffic_area/send_options_window.h"
#include "pages/traffic_area/timed_sending.h"
#include "platform/datagram.h"
#include "text/gbk.h"
#include "traffic/commands/library_file.h"
#include "traffic/file_send_tally.h"
#include "traffic/rate_history.h"
#include "traffic/send_options_json.h"
#include "traffic/tcp_send_path.h"
#include "traffic/traffic_counters.h"
#include "traffic/traffic_rates.h"
#include "traffic/traffic_recorder.h"
#include "traffic/udp_file_sender.h"
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
    , m_fileSend(new FileSendControl(page, m_controls.sendFile, *this, m_caption))
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
    connect(c.send, &QPushButton::clicked, this, &TrafficArea::OnSendButton);
    connect(m_timedSending, &TimedSending::Tick, this, &TrafficArea::OnSendButton);
    // Up and Down in the send box walk through what was sent from it; typing ends a walk.
    c.sendBox->installEventFilter(this);
    connect(c.sendBox, &QLineEdit::textEdited, this, [this] { m_history.ResetWalk(); });
    // What a start may restore: every change is a reason to save.
    connect(c.sendBox, &QLineEdit::textChanged, this, &TrafficArea::StateChanged);
    connect(c.interval, &QLineEdit::textChanged, this, &TrafficArea::StateChanged);
    for (QAbstractButton *box :
         std::initializer_list<QAbstractButton *>{c.hexSend, c.hexDisplay, c.timestamps, c.replyEcho})
        if (box)
            connect(box, &QAbstractButton::toggled, this, &TrafficArea::StateChanged);
    connect(c.encoding, &QComboBox::currentIndexChanged, this, &TrafficArea::StateChanged);
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
    connect(c.largeData, &QCheckBox::toggled, this, &TrafficArea::OnLargeData);
    connect(c.largeView, &QPushButton::clicked, this, [this] { OpenLargeView(PageName()); });
    connect(c.sendOptions, &QPushButton::clicked, this, &TrafficArea::OnSendOptions);
    connect(c.commands, &QPushButton::clicked, this, [this] {
        CommandWindow *window = Commands();
        window->show();
        window->raise();
        window->activateWindow();
    });
    for (int i = 0; i < CommandWindow::kShortcutCommands; ++i) {
        auto *shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key(Qt::Key_1 + i)), m_page);
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, i] { OnShortcut(i); });
    }
    connect(m_fileSend, &FileSendControl::Changed, this, &TrafficArea::UpdateStrip);
    // The preview follows whatever changes the next send's bytes.
    connect(c.sendBox, &QLineEdit::textChanged, this, &TrafficArea::UpdateStrip);
    connect(c.hexSend, &QCheckBox::toggled, this, &TrafficArea::UpdateStrip);
    connect(c.encoding, &QComboBox::currentIndexChanged, this, &TrafficArea::UpdateStrip);
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
    m_refused = true;
    if (!m_sendingCommand)
        StopTimedSending();
    AppMessageBox(message);
}

void TrafficArea::FailSend(const QString &line)
{
    m_refused = true;
    ShowLine(line);
    if (!m_sendingCommand)
        StopTimedSending();
}

bool TrafficArea::IsLargeData() const
{
    return m_controls.largeData->isChecked();
}

void TrafficArea::OnLargeData(bool on)
{
    m_sendBox->SetMaxHexBytes(ReadLimits::Of(on).hexBytes);
    // Room for the most hex a send may carry, two digits and a space a byte; unticking never
    // cuts a text that is there already.
    constexpr int kDefaultMaxLength = 32767;
    QLineEdit *box = m_controls.sendBox;
    box->setMaxLength(on ? PayloadCodec::kLargeHexBytes * 3 + 64
                         : std::max<int>(kDefaultMaxLength, static_cast<int>(box->text().size())));
    emit LargeDataChanged(on);
    emit StateChanged();
}

QJsonObject TrafficArea::SaveState(bool withHistory) const
{
    const TrafficAreaControls &c = m_controls;
    QJsonObject state{{QStringLiteral("sendBox"), c.sendBox->text()},
                      {QStringLiteral("interval"), c.interval->text()},
                      {QStringLiteral("hexSend"), c.hexSend->isChecked()},
                      {QStringLiteral("hexDisplay"), c.hexDisplay->isChecked()},
                      {QStringLiteral("encoding"), c.encoding->currentIndex()},
                      {QStringLiteral("timestamps"), c.timestamps->isChecked()},
                      {QStringLiteral("largeData"), c.largeData->isChecked()},
                      {QStringLiteral("sendOptions"), SendOptionsToJson(m_sendBox->Options())}};
    if (c.replyEcho)
        state.insert(QStringLiteral("replyEcho"), c.replyEcho->isChecked());
    if (m_optionsWindow) {
        state.insert(QStringLiteral("datagramSize"), m_optionsWindow->DatagramSize());
        state.insert(QStringLiteral("datagramRate"), m_optionsWindow->DatagramsPerSecond());
    }
    if (withHistory)
        state.insert(QStringLiteral("history"), QJsonArray::fromStringList(m_history.Texts()));
    return state;
}

void TrafficArea::RestoreState(const QJsonObject &state)
{
    const TrafficAreaControls &c = m_controls;
    // Each value only when it is there and of its type: a damaged entry keeps the default.
    auto text = [&](const char *key, QLineEdit *edit) {
        if (state.value(QLatin1String(key)).isString())
            edit->setText(state.value(QLatin1String(key)).toString());
    };
    auto tick = [&](const char *key, QAbstractButton *box) {
        if (box && state.value(QLatin1String(key)).isBool())
            box->setChecked(state.value(QLatin1String(key)).toBool());
    };
    tick("largeData", c.largeData);  // first: it lets the send box hold a long hex text
    text("sendBox", c.sendBox);
    text("interval", c.interval);
    tick("hexSend", c.hexSend);
    tick("hexDisplay", c.hexDisplay);
    tick("timestamps", c.timestamps);
    if (c.replyEcho && state.value(QStringLiteral("replyEcho")).isBool())
        (state.value(QStringLiteral("replyEcho")).toBool() ? c.replyEcho : c.replyData)->setChecked(true);
    const int encoding = state.value(QStringLiteral("encoding")).toInt(-1);
    if (encoding >= 0 && encoding < c.encoding->count())
        c.encoding->setCurrentIndex(encoding);
    SendOptions options;
    if (SendOptionsFromJson(state.value(QStringLiteral("sendOptions")), options) && !options.IsPlain()) {
        OptionsWindow()->SetOptions(options);
        m_sendBox->SetOptions(options);
    }
    const int size = state.value(QStringLiteral("datagramSize")).toInt(0);
    const int rate = state.value(QStringLiteral("datagramRate")).toInt(-1);
    if (size > 0 && rate >= 0)
        OptionsWindow()->SetDatagrams(size, rate);
    if (state.value(QStringLiteral("history")).isArray()) {
        QStringList texts;
        for (const QJsonValue &value : state.value(QStringLiteral("history")).toArray())
            if (value.isString())
                texts.append(value.toString());
        m_history.SetTexts(texts);
    }
    UpdateStrip();
}

void TrafficArea::OnSendButton()
{
    const QString text = m_controls.sendBox->text();
    m_refused = false;
    emit SendRequested();
    if (!m_refused && !text.isEmpty()) {
        m_history.Add(text);
        emit StateChanged();
    }
}

CommandWindow *TrafficArea::Commands()
{
    if (!m_commandWindow)
        m_commandWindow = new CommandWindow(
            PageName(), SharedCommandLibrary(), [this](const Command &command) { return SendCommand(command); },
            [this] { return m_sendsGone(); }, m_page);
    return m_commandWindow;
}

void TrafficArea::OnShortcut(int index)
{
    const QList<Command> commands = Commands()->FirstCommands();
    if (index < commands.size())
        SendCommand(commands[index]);
}

bool TrafficArea::SendCommand(const Command &command)
{
    m_sendBox->SetCommand(&command);
    m_sendingCommand = true;
    m_refused = false;
    emit SendRequested();
    m_sendingCommand = false;
    m_sendBox->SetCommand(nullptr);
    return !m_refused;
}

bool TrafficArea::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_controls.sendBox && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        QLineEdit *box = m_controls.sendBox;
        if (key == Qt::Key_Up && !m_history.Texts().isEmpty()) {
            box->setText(m_history.Older(box->text()));
            return true;
        }
        if (key == Qt::Key_Down && m_history.IsWalking()) {
            box->setText(m_history.Newer());
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

bool TrafficArea::RefuseEmptySend()
{
    if (!m_sendBox->IsEmpty())
        return false;
    RefuseSend(QStringLiteral("发送内容不能为空!"));
    return true;
}

QString TrafficArea::FailureMessage(PayloadCodec::HexFailure failure, const Payload &payload)
{
    if (failure == PayloadCodec::HexFailure::BadEscape)
        return QStringLiteral("第%1个字符处的转义无效!").arg(payload.failureAt + 1);
    return PayloadCodec::FailureMessage(failure);
}

PayloadCodec::HexFailure TrafficArea::MakePayload(Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayload(payload);
    if (failure != PayloadCodec::HexFailure::None)
        RefuseSend(FailureMessage(failure, payload));
    return failure;
}

PayloadCodec::HexFailure TrafficArea::MakePayloadOf(const QByteArray &prepared, Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayloadOf(prepared, payload);
    if (failure != PayloadCodec::HexFailure::None)
        RefuseSend(FailureMessage(failure, payload));
    return failure;
}

bool TrafficArea::MakeDataReply(Payload &payload)
{
    const PayloadCodec::HexFailure failure = m_sendBox->MakeServerReply(payload);
    if (failure == PayloadCodec::HexFailure::None)
        return true;
    m_replyFailureBox->Show(FailureMessage(failure, payload));  // a flood must not pile up boxes
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

SendOptionsWindow *TrafficArea::OptionsWindow()
{
    if (!m_optionsWindow) {
        m_optionsWindow = new SendOptionsWindow(PageName(), m_sendsDatagrams, m_page);
        connect(m_optionsWindow, &SendOptionsWindow::OptionsChanged, this, &TrafficArea::OnOptionsChanged);
    }
    return m_optionsWindow;
}

void TrafficArea::OnSendOptions()
{
    SendOptionsWindow *window = OptionsWindow();
    window->show();
    window->raise();
    window->activateWindow();
}

void TrafficArea::OnOptionsChanged()
{
    m_sendBox->SetOptions(m_optionsWindow->Options());
    UpdateStrip();
    emit StateChanged();
}

void TrafficArea::SetFileSendSource(FileSendSource *source)
{
    m_fileSend->SetSource(source);
}

bool TrafficArea::IsSendingFile() const
{
    return m_fileSend->IsSending();
}

FileSendTally &TrafficArea::FileTally()
{
    return m_fileSend->Tally();
}

bool TrafficArea::SendFileAsDatagrams(int socket, const SocketAddress &peer, const QString &path, FileSendTally &tally)
{
    delete m_datagramFile;
    m_datagramFile = new UdpFileSender(
        [this, socket, peer](QByteArrayView datagram) -> qint64 {
            if (!SendDatagram(socket, datagram, peer))
                return -1;
            Counters().AddTx(datagram.size());
            m_tap.UdpSent(socket, peer.Data(), datagram);
            return datagram.size();
        },
        this);
    FollowFileSends(*m_datagramFile, tally);
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)
        || !m_datagramFile->Start(std::move(file), OptionsWindow()->DatagramSize(),
                                  OptionsWindow()->DatagramsPerSecond()))
        return false;
    tally.AddTarget(0);
    return true;
}

void TrafficArea::CancelDatagramFile()
{
    if (m_datagramFile && m_datagramFile->IsRunning())
        m_datagramFile->Cancel();
}

QString TrafficArea::StripText()
{
    if (m_fileSend->IsSending())
        return m_fileSend->Tally().ProgressText();
    const SendOptions &options = m_sendBox->Options();
    if (options.IsPlain())
        return {};
    if (m_sendBox->IsEmpty())
        return SendFrame::Summary(options);
    Payload payload;
    const PayloadCodec::HexFailure failure = m_sendBox->MakePayload(payload);
    const QString next = failure == PayloadCodec::HexFailure::None
                             ? QString::fromLatin1(payload.bytes.toHex(' ').toUpper())
                             : FailureMessage(failure, payload);
    return SendFrame::Summary(options) + QStringLiteral("  →  ") + next;
}

void TrafficArea::UpdateStrip()
{
    const QString text = StripText();
    QLabel *strip = m_controls.strip;
    strip->setVisible(!text.isEmpty());
    strip->setToolTip(text);
    strip->setText(strip->fontMetrics().elidedText(text, Qt::ElideRight, strip->width()));
}

QString TrafficArea::PageName() const
{
    return QString(m_caption).remove(QStringLiteral("提示"));
}

void TrafficArea::TapSends(TcpSendPath &path)
{
    connect(&path, &TcpSendPath::Written, this,
            [this](int socket, QByteArrayView bytes) { m_tap.TcpSent(socket, bytes); });
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
