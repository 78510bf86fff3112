#include "widgets/display_list/line_filter_model.h"

#include <QLatin1StringView>
#include <QVarLengthArray>

#include <algorithm>
#include <functional>

#include "widgets/display_list/line_list_model.h"

namespace {

bool IsAscii(const QByteArray &bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char byte) { return static_cast<uchar>(byte) < 0x80; });
}

}  // namespace

LineFilterModel::LineFilterModel(LineListModel *source, QObject *parent)
    : QAbstractListModel(parent)
    , m_source(source)
{
    m_clock.start();
    m_nextSlice.setSingleShot(true);
    m_nextSlice.setInterval(0);
    connect(&m_nextSlice, &QTimer::timeout, this, [this] { MatchSlice(true); });
}

int LineFilterModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_keys.size());
}

QVariant LineFilterModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int sourceRow = SourceRow(index.row());
    if (sourceRow < 0 || sourceRow >= m_source->Count())
        return {};
    return m_source->data(m_source->index(sourceRow), role);
}

void LineFilterModel::SetFilterText(const QString &text)
{
    if (text == m_text)
        return;
    beginResetModel();
    m_text = text;
    if (m_text.isEmpty()) {
        StopFollowingSource();
        m_nextSlice.stop();
        std::deque<qint64>().swap(m_keys);
        m_matchedTop = 0;
    } else {
        // Every line is matched again, even when the text only grew: the lines shown so
        // far may not all be matched yet, and a slice at a time keeps typing quick anyway.
        FollowSource();
        RestartMatching();
    }
    endResetModel();
}

bool LineFilterModel::IsMatching() const
{
    return !m_text.isEmpty() && m_matchedTop < m_source->Count();
}

void LineFilterModel::MatchRemaining()
{
    // Each slice matches at least one line, so this ends.
    while (IsMatching())
        MatchSlice(true);
    m_nextSlice.stop();
}

int LineFilterModel::SourceRow(int row) const
{
    return SourceRowOfKey(m_keys[static_cast<size_t>(row)]);
}

int LineFilterModel::SourceRowOfKey(qint64 key) const
{
    return m_source->Count() - 1 - static_cast<int>(key - m_removedFromBottom);
}

int LineFilterModel::RowOf(int sourceRow) const
{
    if (sourceRow < 0 || sourceRow >= m_source->Count())
        return -1;
    const qint64 key = KeyOf(sourceRow);
    const int row = FirstRowAtOrBelow(key);
    return row < rowCount() && m_keys[static_cast<size_t>(row)] == key ? row : -1;
}

void LineFilterModel::FollowSource()
{
    // Connected only once a filter is set, so an unfiltered list costs nothing per line. The
    // list's owner connected to the source when it was made, before this: its slots (the
    // widths of new lines) run first, and they are ready when this model passes lines on.
    if (!m_sourceConnections.isEmpty())
        return;
    m_sourceConnections = {
        connect(m_source, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex &, int first, int last) { OnSourceRowsInserted(first, last); }),
        connect(m_source, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                [this](const QModelIndex &, int first, int last) { OnSourceRowsAboutToBeRemoved(first, last); }),
        connect(m_source, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex &, int first, int last) { OnSourceRowsRemoved(first, last); }),
        connect(m_source, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); }),
        connect(m_source, &QAbstractItemModel::modelReset, this, &LineFilterModel::OnSourceReset),
    };
}

void LineFilterModel::StopFollowingSource()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_sourceConnections))
        disconnect(connection);
    m_sourceConnections.clear();
}

void LineFilterModel::OnSourceRowsInserted(int first, int last)
{
    const int added = last - first + 1;
    // The shown rows above the new lines: those above the line that was at `first`.
    const int row = FirstRowAtOrBelow(m_source->Count() - added - 1 - first + m_removedFromBottom);
    ShiftKeys(row, added);
    if (first > m_matchedTop)
        return;  // among the lines still to match: their slice comes
    m_matchedTop += added;
    QVarLengthArray<qint64, 16> matched;
    for (int sourceRow = first; sourceRow <= last; ++sourceRow) {
        if (Matches(sourceRow))
            matched.append(KeyOf(sourceRow));
    }
    if (matched.isEmpty())
        return;
    beginInsertRows(QModelIndex(), row, row + static_cast<int>(matched.size()) - 1);
    m_keys.insert(m_keys.begin() + row, matched.begin(), matched.end());
    endInsertRows();
}

