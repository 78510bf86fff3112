#include "traffic/send_history.h"

void SendHistory::Add(const QString &text)
{
    ResetWalk();
    if (text.isEmpty() || (!m_texts.isEmpty() && m_texts.constLast() == text))
        return;
    m_texts.append(text);
    if (m_texts.size() > kMaxTexts)
        m_texts.remove(0, m_texts.size() - kMaxTexts);
}

QString SendHistory::Older(const QString &current)
{
    if (m_texts.isEmpty())
        return current;
    if (m_walk < 0) {
        m_typed = current;
        m_walk = int(m_texts.size()) - 1;
    } else if (m_walk > 0) {
        --m_walk;
    }
    return m_texts[m_walk];
}

QString SendHistory::Newer()
{
    if (m_walk < 0)
        return m_typed;
    if (++m_walk < m_texts.size())
        return m_texts[m_walk];
    m_walk = -1;
    return m_typed;
}

void SendHistory::ResetWalk()
{
    m_walk = -1;
    m_typed.clear();
}

void SendHistory::SetTexts(QStringList texts)
{
    ResetWalk();
    m_texts.clear();
    for (QString &text : texts)
        if (!text.isEmpty() && (m_texts.isEmpty() || m_texts.constLast() != text))
            m_texts.append(std::move(text));
    if (m_texts.size() > kMaxTexts)
        m_texts.remove(0, m_texts.size() - kMaxTexts);
}
