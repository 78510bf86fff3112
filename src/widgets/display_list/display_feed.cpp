#include "widgets/display_list/display_feed.h"

#include "widgets/display_list/line_list_box.h"

DisplayFeed::DisplayFeed(LineListBox *list, QObject *parent)
    : QObject(parent)
    , m_list(list)
{
}

void DisplayFeed::Show(const QByteArray &line, TextEncoding encoding)
{
    if (!m_paused) {
        m_list->InsertString(0, line, encoding);
        return;
    }
    m_waiting.push_back({line, encoding});
    m_waitingBytes += line.size();
    // The list would drop the oldest on the way in anyway; the newest one always waits.
    const int maxLines = m_list->MaxLines();
    const qint64 maxBytes = m_list->MaxBytes();
    while (Waiting() > 1 && ((maxLines > 0 && Waiting() > maxLines) || (maxBytes > 0 && m_waitingBytes > maxBytes))) {
        m_waitingBytes -= m_waiting.front().bytes.size();
        m_waiting.pop_front();
    }
    emit WaitingChanged(Waiting());
}

void DisplayFeed::SetPaused(bool paused)
{
    if (paused == m_paused)
        return;
    m_paused = paused;
    if (paused)
        return;
    std::deque<WaitingLine> waiting;
    waiting.swap(m_waiting);
    m_waitingBytes = 0;
    for (const WaitingLine &line : waiting)
        m_list->InsertString(0, line.bytes, line.encoding);
    emit WaitingChanged(0);
}

void DisplayFeed::Clear()
{
    m_list->ResetContent();
    if (m_waiting.empty())
        return;
    m_waiting.clear();
    m_waitingBytes = 0;
    emit WaitingChanged(0);
}
