#include "support/box_answerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

#include <algorithm>

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton defaultAnswer, QObject *parent)
    : QObject(parent)
    , m_defaultAnswer(defaultAnswer)
{
    m_poll.setInterval(1);
    connect(&m_poll, &QTimer::timeout, this, &BoxAnswerer::Poll);
    m_poll.start();
}

void BoxAnswerer::AnswerText(const QString &text, QMessageBox::StandardButton answer)
{
    m_textAnswers[text] = [answer] { return answer; };
}

void BoxAnswerer::AnswerText(const QString &text, std::function<QMessageBox::StandardButton()> choose)
{
    m_textAnswers[text] = std::move(choose);
}

void BoxAnswerer::StartTally(int holdFirstBoxMs)
{
    m_tally = Tally{};
    m_holdFirstMs = holdFirstBoxMs;
    m_held = nullptr;
}

BoxAnswerer::Tally BoxAnswerer::EndTally()
{
    Tally tally = m_tally;
    StartTally(0);
    return tally;
}

QStringList BoxAnswerer::Texts() const
{
    QStringList texts;
    for (const Box &box : m_boxes)
        texts.append(box.text);
    return texts;
}

int BoxAnswerer::OpenBoxes() const
{
    int open = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox *>(widget) && widget->isVisible())
            ++open;
    return open;
}

void BoxAnswerer::Poll()
{
    CountOpenBoxes();
    QWidget *modal = QApplication::activeModalWidget();
    auto *box = qobject_cast<QMessageBox *>(modal);
    if (!box) {
        if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && m_onOtherDialog)
            m_onOtherDialog(dialog);
        return;
    }
    if (!box->isVisible())
        return;
    if (!m_seen.contains(box))
        Record(box);
    if (box != m_current) {
        m_current = box;
        m_answerAt = AnswerAt(box);
    }
    if (m_hold || Clock::now() < m_answerAt)
        return;
    QAbstractButton *button = ChooseButton(box);
    m_current = nullptr;
    if (box == m_held)
        m_tally.heldClosed = true;
    m_lastAnsweredText = box->text();
    m_sinceLastAnswer.start();
    if (button)
        button->click();
}

void BoxAnswerer::CountOpenBoxes()
{
    std::map<QString, int> open;
    int total = 0;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (!box || !box->isVisible())
            continue;
        ++total;
        int &most = m_tally.maxOpenByText[box->text()];
        most = std::max(most, ++open[box->text()]);
    }
    m_tally.maxOpen = std::max(m_tally.maxOpen, total);
}

void BoxAnswerer::Record(QMessageBox *box)
{
    m_seen.removeAll(nullptr);
    m_seen.append(box);
    Box record{box->windowTitle(), box->text(), box->icon(), box->standardButtons(), {}, Clock::now()};
    for (QAbstractButton *button : box->buttons())
        record.buttonTexts.append(button->text());
    m_boxes.append(record);
    if (!HasOwnAnswer(record.text)) {
        ++m_tally.boxes;
        if (m_holdFirstMs > 0 && !m_tally.heldClosed && (!m_held || m_held->isVisible()))
            ++m_tally.whileHeld;
        m_tally.lastText = record.text;
        m_tally.lastSeen = record.shown;
    }
    if (m_onBox)
        m_onBox(record);
}

BoxAnswerer::Clock::time_point BoxAnswerer::AnswerAt(QMessageBox *box)
{
    const Clock::time_point now = Clock::now();
    // The held box keeps its time when it is the active one again after a box over it closed.
    if (box == m_held)
        return m_heldUntil;
    if (m_holdFirstMs > 0 && !m_held && !m_tally.heldClosed && !HasOwnAnswer(box->text())) {
        m_held = box;
        m_heldUntil = now + std::chrono::milliseconds(m_holdFirstMs);
        return m_heldUntil;
    }
    if (m_holdTime)
        return now + std::chrono::milliseconds(m_holdTime(box->text()));
    return now;
}

QAbstractButton *BoxAnswerer::ChooseButton(QMessageBox *box)
{
    QMessageBox::StandardButton answer = m_defaultAnswer;
    if (const auto own = m_textAnswers.find(box->text()); own != m_textAnswers.end()) {
        answer = own->second();
    } else if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    QAbstractButton *button = nullptr;
    if (answer == QMessageBox::NoButton)
        button = box->defaultButton();
    else
        button = box->button(answer);
    if (!button)
        button = box->escapeButton();
    if (!button)
        button = box->buttons().value(0);
    return button;
}
