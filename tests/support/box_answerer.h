#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <deque>
#include <functional>

// Watches for the active modal message box, records what it shows and presses the button
// the test chose: the next queued answer, else the default answer.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
        QStringList buttonTexts;  // as shown, left to right
    };

    explicit BoxAnswerer(QMessageBox::StandardButton defaultAnswer = QMessageBox::Ok, QObject *parent = nullptr);

    void Queue(QMessageBox::StandardButton answer) { m_answers.push_back(answer); }
    void SetDefaultAnswer(QMessageBox::StandardButton answer) { m_defaultAnswer = answer; }
    // Runs while the box is open, before it is answered (for things that happen meanwhile).
    void OnBox(std::function<void(const Box &)> callback) { m_onBox = std::move(callback); }
    // While held, boxes stay open; the test releases them.
    void Hold(bool hold) { m_hold = hold; }

    const QList<Box> &Boxes() const { return m_boxes; }
    QStringList Texts() const;
    int Count() const { return static_cast<int>(m_boxes.size()); }
    void Clear() { m_boxes.clear(); }
    int OpenBoxes() const;

private:
    void Poll();

    QTimer m_poll;
    QMessageBox::StandardButton m_defaultAnswer;
    std::deque<QMessageBox::StandardButton> m_answers;
    std::function<void(const Box &)> m_onBox;
    QList<Box> m_boxes;
    QList<QPointer<QMessageBox>> m_seen;
    bool m_hold = false;
};
