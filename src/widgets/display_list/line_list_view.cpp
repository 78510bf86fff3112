#include "widgets/display_list/line_list_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "widgets/display_list/line_list_model.h"

LineListView::LineListView(QWidget *parent)
    : QAbstractItemView(parent)
    , m_refresh([this] { RefreshAfterChange(); }, this)
    , m_measure(font())
{
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setEditTriggers(NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollMode(ScrollPerItem);
    setHorizontalScrollMode(ScrollPerPixel);
}

int LineListView::RowCount() const
{
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int LineListView::RowHeight() const
{
    return fontMetrics().height() + 1;
}

int LineListView::VisibleRows() const
{
    return std::max(1, viewport()->height() / RowHeight());
}

int LineListView::TopRow() const
{
    return verticalScrollBar()->value();
}

int LineListView::CurrentSelection() const
{
    if (!selectionModel())
        return -1;
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void LineListView::SetCurrentSelection(int row)
{
    if (!model() || !selectionModel())
        return;
    if (row < 0 || row >= RowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = model()->index(row, 0, rootIndex());
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
}

QString LineListView::RowText(QString line)
{
    line.removeIf([](QChar ch) { return ch == u'\r' || ch == u'\n'; });
    return line;
}

void LineListView::setModel(QAbstractItemModel *model)
{
    if (model == this->model())
        return;
    if (this->model())
        disconnect(this->model(), &QAbstractItemModel::rowsRemoved, this, &LineListView::ScheduleGeometryUpdate);
    // The view makes a new selection model for every model and leaves the old one to us: a
    // list that switches models (its filter) would otherwise collect one per switch.
    QItemSelectionModel *oldSelection = selectionModel();
    QAbstractItemView::setModel(model);
    if (oldSelection && oldSelection != selectionModel() && oldSelection->parent() == this)
        oldSelection->deleteLater();
    if (model)
        connect(model, &QAbstractItemModel::rowsRemoved, this, &LineListView::ScheduleGeometryUpdate);
    updateGeometries();
}

void LineListView::reset()
{
    QAbstractItemView::reset();
    updateGeometries();
    viewport()->update();
}

void LineListView::SetHorizontalExtent(int pixels)
{
    if (pixels == m_horizontalExtent)
        return;
    m_horizontalExtent = std::max(0, pixels);
    ScheduleGeometryUpdate();
}

QRect LineListView::visualRect(const QModelIndex &index) const
{
    if (!index.isValid())
        return {};
    const int width = std::max(viewport()->width() + horizontalOffset(), m_horizontalExtent);
    return QRect(-horizontalOffset(), (index.row() - TopRow()) * RowHeight(), width, RowHeight());
}

void LineListView::scrollTo(const QModelIndex &index, ScrollHint hint)
{
    if (!index.isValid())
        return;
    const int row = index.row();
    const int top = TopRow();
    const int visible = VisibleRows();
    if (hint == PositionAtTop || (hint == EnsureVisible && row < top))
        verticalScrollBar()->setValue(row);
    else if (hint == PositionAtBottom || (hint == EnsureVisible && row >= top + visible))
        verticalScrollBar()->setValue(row - visible + 1);
    else if (hint == PositionAtCenter)
        verticalScrollBar()->setValue(row - visible / 2);
}

QModelIndex LineListView::indexAt(const QPoint &point) const
{
    if (!model() || point.y() < 0)
        return {};
    const int row = TopRow() + point.y() / RowHeight();
    return row < RowCount() ? model()->index(row, 0, rootIndex()) : QModelIndex();
}

QModelIndex LineListView::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers)
{
    const int count = RowCount();
    if (count == 0)
        return {};
    const int current = currentIndex().isValid() ? currentIndex().row() : -1;
    int row = current;
    switch (cursorAction) {
    case MoveUp:
    case MovePrevious:
        row = current - 1;
        break;
    case MoveDown:
    case MoveNext:
        row = current + 1;
        break;
    case MovePageUp:
        row = current - VisibleRows();
        break;
    case MovePageDown:
        row = current + VisibleRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    default:
        break;
    }
    return model()->index(std::clamp(row, 0, count - 1), 0, rootIndex());
}

int LineListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int LineListView::verticalOffset() const
{
    return TopRow() * RowHeight();
}

bool LineListView::isIndexHidden(const QModelIndex &) const
{
    return false;
}

void LineListView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel())
        return;
    const QRect normal = rect.normalized();
    const int count = RowCount();
    const int first = std::clamp(TopRow() + normal.top() / RowHeight(), 0, std::max(0, count - 1));
    const int last = std::clamp(TopRow() + normal.bottom() / RowHeight(), 0, std::max(0, count - 1));
    if (count == 0)
        return;
    const QItemSelection selection(model()->index(first, 0, rootIndex()), model()->index(last, 0, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion LineListView::visualRegionForSelection(const QItemSelection &selection) const
{
    QRegion region;
    const int top = TopRow();
    const int bottom = top + VisibleRows();
    for (const QItemSelectionRange &range : selection) {
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first > last)
            continue;
        region += QRect(0, (first - top) * RowHeight(), viewport()->width(), (last - first + 1) * RowHeight());
    }
    return region;
}

void LineListView::paintEvent(QPaintEvent *event)
{
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().base());
    if (!model())
        return;
    const int count = RowCount();
    const int top = TopRow();
    const int last = std::min(count - 1, top + VisibleRows());
    const int height = RowHeight();
    const int left = -horizontalOffset() + 2;
    const int baseline = (height + fontMetrics().ascent() - fontMetrics().descent()) / 2;
    const QItemSelectionModel *selection = selectionModel();
    std::vector<DecodedRow> decoded;
    for (int row = top; row <= last; ++row) {
        const QModelIndex index = model()->index(row, 0, rootIndex());
        const QRect rowRect(0, (row - top) * height, viewport()->width(), height);
        const bool selected = selection && selection->isSelected(index);
        if (selected)
            painter.fillRect(rowRect, palette().highlight());
        painter.setPen(selected ? palette().highlightedText().color() : palette().text().color());
        const QByteArray line = index.data(LineListModel::LineBytesRole).toByteArray();
        if (!LineMeasure::IsLong(line)) {
            painter.drawText(left, rowRect.top() + baseline, RowText(index.data(Qt::DisplayRole).toString()));
            continue;
        }
        const auto encoding = static_cast<TextEncoding>(index.data(LineListModel::LineEncodingRole).toInt());
        const DecodedRow &longRow = DecodeLongRow(line, encoding, decoded);
        const LongRowPositions positions(m_measure, longRow.text, longRow.width);
        const qreal from = horizontalOffset() - 2;
        const LongRowPositions::Run run = positions.VisibleRun(from, from + viewport()->width());
        painter.drawText(QPointF(left + run.x, rowRect.top() + baseline), longRow.text.sliced(run.first, run.count));
    }
    m_decodedRows.swap(decoded);
}

const LineListView::DecodedRow &LineListView::DecodeLongRow(const QByteArray &line, TextEncoding encoding,
                                                            std::vector<DecodedRow> &decoded)
{
    const auto same = [&](const DecodedRow &row) { return row.line.isSharedWith(line) && row.encoding == encoding; };
    const auto found = std::find_if(m_decodedRows.begin(), m_decodedRows.end(), same);
    if (found != m_decodedRows.end())
        decoded.push_back(std::move(*found));
    else
        decoded.push_back({line, encoding, RowText(DecodeText(line, encoding)), m_measure.LineWidth(line, encoding)});
    return decoded.back();
}

void LineListView::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::FontChange) {
        m_measure.SetFont(font());
        m_decodedRows.clear();
    }
    QAbstractItemView::changeEvent(event);
}

void LineListView::ScheduleGeometryUpdate()
{
    m_refresh.Request();
}

void LineListView::RefreshAfterChange()
{
    updateGeometries();
    viewport()->update();
}

void LineListView::updateGeometries()
{
    const int count = RowCount();
    const int visible = VisibleRows();
    QScrollBar *vertical = verticalScrollBar();
    vertical->setSingleStep(1);
    vertical->setPageStep(visible);
    vertical->setRange(0, std::max(0, count - visible));

    QScrollBar *horizontal = horizontalScrollBar();
    horizontal->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
    horizontal->setPageStep(std::max(1, viewport()->width()));
    horizontal->setRange(0, std::max(0, m_horizontalExtent - viewport()->width()));
    QAbstractItemView::updateGeometries();
}

void LineListView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void LineListView::rowsInserted(const QModelIndex &parent, int start, int end)
{
    QAbstractItemView::rowsInserted(parent, start, end);
    ScheduleGeometryUpdate();
}
