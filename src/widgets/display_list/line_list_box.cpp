#include "widgets/display_list/line_list_box.h"

#include <QLineEdit>

#include "widgets/display_list/line_filter_model.h"
#include "widgets/display_list/line_list_model.h"

LineListBox::LineListBox(QWidget *parent)
    : LineListView(parent)
    , m_lines(new LineListModel(this))
    , m_shownLines(new LineFilterModel(m_lines, this))
{
    setModel(m_lines);
}

int LineListBox::AddString(const QByteArray &line)
{
    return m_lines->InsertLine(-1, line);
}

int LineListBox::InsertString(int index, const QByteArray &line, TextEncoding encoding)
{
    const int row = m_lines->InsertLine(index, line, encoding);
    return row < 0 ? LB_ERR : row;
}

int LineListBox::DeleteString(int index)
{
    return m_lines->RemoveLine(index) ? m_lines->Count() : LB_ERR;
}

void LineListBox::ResetContent()
{
    m_lines->Clear();
}

int LineListBox::GetCount() const
{
    return m_lines->Count();
}

QByteArray LineListBox::GetText(int index) const
{
    return index >= 0 && index < m_lines->Count() ? m_lines->Line(index) : QByteArray();
}

void LineListBox::ResetLines(std::deque<QByteArray> lines)
{
    m_lines->SetLines(std::move(lines));
}

void LineListBox::SetMaxLines(int maxLines)
{
    m_lines->SetMaxLines(maxLines);
}

int LineListBox::MaxLines() const
{
    return m_lines->MaxLines();
}

int LineListBox::GetCurSel() const
{
    const int row = CurrentSelection();
    return row >= 0 && IsFiltered() ? m_shownLines->SourceRow(row) : row;
}

void LineListBox::SetCurSel(int index)
{
    SetCurrentSelection(IsFiltered() ? m_shownLines->RowOf(index) : index);
}

QString LineListBox::FilterText() const
{
    return m_shownLines->FilterText();
}

bool LineListBox::IsFiltered() const
{
    return !m_shownLines->FilterText().isEmpty();
}

void LineListBox::SetFilterText(const QString &text)
{
    if (text == FilterText())
        return;
    // The selected line stays selected while it is shown (found in the filter's first slice).
    const int selected = GetCurSel();
    m_shownLines->SetFilterText(text);
    // Unfiltered, the view shows the lines themselves and the filter costs nothing.
    setModel(IsFiltered() ? static_cast<QAbstractItemModel *>(m_shownLines) : m_lines);
    SetCurSel(selected);
}

void LineListBox::AttachFilterField(QLineEdit *field)
{
    field->setPlaceholderText(QStringLiteral("筛选"));
    field->setClearButtonEnabled(true);
    connect(field, &QLineEdit::textChanged, this, &LineListBox::SetFilterText);
}
