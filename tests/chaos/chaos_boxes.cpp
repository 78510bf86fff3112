#include "chaos_boxes.h"

#include <QDialog>

#include <algorithm>

namespace Chaos {

ChaosBoxes::ChaosBoxes(quint64 seed, Context &ctx)
    : m_random(seed, 500)
{
    answerer.AnswerText(kLogQuestion, [this] {
        const bool yes = m_random.Chance(0.15);
        (yes ? logYes : logNo) += 1;
        return yes ? QMessageBox::Yes : QMessageBox::No;
    });
    answerer.AnswerText(kStartQuestion, QMessageBox::No);
    answerer.SetHoldTime([this](const QString &text) { return HoldMs(text); });
    answerer.OnOtherDialog([this, &ctx](QDialog *dialog) {
        ++otherModals;
        ctx.Finding(QStringLiteral("a modal dialog other than a message box opened: ") + dialog->windowTitle());
        dialog->reject();
    });
}

int ChaosBoxes::HoldMs(const QString &text)
{
    // The same box again at once is a series (one per client of a send to all): the user
    // clicks through it without pausing.
    const qint64 since = answerer.MsSinceLastAnswer();
    const bool series = text == answerer.LastAnsweredText() && since >= 0 && since < 50;
    const bool holdLong = !series && m_random.Chance(0.02);
    heldLong += holdLong;
    return series ? 0 : holdLong ? m_random.Between(300, 800) : m_random.Between(0, 15);
}

std::map<QString, long> ChaosBoxes::ByText() const
{
    std::map<QString, long> byText;
    for (const BoxAnswerer::Box &box : answerer.Boxes())
        ++byText[box.text];
    return byText;
}

int ChaosBoxes::MaxOpenOf(const QString &text) const
{
    const auto &byText = answerer.Tallied().maxOpenByText;
    const auto most = byText.find(text);
    return most == byText.end() ? 0 : most->second;
}

int ChaosBoxes::MaxOpenOfOneText() const
{
    int most = 0;
    for (const auto &[text, open] : answerer.Tallied().maxOpenByText)
        most = std::max(most, open);
    return most;
}

}  // namespace Chaos
