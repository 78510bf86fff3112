#include "common/line_list_box.h"

#include "common/line_list_model.h"

LineListBox::LineListBox(QWidget *parent)
    : LineListView(parent)
    , m_lines(new LineListModel(this))
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
