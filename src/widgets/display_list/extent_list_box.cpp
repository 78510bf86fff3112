#include "widgets/display_list/extent_list_box.h"

#include <QDir>
#include <QEvent>
#include <QFontMetrics>

#include "text/gbk.h"
#include "widgets/display_list/line_filter_model.h"
#include "widgets/display_list/line_list_model.h"

CExtentListBox::CExtentListBox(QWidget *parent)
    : LineListBox(parent)
{
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(Lines(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { OnLinesInserted(first, last); });
    connect(Lines(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { OnLinesAboutToBeRemoved(first, last); });
    connect(Lines(), &QAbstractItemModel::modelReset, this, &CExtentListBox::MeasureAllLines);
    // The filter follows the lines only once a filter is set, after these connections: the
    // widths of the lines it passes on are measured, or forgotten, by then.
    connect(ShownLines(), &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) { OnShownLinesInserted(first, last); });
    connect(ShownLines(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex &, int first, int last) { OnShownLinesAboutToBeRemoved(first, last); });
    connect(ShownLines(), &QAbstractItemModel::modelReset, this, &CExtentListBox::CollectShownWidths);
    SetMaxLines(kKeptLines);
}

int CExtentListBox::LineWidth(int row) const
{
    if (Lines()->Line(row).isEmpty())
        return 0;
    return Measure().LineWidth(Lines()->Line(row), Lines()->LineEncoding(row)) + fontMetrics().averageCharWidth();
}

void CExtentListBox::OnLinesInserted(int first, int last)
{
    for (int row = first; row <= last; ++row)
        m_widths.Insert(row, LineWidth(row));
}

void CExtentListBox::OnLinesAboutToBeRemoved(int first, int last)
{
    m_widths.Remove(first, last);
}

void CExtentListBox::MeasureAllLines()
{
    m_widths.Clear();
    for (int row = 0; row < GetCount(); ++row)
        m_widths.Insert(row, LineWidth(row));
}

void CExtentListBox::OnShownLinesInserted(int first, int last)
{
    for (int row = first; row <= last; ++row)
        m_shownWidths.Insert(row, m_widths.At(ShownLines()->SourceRow(row)));
    ShowExtent();
}

void CExtentListBox::OnShownLinesAboutToBeRemoved(int first, int last)
{
    m_shownWidths.Remove(first, last);
    ShowExtent();
}

void CExtentListBox::CollectShownWidths()
{
    m_shownWidths.Clear();
    OnShownLinesInserted(0, ShownLines()->rowCount() - 1);
}

void CExtentListBox::SetExtentOfAllLines(int pixels)
{
    m_extentOfAllLines = std::max(0, pixels);
    ShowExtent();
}

void CExtentListBox::GrowExtent(int width)
{
    if (m_extentOfAllLines < width)
        SetExtentOfAllLines(width);
}

void CExtentListBox::ShowExtent()
{
    SetHorizontalExtent(IsFiltered() ? m_shownWidths.Widest() : m_extentOfAllLines);
}

int CExtentListBox::AddString(const QByteArray &line)
{
    // Widened before the add, whether or not the add then succeeds.
    GrowExtent(TextWidth(line));
    return LineListBox::AddString(line);
}

int CExtentListBox::InsertString(int index, const QByteArray &line, TextEncoding encoding)
{
    const int countBefore = GetCount();
    const int result = LineListBox::InsertString(index, line, encoding);
    if (result == LB_ERR)
        return result;
    // Measured once, as it came in; an empty line still widens by one average character.
    const int width = line.isEmpty() ? fontMetrics().averageCharWidth() : m_widths.At(result);
    if (GetCount() <= countBefore)
        SetExtentOfAllLines(std::max(WidestLineWidth(), width));  // older lines left
    else
        GrowExtent(width);
    return result;
}

int CExtentListBox::DeleteString(int index)
{
    const int result = LineListBox::DeleteString(index);
    if (result != LB_ERR)
        SetExtentOfAllLines(WidestLineWidth());
    return result;
}

void CExtentListBox::ResetContent()
{
    SetExtentOfAllLines(0);
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
    const QFileInfoList entries = directory.entryInfoList({pattern.isEmpty() ? QStringLiteral("*") : pattern}, filters,
                                                          QDir::Name | QDir::DirsLast);
    int result = LB_ERR;
    for (const QFileInfo &entry : entries) {
        if ((attributes & DDL_EXCLUSIVE) && entry.isFile() && (attributes & DDL_DIRECTORY))
            continue;  // only directories were asked for
        const QString name = entry.isDir() ? QLatin1Char('[') + entry.fileName() + QLatin1Char(']') : entry.fileName();
        result = LineListBox::AddString(ToGbk(name));
    }
    if (result != LB_ERR && result != LB_ERRSPACE)
        SetExtentOfAllLines(WidestLineWidth());
    return result;
}

int CExtentListBox::TextWidth(const QByteArray &line) const
{
    return Measure().LineWidth(line, TextEncoding::Gbk) + fontMetrics().averageCharWidth();
}

int CExtentListBox::WidestLineWidth() const
{
    return m_widths.Widest();
}

void CExtentListBox::changeEvent(QEvent *event)
{
    LineListBox::changeEvent(event);  // the view measures in the new font from here on
    if (event->type() == QEvent::FontChange) {
        MeasureAllLines();
        CollectShownWidths();
    }
}
