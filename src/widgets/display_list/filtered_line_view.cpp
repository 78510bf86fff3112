#include "widgets/display_list/filtered_line_view.h"

#include <QLineEdit>

#include "widgets/display_list/line_filter_model.h"
#include "widgets/display_list/line_list_model.h"

FilteredLineView::FilteredLineView(LineListModel *lines, QWidget *parent)
    : LineListView(parent)
    , m_lines(lines)
    , m_shownLines(new LineFilterModel(lines, this))
{
    setModel(m_lines);
}

QString FilteredLineView::FilterText() const
{
    return m_shownLines->FilterText();
}

bool FilteredLineView::IsFiltered() const
{
    return !m_shownLines->FilterText().isEmpty();
}

void FilteredLineView::SetFilterText(const QString &text)
{
    if (text == FilterText())
        return;
    // The selected line stays selected while it is shown (found in the filter's first slice).
    const int selected = SelectedLine();
    m_shownLines->SetFilterText(text);
    setModel(IsFiltered() ? static_cast<QAbstractItemModel *>(m_shownLines) : m_lines);
    SelectLine(selected);
}

void FilteredLineView::AttachFilterField(QLineEdit *field)
{
    field->setPlaceholderText(QStringLiteral("筛选"));
    field->setClearButtonEnabled(true);
    connect(field, &QLineEdit::textChanged, this, &FilteredLineView::SetFilterText);
}

int FilteredLineView::SelectedLine() const
{
    const int row = CurrentSelection();
    return row >= 0 && IsFiltered() ? m_shownLines->SourceRow(row) : row;
}

void FilteredLineView::SelectLine(int line)
{
    SetCurrentSelection(IsFiltered() ? m_shownLines->RowOf(line) : line);
}

QStringList FilteredLineView::ShownTexts() const
{
    if (IsFiltered())
        m_shownLines->MatchRemaining();
    const QAbstractItemModel *shown = model();
    const int count = shown->rowCount();
    QStringList texts;
    texts.reserve(count);
    for (int row = 0; row < count; ++row)
        texts.append(RowText(shown->index(row, 0).data(Qt::DisplayRole).toString()));
    return texts;
}
