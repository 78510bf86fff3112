#pragma once

#include <QByteArray>
#include <QObject>

#include <deque>

#include "text/text_encoding.h"

class LineListBox;

// The way new lines reach a display list, which "暂停" can hold back: while paused the list
// (and every view of its lines) stays as it is and new lines wait, the newest ones kept up
// to the list's own bounds of lines and of bytes. Resuming puts them in as if they had come one by one, so the
// newest stands on top.
class DisplayFeed : public QObject
{
    Q_OBJECT

public:
    explicit DisplayFeed(LineListBox *list, QObject *parent = nullptr);

    // A new line for the top of the list, or for the waiting ones while paused.
    void Show(const QByteArray &line, TextEncoding encoding = TextEncoding::Gbk);
    void SetPaused(bool paused);
    bool IsPaused() const { return m_paused; }
    int Waiting() const { return static_cast<int>(m_waiting.size()); }
    // Empties the list and drops the waiting lines.
    void Clear();

signals:
    // The number of waiting lines changed (at most once per Show).
    void WaitingChanged(int waiting);

private:
    struct WaitingLine
    {
        QByteArray bytes;
        TextEncoding encoding;
    };

    LineListBox *m_list;
    bool m_paused = false;
    std::deque<WaitingLine> m_waiting;
    qint64 m_waitingBytes = 0;
};
