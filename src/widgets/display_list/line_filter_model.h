#pragma once

#include <QAbstractListModel>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QTimer>

#include <deque>
#include <functional>

class LineListModel;

// The lines of a LineListModel whose shown text contains a filter text, case-insensitively,
// in the source's order. Each shown line is kept as a key that inserts at the top and
// removals at the bottom leave unchanged (its distance from the source's bottom plus the
// lines ever removed below it), so under a flood a new line costs one match and the line
// leaving at the bound one pop, however many lines are shown.
//
// A new filter text is matched against the lines from the top down a slice at a time (about
// 8 ms each, one per pass of the event loop), the matches appended below those shown so far:
// a full list of long lines that each need decoding takes far longer than a frame, and the
// window must go on meanwhile. New lines above the part matched so far are matched at once;
// lines below it wait for their slice.
class LineFilterModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit LineFilterModel(LineListModel *source, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    // Empty: nothing is shown and the source is not followed.
    void SetFilterText(const QString &text);
    const QString &FilterText() const { return m_text; }

    // The source row of a shown row, and the shown row of a source row (-1 when not shown,
    // or not matched yet).
    int SourceRow(int row) const;
    int RowOf(int sourceRow) const;
    // True while lines wait to be matched against the filter text.
    bool IsMatching() const;
    // Matches every line still waiting, now (for whoever needs all shown lines at once).
    void MatchRemaining();
    // Lines matched per slice instead of the time (tests: 0 goes back to the time).
    void SetLinesPerSlice(int lines) { m_linesPerSlice = lines; }
    // The clock a slice's time is read from, in milliseconds (tests: a clock they move).
    void SetSliceClock(std::function<qint64()> nowMs) { m_sliceClock = std::move(nowMs); }

    static constexpr int kSliceMs = 8;
    static constexpr qsizetype kBytesPerClockReading = 256 * 1024;

private:
    void FollowSource();
    void StopFollowingSource();
    void OnSourceRowsInserted(int first, int last);
    void OnSourceRowsAboutToBeRemoved(int first, int last);
    void OnSourceRowsRemoved(int first, int last);
    void OnSourceReset();
    // Starts matching every line from the top: the first slice now, inside a reset.
    void RestartMatching();
    // Matches the next slice of lines below those matched; the matches are appended (with
    // rows-inserted signals unless announce is false, within a reset).
    void MatchSlice(bool announce);
    bool Matches(int sourceRow) const;
    qint64 NowMs() const { return m_sliceClock ? m_sliceClock() : m_clock.elapsed(); }

    qint64 KeyOf(int sourceRow) const;
    int SourceRowOfKey(qint64 key) const;
    // Index of the first key not above key (keys fall from the top row down).
    int FirstRowAtOrBelow(qint64 key) const;
    // Keeps the keys true after delta lines came (or, below 0, went) in the source just
    // above shown row `row`: the keys of the rows above move by delta or, when those are
    // more, the bottom count moves the other way and with it the keys from `row` down.
    void ShiftKeys(int row, qint64 delta);

    LineListModel *m_source;
    QString m_text;
    std::deque<qint64> m_keys;
    qint64 m_removedFromBottom = 0;
    // The source rows [0, m_matchedTop) have been matched against the text.
    int m_matchedTop = 0;
    int m_linesPerSlice = 0;
    QElapsedTimer m_clock;
    std::function<qint64()> m_sliceClock;
    QTimer m_nextSlice;
    // Shown rows a source removal under way takes away: [first, end).
    int m_removingFirst = 0;
    int m_removingEnd = 0;
    QList<QMetaObject::Connection> m_sourceConnections;
};