void LineFilterModel::OnSourceRowsAboutToBeRemoved(int first, int last)
{
    // Announced while the source still holds the lines, taken in OnSourceRowsRemoved: the
    // view never meets a row whose line is gone.
    m_removingFirst = FirstRowAtOrBelow(KeyOf(first));
    m_removingEnd = FirstRowAtOrBelow(KeyOf(last) - 1);
    if (m_removingFirst < m_removingEnd)
        beginRemoveRows(QModelIndex(), m_removingFirst, m_removingEnd - 1);
}

void LineFilterModel::OnSourceRowsRemoved(int first, int last)
{
    const bool removesShownRows = m_removingFirst < m_removingEnd;
    m_keys.erase(m_keys.begin() + m_removingFirst, m_keys.begin() + m_removingEnd);
    ShiftKeys(m_removingFirst, -(last - first + 1));
    m_matchedTop -= std::max(0, std::min(last + 1, m_matchedTop) - first);
    m_removingEnd = m_removingFirst;
    if (removesShownRows)
        endRemoveRows();
}

void LineFilterModel::OnSourceReset()
{
    RestartMatching();
    endResetModel();
}

void LineFilterModel::RestartMatching()
{
    m_keys.clear();
    m_removedFromBottom = 0;
    m_matchedTop = 0;
    m_nextSlice.stop();
    MatchSlice(false);
}

void LineFilterModel::MatchSlice(bool announce)
{
    if (m_text.isEmpty())
        return;
    const qint64 start = NowMs();
    QVarLengthArray<qint64, 256> matched;
    const int count = m_source->Count();
    int sourceRow = m_matchedTop;
    // The clock is read every 64 lines, or sooner after long lines: 64 lines of 64 KiB
    // blocks in hex take far longer than a slice to decode and search.
    qsizetype bytesSinceReading = 0;
    for (int lines = 1; sourceRow < count; ++lines) {
        bytesSinceReading += m_source->Line(sourceRow).size();
        if (Matches(sourceRow))
            matched.append(KeyOf(sourceRow));
        ++sourceRow;
        if (m_linesPerSlice > 0) {
            if (lines >= m_linesPerSlice)
                break;
        } else if (lines % 64 == 0 || bytesSinceReading >= kBytesPerClockReading) {
            bytesSinceReading = 0;
            if (NowMs() - start >= kSliceMs)
                break;
        }
    }
    m_matchedTop = sourceRow;
    if (!matched.isEmpty()) {
        // Below every line matched before: the keys fall from the top down.
        const int first = rowCount();
        if (announce)
            beginInsertRows(QModelIndex(), first, first + static_cast<int>(matched.size()) - 1);
        m_keys.insert(m_keys.end(), matched.begin(), matched.end());
        if (announce)
            endInsertRows();
    }
    if (m_matchedTop < m_source->Count())
        m_nextSlice.start();
}

bool LineFilterModel::Matches(int sourceRow) const
{
    // Bytes below 0x80 are the same characters in every encoding a line can have, and
    // Latin-1 bytes are their own characters: such lines, most of them, are searched
    // without the decoder, which would be most of the cost.
    const QByteArray &bytes = m_source->Line(sourceRow);
    if (m_source->LineEncoding(sourceRow) == TextEncoding::Latin1 || IsAscii(bytes))
        return QLatin1StringView(bytes).contains(m_text, Qt::CaseInsensitive);
    return m_source->LineText(sourceRow).contains(m_text, Qt::CaseInsensitive);
}

qint64 LineFilterModel::KeyOf(int sourceRow) const
{
    return m_source->Count() - 1 - sourceRow + m_removedFromBottom;
}

int LineFilterModel::FirstRowAtOrBelow(qint64 key) const
{
    // Keys are distinct whole numbers from the bottom count to the top line's key, so at
    // most (top key - key) rows lie above key's and at most (key - bottom count + 1) at or
    // below it. At the ends, where a flood changes the list, that leaves a step or two.
    const qint64 shown = rowCount();
    const qint64 topKey = m_source->Count() - 1 + m_removedFromBottom;
    const qint64 fewest = std::clamp(shown - (key - m_removedFromBottom + 1), qint64(0), shown);
    const qint64 most = std::clamp(topKey - key, fewest, shown);
    const auto found = std::lower_bound(m_keys.begin() + fewest, m_keys.begin() + most, key, std::greater<>());
    return static_cast<int>(found - m_keys.begin());
}

void LineFilterModel::ShiftKeys(int row, qint64 delta)
{
    const auto split = m_keys.begin() + row;
    if (row <= rowCount() - row) {
        std::for_each(m_keys.begin(), split, [delta](qint64 &key) { key += delta; });
    } else {
        // The bottom count moves instead, so the rows from `row` down keep their lines.
        m_removedFromBottom -= delta;
        std::for_each(split, m_keys.end(), [delta](qint64 &key) { key -= delta; });
    }
}
