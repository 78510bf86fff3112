#include "traffic/rate_history.h"

#include <algorithm>

RateHistory::RateHistory(QObject *parent)
    : QObject(parent)
{
}

void RateHistory::Add(ByteRate rate, qint64 elapsedMs)
{
    const ByteRate sample{std::max<qint64>(0, rate.tx), std::max<qint64>(0, rate.rx)};
    // Rounded to whole seconds: the timer comes a few milliseconds late every time.
    const qint64 seconds = std::clamp<qint64>((elapsedMs + 500) / 1000, 1, kSamples);
    for (qint64 i = 0; i < seconds; ++i) {
        m_ring[static_cast<std::size_t>(m_next)] = sample;
        m_next = (m_next + 1) % kSamples;
    }
    m_count = static_cast<int>(std::min<qint64>(kSamples, m_count + seconds));
    emit Added();
}

std::vector<ByteRate> RateHistory::Samples() const
{
    std::vector<ByteRate> samples;
    samples.reserve(static_cast<std::size_t>(m_count));
    const int oldest = (m_next - m_count + kSamples) % kSamples;
    for (int i = 0; i < m_count; ++i)
        samples.push_back(m_ring[static_cast<std::size_t>((oldest + i) % kSamples)]);
    return samples;
}
