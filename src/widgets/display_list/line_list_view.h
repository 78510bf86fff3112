#pragma once

#include <QAbstractItemView>
#include <QByteArray>
#include <QString>

#include <vector>

#include "text/text_encoding.h"
#include "widgets/display_list/line_measure.h"
#include "widgets/paced_action.h"

// A list box view: one row per line, all rows the same height, only the visible rows
// painted. Its cost does not grow with the number of lines, unlike the item layouts of
// QListView. The horizontal scroll range is the horizontal extent set by the owner (0 = none).
// Of a long line (LineMeasure) only the characters that can be in view are laid out and drawn.
class LineListView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit LineListView(QWidget *parent = nullptr);

    void SetHorizontalExtent(int pixels);
    int HorizontalExtent() const { return m_horizontalExtent; }

    int RowHeight() const;
    int TopRow() const;
    int CurrentSelection() const;  // selected row, or -1
    void SetCurrentSelection(int row);

    // A line as its row shows it: a line keeps its CR LF, and on one row line breaks show as
    // nothing.
    static QString RowText(QString line);
    // The widths of lines in the view's font, as the long rows are placed by.
    const LineMeasure &Measure() const { return m_measure; }

    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    void setModel(QAbstractItemModel *model) override;
    void reset() override;

protected:
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &index) const override;
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void paintEvent(QPaintEvent *event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void rowsInserted(const QModelIndex &parent, int start, int end) override;
    void changeEvent(QEvent *event) override;

private:
    // A long row as the last paint decoded it: while it stays in view, repaints (scrolling
    // sideways, new lines elsewhere) do not decode its line again.
    struct DecodedRow
    {
        QByteArray line;
        TextEncoding encoding;
        QString text;
        int width;
    };
    const DecodedRow &DecodeLongRow(const QByteArray &line, TextEncoding encoding, std::vector<DecodedRow> &decoded);

    // Scroll bar ranges and the repaint after lines came or went, at most about 60 times a
    // second: every range change costs the scroll area a relayout, every repaint a paint of
    // the visible rows, and a flood brings thousands of lines a second.
    void ScheduleGeometryUpdate();
    void RefreshAfterChange();
    int RowCount() const;
    int VisibleRows() const;

    int m_horizontalExtent = 0;
    PacedAction m_refresh;
    LineMeasure m_measure;
    std::vector<DecodedRow> m_decodedRows;
};
