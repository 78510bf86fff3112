#pragma once

#include <QString>

#include <map>

#include "chaos_context.h"
#include "support/box_answerer.h"

namespace Chaos {

// The two questions the chaos run answers by their texts.
inline const QString kLogQuestion = QStringLiteral("是否需要系统记录收发数据？");
inline const QString kStartQuestion = QStringLiteral("是否需要系统保存日志？");

// Answers every message box as a user would after a moment: the traffic log question with
// No, now and then Yes; the start-up log question with No; any other box with its default
// button. Most boxes are answered within 15 ms, one in fifty is left open up to 0.8 s (the
// pages go on meanwhile), a series of the same box at once without delay. A modal dialog
// other than a message box is a finding, and closed. Its tally keeps how many boxes were open
// at once, and of one text.
class ChaosBoxes
{
public:
    ChaosBoxes(quint64 seed, Context &ctx);

    // Each box once, by its text.
    std::map<QString, long> ByText() const;
    int MaxOpen() const { return answerer.Tallied().maxOpen; }
    int MaxOpenOf(const QString &text) const;
    int MaxOpenOfOneText() const;

    BoxAnswerer answerer{QMessageBox::NoButton};
    long logYes = 0;
    long logNo = 0;
    long heldLong = 0;
    long otherModals = 0;

private:
    int HoldMs(const QString &text);

    Random m_random;
};

}  // namespace Chaos
