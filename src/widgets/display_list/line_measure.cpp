#include "widgets/display_list/line_measure.h"

#include <algorithm>
#include <cmath>
#include <limits>

LineMeasure::LineMeasure(const QFont &font)
    : m_metrics(font)
{
}

void LineMeasure::SetFont(const QFont &font)
{
    m_metrics = QFontMetrics(font);
    m_advances.clear();
}

int LineMeasure::Advance(QStringView text, qsizetype at) const
{
    const QChar ch = text[at];
    if (ch.isHighSurrogate() && at + 1 < text.size())
        return m_metrics.horizontalAdvance(text.sliced(at, 2).toString());
    if (m_advances.empty())
        m_advances.assign(0x10000, -1);
    qint16 &advance = m_advances[ch.unicode()];
    if (advance < 0)
        advance = static_cast<qint16>(m_metrics.horizontalAdvance(ch));
    return advance;
}

int LineMeasure::TextWidth(QStringView text) const
{
    int width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        width += Advance(text, i);
        if (text[i].isHighSurrogate() && i + 1 < text.size())
            ++i;
    }
    return width;
}

qsizetype LineMeasure::MeasuredPart(const QByteArray &line, TextEncoding encoding)
{
    // Up to kExactBytes, ending where a character ends, so no cut character skews the ratio.
    switch (encoding) {
    case TextEncoding::Latin1:
        return kExactBytes;
    case TextEncoding::Utf8: {
        qsizetype end = kExactBytes;
        while (end > kExactBytes - 3 && (static_cast<uchar>(line[end]) & 0xC0) == 0x80)
            --end;
        return end;
    }
    case TextEncoding::Gbk:
    case TextEncoding::Big5:
        break;
    }
    qsizetype end = 0;
    for (qsizetype next = 0; next <= kExactBytes; next += static_cast<uchar>(line[next]) >= 0x81 ? 2 : 1)
        end = next;
    return end;
}

int LineMeasure::LineWidth(const QByteArray &line, TextEncoding encoding) const
{
    if (!IsLong(line))
        return TextWidth(DecodeText(line, encoding));
    const qsizetype part = MeasuredPart(line, encoding);
    const qint64 measured = TextWidth(DecodeText(QByteArrayView(line).first(part), encoding));
    const qint64 width = (measured * line.size() + part - 1) / part;
    return static_cast<int>(std::min<qint64>(width, std::numeric_limits<int>::max() / 4));
}

LongRowPositions::LongRowPositions(const LineMeasure &measure, QStringView rowText, int lineWidth)
    : m_measure(measure)
    , m_text(rowText)
    , m_exactChars(std::min(rowText.size(), kExactChars))
{
    if (m_exactChars < m_text.size() && m_text[m_exactChars].isLowSurrogate())
        ++m_exactChars;  // a pair is not split between the two parts
    m_exactWidth = measure.TextWidth(m_text.first(m_exactChars));
    const qsizetype rest = m_text.size() - m_exactChars;
    m_step = rest > 0 ? std::max(0, lineWidth - m_exactWidth) / qreal(rest) : 0;
}

qreal LongRowPositions::X(qsizetype at) const
{
    if (at >= m_exactChars)
        return m_exactWidth + (at - m_exactChars) * m_step;
    return m_measure.TextWidth(m_text.first(at));
}

LongRowPositions::Run LongRowPositions::VisibleRun(qreal from, qreal to) const
{
    // The first character that reaches past from, then back by the margin.
    qsizetype first = m_exactChars;
    if (from < m_exactWidth) {
        int x = 0;
        for (first = 0; first < m_exactChars; first = Next(first)) {
            x += m_measure.Advance(m_text, first);
            if (x > from)
                break;
        }
    } else if (m_step > 0) {
        first += static_cast<qsizetype>(std::floor((from - m_exactWidth) / m_step));
    }
    first = std::clamp<qsizetype>(first - kMarginChars, 0, m_text.size());
    if (first > 0 && first < m_text.size() && m_text[first].isLowSurrogate())
        --first;
    const qreal start = X(first);

    // The first character that starts past to.
    qsizetype end = first;
    for (qreal x = start; end < m_exactChars && x <= to; end = Next(end))
        x += m_measure.Advance(m_text, end);
    if (end >= m_exactChars && m_step > 0)
        end = std::max(end, m_exactChars + static_cast<qsizetype>(std::ceil((to - m_exactWidth) / m_step)));
    // Twice what the positions say, and the margin: the characters in view may be narrower
    // than those the line's width was taken from.
    end = std::min(m_text.size(), end + (end - first) + kMarginChars);
    if (end < m_text.size() && m_text[end].isLowSurrogate())
        ++end;
    return {first, end - first, start};
}

qsizetype LongRowPositions::Next(qsizetype at) const
{
    return at + (m_text[at].isHighSurrogate() && at + 1 < m_text.size() ? 2 : 1);
}
