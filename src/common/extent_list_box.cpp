#include "common/extent_list_box.h"

#include <QDir>
#include <QEvent>
#include <QFontMetrics>

#include "common/line_list_model.h"
#include "platform/gbk.h"

CExtentListBox::CExtentListBox(QWidget *parent)
    : LineListBox(parent)
    , m_advances(0x10000, -1)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

void CExtentListBox::GrowExtent(int width)
{
    if (HorizontalExtent() < width)
        SetHorizontalExtent(width);
}

int CExtentListBox::AddString(const QByteArray &line)
{
    // Widened before the add, whether or not the add then succeeds.
    GrowExtent(TextWidth(line));
    return LineListBox::AddString(line);
}

int CExtentListBox::InsertString(int index, const QByteArray &line)
{
    const int result = LineListBox::InsertString(index, line);
    if (result != LB_ERR)
        GrowExtent(TextWidth(line));
    return result;
}

int CExtentListBox::DeleteString(int index)
{
    const int result = LineListBox::DeleteString(index);
    if (result != LB_ERR)
        SetHorizontalExtent(WidestLineWidth());
    return result;
}

void CExtentListBox::ResetContent()
{
    SetHorizontalExtent(0);
    LineListBox::ResetContent();
}

int CExtentListBox::Dir(unsigned attributes, const QString &pattern)
{
    QDir directory = QDir::current();
    if (!directory.exists())
        return LB_ERR;
    QDir::Filters filters = QDir::Files;
    if (attributes & DDL_DIRECTORY)
        filters |= QDir::Dirs | QDir::NoDot;
    if (attributes & DDL_HIDDEN)
        filters |= QDir::Hidden;
    const QFileInfoList entries = directory.entryInfoList({pattern.isEmpty() ? QStringLiteral("*") : pattern}, filters, QDir::Name | QDir::DirsLast);
    int result = LB_ERR;
    for (const QFileInfo &entry : entries) {
        if ((attributes & DDL_EXCLUSIVE) && entry.isFile() && (attributes & DDL_DIRECTORY))
            continue;  // only directories were asked for
        const QString name = entry.isDir() ? QLatin1Char('[') + entry.fileName() + QLatin1Char(']') : entry.fileName();
        result = LineListBox::AddString(ToGbk(name));
    }
    if (result != LB_ERR && result != LB_ERRSPACE)
        SetHorizontalExtent(WidestLineWidth());
    return result;
}

int CExtentListBox::MeasuredWidth(const QByteArray &line) const
{
    // Summing cached advances keeps the per-line cost flat under floods of received lines.
    const QString text = FromGbk(line);
    const QFontMetrics metrics = fontMetrics();
    int width = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text.at(i);
        if (ch.isHighSurrogate() && i + 1 < text.size()) {
            width += metrics.horizontalAdvance(text.mid(i, 2));
            ++i;
            continue;
        }
        qint16 &advance = m_advances[ch.unicode()];
        if (advance < 0)
            advance = static_cast<qint16>(metrics.horizontalAdvance(ch));
        width += advance;
    }
    return width;
}

int CExtentListBox::TextWidth(const QByteArray &line) const
{
    return MeasuredWidth(line) + fontMetrics().averageCharWidth();
}

int CExtentListBox::WidestLineWidth() const
{
    const int averageWidth = fontMetrics().averageCharWidth();
    int widest = 0;
    for (int index = 0; index < GetCount(); ++index) {
        const QByteArray &line = Lines()->Line(index);
        if (line.isEmpty())
            continue;
        widest = std::max(widest, MeasuredWidth(line) + averageWidth);
    }
    return widest;
}

void CExtentListBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange)
        std::fill(m_advances.begin(), m_advances.end(), qint16(-1));
    LineListBox::changeEvent(event);
}
