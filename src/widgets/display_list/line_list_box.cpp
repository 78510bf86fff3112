#include "widgets/display_list/line_list_box.h"

#include "widgets/display_list/line_list_model.h"

LineListBox::LineListBox(QWidget *parent)
    : FilteredLineView(new LineListModel, parent)
{
    Lines()->setParent(this);  // the list box's own lines, unlike a view's
    SetMaxBytes(kKeptBytes);
}

int LineListBox::AddString(const QByteArray &line)
{
    return Lines()->InsertLine(-1, line);
}

int LineListBox::InsertString(int index, const QByteArray &line, TextEncoding encoding)
{
    const int row = Lines()->InsertLine(index, line, encoding);
    return row < 0 ? LB_ERR : row;
}

int LineListBox::DeleteString(int index)
{
    return Lines()->RemoveLine(index) ? Lines()->Count() : LB_ERR;
}

void LineListBox::ResetContent()
{
    Lines()->Clear();
}

int LineListBox::GetCount() const
{
    return Lines()->Count();
}

QByteArray LineListBox::GetText(int index) const
{
    return index >= 0 && index < Lines()->Count() ? Lines()->Line(index) : QByteArray();
}

void LineListBox::ResetLines(std::deque<QByteArray> lines)
{
    Lines()->SetLines(std::move(lines));
}

void LineListBox::SetMaxLines(int maxLines)
{
    Lines()->SetMaxLines(maxLines);
}

int LineListBox::MaxLines() const
{
    return Lines()->MaxLines();
}

void LineListBox::SetMaxBytes(qint64 maxBytes)
{
    Lines()->SetMaxBytes(maxBytes);
}

qint64 LineListBox::MaxBytes() const
{
    return Lines()->MaxBytes();
}

int LineListBox::GetCurSel() const
{
    return SelectedLine();
}

void LineListBox::SetCurSel(int index)
{
    SelectLine(index);
}
