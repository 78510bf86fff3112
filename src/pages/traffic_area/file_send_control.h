#pragma once

#include <QObject>
#include <QString>

#include "traffic/file_end.h"

class CDialogPage;
class FileSendTally;
class QPushButton;
class TrafficArea;

// What a traffic page does to send a file to its current target.
class FileSendSource
{
public:
    virtual ~FileSendSource() = default;

    // Starts the file at path to the page's current target (or targets), each added to tally;
    // false, after the page said why in a box, when there is none.
    virtual bool StartFileSend(const QString &path, FileSendTally &tally) = 0;
    // Stops every transfer the page started; each ends as Cancelled.
    virtual void CancelFileSend() = 0;
};

// "发送文件…": asks for a file, has the page send it, shows its progress in the strip and,
// pressed again as "取消发送", cancels it. The display list and the traffic log get one line
// for the file, not its bytes.
class FileSendControl : public QObject
{
    Q_OBJECT

public:
    FileSendControl(CDialogPage *page, QPushButton *button, TrafficArea &area, const QString &caption);
    void SetSource(FileSendSource *source) { m_source = source; }

    bool IsSending() const;
    FileSendTally &Tally() const { return *m_tally; }
    void OnSendFile();

signals:
    // Progress or the end: the strip's text changed.
    void Changed();

private:
    void OnEnded(FileEnd end);

    CDialogPage *m_page;
    QPushButton *m_button;
    TrafficArea &m_area;
    QString m_caption;
    FileSendSource *m_source = nullptr;
    FileSendTally *m_tally;
};
