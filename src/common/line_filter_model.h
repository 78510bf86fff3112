#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QString>

#include <deque>

class LineListModel;

// The lines of a LineListModel whose shown text contains a filter text, case-insensitively,
// in the source's order. Each shown line is kept as a key that inserts at the top and
// removals at the bottom leave unchanged (its distance from the source's bottom plus the
// lines ever removed below it), so under a flood a new line costs one match and the line
// leaving at the bound one pop, however many lines are shown.
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

    // The source row of a shown row, and the shown row of a source row (-1 when not shown).
    int SourceRow(int row) const;
    int RowOf(int sourceRow) const;

private:
    void FollowSource();
    void StopFollowingSource();
    void OnSourceRowsInserted(int first, int last);
    void OnSourceRowsAboutToBeRemoved(int first, int last);
    void OnSourceRowsRemoved(int first, int last);
    void OnSourceReset();
    void MatchAllLines();
    bool Matches(int sourceRow) const;

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
    // Shown rows a source removal under way takes away: [first, end).
    int m_removingFirst = 0;
    int m_removingEnd = 0;
    QList<QMetaObject::Connection> m_sourceConnections;
};
