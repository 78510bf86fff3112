#include "pages/traffic_area/capture_control.h"

#include <QDateTime>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include "pages/dialog_page.h"
#include "pages/file_dialogs.h"
#include "pages/message_box.h"
#include "traffic/capture/bin_capture.h"
#include "traffic/capture/capture_tap.h"
#include "traffic/capture/pcap_capture.h"
#include "traffic/clock_text.h"
#include "traffic/system_log.h"

namespace {

const QString kPcapFilter = QStringLiteral("抓包文件 (*.pcap)");
const QString kBinFilter = QStringLiteral("接收数据 (*.bin)");

}  // namespace

CaptureControl::CaptureControl(CDialogPage *page, QPushButton *button, CaptureTap &tap, const QString &caption,
                               const QString &fileStem)
    : QObject(page)
    , m_page(page)
    , m_button(button)
    , m_tap(tap)
    , m_caption(caption)
    , m_fileStem(fileStem)
{
    connect(button, &QPushButton::clicked, this, &CaptureControl::OnCapture);
}

bool CaptureControl::IsCapturing() const
{
    return m_tap.IsOn();
}

void CaptureControl::OnCapture()
{
    if (IsCapturing()) {
        EndCapture();
        return;
    }
    const QString suggested = m_fileStem + QDateTime::currentDateTime().toString(QStringLiteral("-yyyyMMdd-HHmmss"))
                              + QStringLiteral(".pcap");
    const FileDialogs::Answer answer = FileDialogs::AskSaveFile(
        {m_page, QStringLiteral("捕获到文件"), suggested, {kPcapFilter, kBinFilter}});
    if (answer.path.isEmpty())
        return;
    Begin(answer.path, answer.path.endsWith(QStringLiteral(".bin"), Qt::CaseInsensitive));
}

void CaptureControl::Begin(const QString &path, bool rawBytes)
{
    std::optional<BinCaptureTarget> target;
    if (rawBytes) {
        target = m_source ? m_source->CapturedPeer() : std::nullopt;
        if (!target)
            return;
    }
    const quint64 generation = ++m_generation;
    auto stopped = [this, generation] {
        QTimer::singleShot(0, this, [this, generation] { OnCaptureStopped(generation); });
    };
    QString error;
    std::unique_ptr<TrafficCapture> capture = rawBytes ? OpenBinCapture(path, *target, stopped, &error)
                                                       : OpenPcapCapture(path, stopped, &error);
    if (!capture) {
        Warn(QStringLiteral("无法写入") + path + QStringLiteral("，不能捕获!"));
        return;
    }
    m_tap.Start(std::move(capture));
    if (!rawBytes && m_source) {
        const TcpOpener opener = m_source->OpensConnections() ? TcpOpener::ThisSide : TcpOpener::Peer;
        for (const int connection : m_source->OpenConnections())
            m_tap.TcpOpened(connection, opener);
    }
    ShowCapturing(true);
}

void CaptureControl::EndCapture()
{
    if (!IsCapturing())
        return;
    ++m_generation;
    m_tap.Stop();
    ShowCapturing(false);
}

void CaptureControl::OnCaptureStopped(quint64 generation)
{
    const TrafficCapture *capture = m_tap.Capture();
    if (generation != m_generation || !capture)
        return;
    const QString path = capture->FilePath();
    const bool failed = capture->HasFailed();
    EndCapture();
    if (failed)
        Warn(QStringLiteral("捕获文件") + path + QStringLiteral("写入失败，捕获已停止!"));
    else
        SystemLog::Append(g_strDateTime + QStringLiteral(" 捕获的对端已断开，") + path + QStringLiteral("已关闭\r\n"));
}

void CaptureControl::ShowCapturing(bool capturing)
{
    m_button->setText(capturing ? QStringLiteral("停止捕获") : QStringLiteral("捕获…"));
}

void CaptureControl::Warn(const QString &text)
{
    PageMessageBox(m_page, m_caption, text, QMessageBox::Ok, QMessageBox::Warning);
}
