#include "support/box_answerer.h"

#include <QAbstractButton>
#include <QApplication>

BoxAnswerer::BoxAnswerer(QMessageBox::StandardButton defaultAnswer, QObject *parent)
    : QObject(parent)
    , m_defaultAnswer(defaultAnswer)
{
    m_poll.setInterval(2);
    connect(&m_poll, &QTimer::timeout, this, &BoxAnswerer::Poll);
    m_poll.start();
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
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    const bool seen = std::any_of(m_seen.begin(), m_seen.end(), [box](const QPointer<QMessageBox> &p) { return p == box; });
    if (!seen) {
        m_seen.removeAll(nullptr);
        m_seen.append(box);
        Box record{box->windowTitle(), box->text(), box->icon(), box->standardButtons(), {}};
        for (QAbstractButton *button : box->buttons())
            record.buttonTexts.append(button->text());
        m_boxes.append(record);
        if (m_onBox)
            m_onBox(record);
    }
    if (m_hold)
        return;
    QMessageBox::StandardButton answer = m_defaultAnswer;
    if (!m_answers.empty()) {
        answer = m_answers.front();
        m_answers.pop_front();
    }
    QAbstractButton *button = box->button(answer);
    if (!button)
        button = box->escapeButton() ? box->escapeButton() : box->buttons().value(0);
    if (button)
        button->click();
}
