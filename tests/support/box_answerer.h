#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <map>

class QDialog;

// Watches for the active modal message box, records what it shows and presses a button, as
// the user the caller plays would. Its policy says which button and when:
// - which: the answer given for the box's text, else the next queued answer, else the
//   default answer; QMessageBox::NoButton stands for the box's own default button;
// - when: at once, unless Hold() keeps every box open, StartTally() holds the next box
//   without an answer of its own for a while, or SetHoldTime() gives each box its time.
// It keeps a tally of the boxes meanwhile: how many, the most open at once.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    struct Box
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;  // as shown, left to right
        Clock::time_point shown;  // when it was first seen open
    };

    // What the boxes came to since the last StartTally (or since the answerer began).
    struct Tally
    {
        int boxes = 0;                         // boxes without an answer of their own for their text
        int whileHeld = 0;                     // of those, the ones that came while the held box was open, it included
        int maxOpen = 0;                       // the most boxes open at once, every box counted
        std::map<QString, int> maxOpenByText;  // the same for each text
        QString lastText;                      // of the last of the boxes counted
        Clock::time_point lastSeen;            // when the last of them was first seen open
        bool heldClosed = false;               // the held box has been answered
    };

    explicit BoxAnswerer(QMessageBox::StandardButton defaultAnswer = QMessageBox::Ok, QObject *parent = nullptr);

    // Which button.
    void AnswerText(const QString &text, QMessageBox::StandardButton answer);
    // The answer for a text chosen anew for each box (a user who says Yes now and then).
    void AnswerText(const QString &text, std::function<QMessageBox::StandardButton()> choose);
    void Queue(QMessageBox::StandardButton answer) { m_answers.push_back(answer); }
    void SetDefaultAnswer(QMessageBox::StandardButton answer) { m_defaultAnswer = answer; }

    // When.
    // While held, boxes stay open; the caller releases them.
    void Hold(bool hold) { m_hold = hold; }
    // Milliseconds a box with the given text stays open, asked whenever it becomes the active box.
    void SetHoldTime(std::function<int(const QString &)> holdMs) { m_holdTime = std::move(holdMs); }
    // Starts a new tally; the next box without an answer of its own for its text stays open
    // for the given time (0: none is held) before it is answered.
    void StartTally(int holdFirstBoxMs = 0);
    // The tally so far, and a new one begun with no box held.
    Tally EndTally();
    const Tally &Tallied() const { return m_tally; }

    // Runs while the box is open, before it is answered (for things that happen meanwhile).
    void OnBox(std::function<void(const Box &)> callback) { m_onBox = std::move(callback); }
    // A modal dialog other than a message box; unanswered unless the callback closes it.
    void OnOtherDialog(std::function<void(QDialog *)> callback) { m_onOtherDialog = std::move(callback); }

    // Every box seen, once each, in the order they came.
    const QList<Box> &Boxes() const { return m_boxes; }
    QStringList Texts() const;
    int Count() const { return static_cast<int>(m_boxes.size()); }
    void Clear() { m_boxes.clear(); }
    int OpenBoxes() const;
    // The text of the box answered last, and how long ago (-1: none yet).
    QString LastAnsweredText() const { return m_lastAnsweredText; }
    qint64 MsSinceLastAnswer() const { return m_sinceLastAnswer.isValid() ? m_sinceLastAnswer.elapsed() : -1; }

private:
    void Poll();
    void CountOpenBoxes();
    void Record(QMessageBox *box);
    Clock::time_point AnswerAt(QMessageBox *box);
    QAbstractButton *ChooseButton(QMessageBox *box);
    bool HasOwnAnswer(const QString &text) const { return m_textAnswers.count(text) > 0; }

    QTimer m_poll;
    QMessageBox::StandardButton m_defaultAnswer;
    std::map<QString, std::function<QMessageBox::StandardButton()>> m_textAnswers;
    std::deque<QMessageBox::StandardButton> m_answers;
    bool m_hold = false;
    std::function<int(const QString &)> m_holdTime;
    std::function<void(const Box &)> m_onBox;
    std::function<void(QDialog *)> m_onOtherDialog;

    QList<Box> m_boxes;
    QList<QPointer<QMessageBox>> m_seen;
    // The active box and when it is answered.
    QPointer<QMessageBox> m_current;
    Clock::time_point m_answerAt;
    // The box HoldFirstBox keeps open: pending until it comes, then until it is answered.
    int m_holdFirstMs = 0;
    QPointer<QMessageBox> m_held;
    Clock::time_point m_heldUntil;
    Tally m_tally;
    QString m_lastAnsweredText;
    QElapsedTimer m_sinceLastAnswer;
};
