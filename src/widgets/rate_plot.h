#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

#include "text/byte_rate.h"

// The bytes per second a page sent and received over the last ten minutes, one sample a
// second, as two lines over time: the newest at the right, the rates on an axis that reaches
// the largest of them. It repaints when it is given samples, not otherwise.
class RatePlot : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kSeconds = 600;

    // The rate axis: from 0 in steps of 1, 2 or 5 times a power of ten, two to five of them
    // up to the largest rate (an idle page's axis reaches 1 KB/s).
    struct Scale
    {
        double step = 0;
        int steps = 0;
        double Top() const { return step * steps; }
    };
    static Scale ScaleFor(qint64 largest);

    static QColor TxColor() { return QColor(0x1f, 0x6f, 0xd0); }
    static QColor RxColor() { return QColor(0xe0, 0x6c, 0x00); }

    explicit RatePlot(QWidget *parent = nullptr);

    // One sample a second, oldest first; the last kSeconds are drawn.
    void SetSamples(std::vector<ByteRate> samples);
    const std::vector<ByteRate> &Samples() const { return m_samples; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void DrawTitleAndLegend(QPainter &painter, int baseline) const;
    void DrawRateAxis(QPainter &painter, const QRect &area, const Scale &scale, int labelWidth) const;
    void DrawTimeAxis(QPainter &painter, const QRect &area) const;
    void DrawSeries(QPainter &painter, const QRect &area, const Scale &scale, qint64 ByteRate::*series,
                    const QColor &color) const;

    std::vector<ByteRate> m_samples;
};
