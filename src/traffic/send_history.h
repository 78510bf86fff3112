#pragma once

#include <QString>
#include <QStringList>

// The last texts sent from one send box, newest last, without the same text twice in a row,
// and where Up and Down are in them while the user walks through.
class SendHistory
{
public:
    static constexpr int kMaxTexts = 100;

    void Add(const QString &text);
    // Up: the text before the one shown (starting from the newest); Down: the next one, and
    // past the newest the text that was being typed. current is what the box holds now.
    QString Older(const QString &current);
    // Outside a walk there is no next text: the caller leaves the box as it is (IsWalking).
    QString Newer();
    bool IsWalking() const { return m_walk >= 0; }
    // Typing ends a walk.
    void ResetWalk();

    const QStringList &Texts() const { return m_texts; }
    void SetTexts(QStringList texts);  // the newest kMaxTexts kept

private:
    QStringList m_texts;
    int m_walk = -1;  // index in m_texts while walking, -1 otherwise
    QString m_typed;
};
