#pragma once

#include <QByteArray>
#include <QFontMetrics>
#include <QString>
#include <QStringView>

#include <vector>

#include "text/text_encoding.h"

// Widths of lines in one font, from a cache of character advances: a flood of received
// lines costs a table lookup per character, not a text layout per line.
//
// A line of up to kExactBytes bytes is measured exactly. A longer one (a 64 KiB block in hex
// is about 196,600 characters) is measured over its first kExactBytes bytes only, and the
// rest is taken to be as wide per byte as those: exact for hex and for lines of one kind of
// character, and the cost of an insert stays flat however long the line. The view places
// the characters of a long line by the same width (LongRowPositions), so scrolling to the
// end of the extent shows the end of the line.
class LineMeasure
{
public:
    static constexpr qsizetype kExactBytes = 4096;

    explicit LineMeasure(const QFont &font);
    void SetFont(const QFont &font);

    static bool IsLong(const QByteArray &line) { return line.size() > kExactBytes; }

    // The sum of the advances of text's characters.
    int TextWidth(QStringView text) const;
    // The width of a stored line as shown decoded from encoding (see above for long lines).
    int LineWidth(const QByteArray &line, TextEncoding encoding) const;
    // The advance of the character at `at` (of the pair, when it starts one).
    int Advance(QStringView text, qsizetype at) const;

private:
    static qsizetype MeasuredPart(const QByteArray &line, TextEncoding encoding);

    QFontMetrics m_metrics;
    // Advance of every character met so far in the font; -1 = not measured yet.
    mutable std::vector<qint16> m_advances;
};

// Where the characters of a long row stand: the first kExactChars exactly by their advances,
// the rest spread evenly up to the line's measured width. Only the part in view is drawn.
class LongRowPositions
{
public:
    static constexpr qsizetype kExactChars = 2048;

    LongRowPositions(const LineMeasure &measure, QStringView rowText, int lineWidth);

    // The characters that can be seen between from and to (pixels from the start of the
    // row), with a margin each side: the first one and how many.
    struct Run
    {
        qsizetype first = 0;
        qsizetype count = 0;
        qreal x = 0;  // where the first one starts
    };
    Run VisibleRun(qreal from, qreal to) const;
    qreal X(qsizetype at) const;

private:
    static constexpr qsizetype kMarginChars = 16;

    qsizetype Next(qsizetype at) const;

    const LineMeasure &m_measure;
    QStringView m_text;
    qsizetype m_exactChars;
    int m_exactWidth;
    qreal m_step;  // the width of each character after the exact ones
};
