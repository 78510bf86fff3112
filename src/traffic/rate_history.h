#pragma once

#include <QObject>

#include <array>
#include <vector>

#include "text/byte_rate.h"

// A page's rates of the last ten minutes, one sample a second, kept from the page's start so
// that a window opened later shows the minutes before it. A fixed ring: the oldest sample
// goes as a new one comes.
class RateHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int kSamples = 600;

    explicit RateHistory(QObject *parent = nullptr);

    // A rate measured over elapsedMs fills the seconds it covers, at least one: a tick that
    // came late under a flood leaves no gap in the time the samples stand for. A rate below 0
    // counts as 0.
    void Add(ByteRate rate, qint64 elapsedMs = 1000);

    // Oldest first, at most kSamples.
    std::vector<ByteRate> Samples() const;
    int Count() const { return m_count; }

signals:
    // Once per Add, so once a second: whoever draws the samples repaints on it.
    void Added();

private:
    std::array<ByteRate, kSamples> m_ring{};
    int m_next = 0;  // where the next sample goes
    int m_count = 0;
};
