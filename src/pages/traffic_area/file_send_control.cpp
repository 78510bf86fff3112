#include "pages/traffic_area/file_send_control.h"

#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include "pages/dialog_page.h"
#include "pages/file_dialogs.h"
#include "pages/message_box.h"
#include "pages/traffic_area/traffic_area.h"
#include "text/gbk.h"
#include "traffic/file_send_tally.h"
#include "traffic/traffic_recorder.h"

namespace {

const QString kSendFileText = QStringLiteral("发送文件…");
const QString kCancelText = QStringLiteral("取消发送");

}  // namespace

FileSendControl::FileSendControl(CDialogPage *page, QPushButton *button, TrafficArea &area, const QString &caption)
    : QObject(page)
    , m_page(page)
    , m_button(button)
    , m_area(area)
    , m_caption(caption)
    , m_tally(new FileSendTally(this))
{
    connect(button, &QPushButton::clicked, this, &FileSendControl::OnSendFile);
    connect(m_tally, &FileSendTally::Changed, this, &FileSendControl::Changed);
    connect(m_tally, &FileSendTally::Ended, this, &FileSendControl::OnEnded);
}

bool FileSendControl::IsSending() const
{
    return m_tally->IsRunning();
}

void FileSendControl::OnSendFile()
{
    if (IsSending()) {
        m_source->CancelFileSend();
        return;
    }
    const FileDialogs::Answer answer = FileDialogs::AskOpenFile(
        {m_page, QStringLiteral("发送文件"), QString(), {QStringLiteral("所有文件 (*)")}});
    if (answer.path.isEmpty() || !m_source)
        return;
    QFile file(answer.path);
    if (!file.open(QIODevice::ReadOnly) || file.isSequential()) {
        PageMessageBox(m_page, m_caption, QStringLiteral("无法读取文件") + answer.path + QStringLiteral("!"),
                       QMessageBox::Ok, QMessageBox::Warning);
        return;
    }
    const qint64 size = file.size();
    m_tally->Begin(answer.path, size);
    file.close();
    if (!m_source->StartFileSend(answer.path, *m_tally) || !IsSending())
        return;
    const QString line = QStringLiteral("发送文件 %1 (%2 字节)").arg(QFileInfo(answer.path).fileName()).arg(size);
    m_area.ShowLine(line);
    m_area.Recorder().RecordSent(ToGbk(line));
    m_button->setText(kCancelText);
    emit Changed();
}

void FileSendControl::OnEnded(FileEnd end)
{
    m_button->setText(kSendFileText);
    emit Changed();
    // A peer that went is told by the page's own close line; a cancel by the user's click.
    if (end == FileEnd::ReadFailed)
        PageMessageBox(m_page, m_caption, QStringLiteral("读取文件") + m_tally->Path() + QStringLiteral("失败!"),
                       QMessageBox::Ok, QMessageBox::Warning);
}
