#pragma once

#include <QString>
#include <QStringList>

#include "widgets/display_list/line_list_view.h"

class LineFilterModel;
class LineListModel;
class QLineEdit;

// A view of lines it does not own, with a filter of its own: several views can show the same
// lines, each narrowed by its own text. Unfiltered, it shows the lines themselves and the
// filter costs nothing.
class FilteredLineView : public LineListView
{
    Q_OBJECT

public:
    explicit FilteredLineView(LineListModel *lines, QWidget *parent = nullptr);

    // All lines, whatever the filter shows.
    LineListModel *Lines() const { return m_lines; }
    // The lines the view shows while a filter text is set.
    LineFilterModel *ShownLines() const { return m_shownLines; }
    QString FilterText() const;
    bool IsFiltered() const;
    // Makes field this view's filter field: "筛选" while empty, a clear button, and every
    // change of its text sets the filter.
    void AttachFilterField(QLineEdit *field);

    // The selected line as a row of all lines (-1: none), and the line to select.
    int SelectedLine() const;
    void SelectLine(int line);

    // Every line the view shows, top first, as drawn on its row (line breaks left out). A
    // filter still matching finishes first, so no shown line is missing.
    QStringList ShownTexts() const;

public slots:
    // Shows only the lines that contain text, case-insensitively; empty shows every line.
    void SetFilterText(const QString &text);

private:
    LineListModel *m_lines;
    LineFilterModel *m_shownLines;
};
