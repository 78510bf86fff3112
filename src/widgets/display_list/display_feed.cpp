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
    const int bound = m_list->MaxLines();
    if (bound > 0 && Waiting() > bound)
        m_waiting.pop_front();  // the list would drop it on the way in anyway
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
    emit WaitingChanged(0);
}
