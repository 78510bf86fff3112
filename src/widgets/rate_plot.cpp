#include "widgets/rate_plot.h"

#include <QPainter>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kGap = 6;
constexpr int kSwatchWidth = 16;
constexpr int kMinutesPerTick = 2;

const QString kAxisTitle = QStringLiteral("字节/秒");
const QString kTxLegend = QStringLiteral("发送 TX");
const QString kRxLegend = QStringLiteral("接收 RX");

QString TimeText(int minutesAgo)
{
    return minutesAgo == 0 ? QStringLiteral("现在") : QString::number(minutesAgo) + QStringLiteral("分钟前");
}

// Where a moment falls in the plot: ten minutes ago at the left edge, now at the right.
double XOf(const QRect &area, int secondsAgo)
{
    return area.left() + double(RatePlot::kSeconds - secondsAgo) * (area.width() - 1) / RatePlot::kSeconds;
}

// Where a share of the axis' top falls: 0 on the bottom edge, 1 on the top one.
double YOf(const QRect &area, double share)
{
    return area.bottom() - share * (area.height() - 1);
}

}  // namespace

RatePlot::RatePlot(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

RatePlot::Scale RatePlot::ScaleFor(qint64 largest)
{
    const double reach = std::max(1000.0, static_cast<double>(largest));
    const double rough = reach / 5;
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10;
    for (const double factor : {1.0, 2.0, 5.0}) {
        if (power * factor >= rough) {
            step = power * factor;
            break;
        }
    }
    return {step, std::max(1, static_cast<int>(std::ceil(reach / step)))};
}

void RatePlot::SetSamples(std::vector<ByteRate> samples)
{
    if (samples.size() > static_cast<std::size_t>(kSeconds))
        samples.erase(samples.begin(), samples.end() - kSeconds);
    m_samples = std::move(samples);
    update();
}

QSize RatePlot::sizeHint() const
{
    return QSize(640, 180);
}

QSize RatePlot::minimumSizeHint() const
{
    return QSize(240, 100);
}

void RatePlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().text().color());

    qint64 largest = 0;
    for (const ByteRate &sample : m_samples)
        largest = std::max({largest, sample.tx, sample.rx});
    const Scale scale = ScaleFor(largest);
    int labelWidth = 0;
    for (int i = 0; i <= scale.steps; ++i)
        labelWidth = std::max(labelWidth, fontMetrics().horizontalAdvance(ByteRateText(scale.step * i)));

    // Title and legend above the plot, the rates' labels left of it, the times below it.
    const int lineHeight = fontMetrics().height();
    const QRect area = rect().adjusted(labelWidth + 2 * kGap, lineHeight + 2 * kGap, -2 * kGap, -(lineHeight + kGap));
    DrawTitleAndLegend(painter, kGap + fontMetrics().ascent());
    if (area.width() < 2 || area.height() < 2)
        return;  // too small for a plot: the legend says what it would be
    DrawRateAxis(painter, area, scale, labelWidth);
    DrawTimeAxis(painter, area);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawSeries(painter, area, scale, &ByteRate::tx, TxColor());
    DrawSeries(painter, area, scale, &ByteRate::rx, RxColor());
}

void RatePlot::DrawTitleAndLegend(QPainter &painter, int baseline) const
{
    painter.drawText(kGap, baseline, kAxisTitle);
    const QFontMetrics metrics = fontMetrics();
    const int entryWidth = kSwatchWidth + kGap / 2;
    const int legendWidth = 2 * entryWidth + metrics.horizontalAdvance(kTxLegend) + kGap * 2
                            + metrics.horizontalAdvance(kRxLegend);
    int x = std::max(2 * kGap + metrics.horizontalAdvance(kAxisTitle), width() - kGap - legendWidth);
    const int swatchY = baseline - metrics.ascent() / 2 + metrics.descent() / 2;
    for (const auto &[text, color] : {std::pair{kTxLegend, TxColor()}, std::pair{kRxLegend, RxColor()}}) {
        painter.fillRect(x, swatchY - 1, kSwatchWidth, 3, color);
        x += entryWidth;
        painter.drawText(x, baseline, text);
        x += metrics.horizontalAdvance(text) + 2 * kGap;
    }
}

void RatePlot::DrawRateAxis(QPainter &painter, const QRect &area, const Scale &scale, int labelWidth) const
{
    const QColor text = palette().text().color();
    const QColor grid = palette().mid().color();
    const int lineHeight = fontMetrics().height();
    for (int i = 0; i <= scale.steps; ++i) {
        const int y = static_cast<int>(std::lround(YOf(area, double(i) / scale.steps)));
        painter.setPen(i == 0 ? text : grid);
        painter.drawLine(area.left(), y, area.right(), y);
        painter.setPen(text);
        painter.drawText(QRect(kGap, y - lineHeight / 2, labelWidth, lineHeight), Qt::AlignRight | Qt::AlignVCenter,
                         ByteRateText(scale.step * i));
    }
    painter.drawLine(area.left(), area.top(), area.left(), area.bottom());
}

void RatePlot::DrawTimeAxis(QPainter &painter, const QRect &area) const
{
    const QFontMetrics metrics = fontMetrics();
    const int baseline = area.bottom() + kGap / 2 + metrics.ascent();
    int freeFrom = 0;  // labels that would overlap the one before are left out
    for (int minutesAgo = kSeconds / 60; minutesAgo >= 0; minutesAgo -= kMinutesPerTick) {
        const int x = static_cast<int>(std::lround(XOf(area, minutesAgo * 60)));
        painter.drawLine(x, area.bottom(), x, area.bottom() + kGap / 2);
        const QString text = TimeText(minutesAgo);
        const int textWidth = metrics.horizontalAdvance(text);
        const int left = std::clamp(x - textWidth / 2, 0, std::max(0, width() - textWidth));
        if (left < freeFrom)
            continue;
        painter.drawText(left, baseline, text);
        freeFrom = left + textWidth + kGap;
    }
}

void RatePlot::DrawSeries(QPainter &painter, const QRect &area, const Scale &scale, qint64 ByteRate::*series,
                          const QColor &color) const
{
    if (m_samples.empty())
        return;
    const int count = static_cast<int>(m_samples.size());
    QPolygonF line;
    line.reserve(count);
    for (int i = 0; i < count; ++i) {
        const double share = std::clamp(double(m_samples[static_cast<std::size_t>(i)].*series) / scale.Top(), 0.0, 1.0);
        line.append(QPointF(XOf(area, count - 1 - i), YOf(area, share)));
    }
    painter.setPen(QPen(color, 2));
    if (line.size() == 1)
        painter.drawPoint(line.first());
    else
        painter.drawPolyline(line);
}
