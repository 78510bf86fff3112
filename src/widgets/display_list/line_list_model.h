#pragma once

#include <QAbstractListModel>
#include <QByteArray>

#include <deque>

#include "text/text_encoding.h"

// The lines of a list box, kept as the bytes they were given, each with the encoding it is
// shown in (GBK unless its page chose another). A deque makes inserting at the top as cheap
// at a million lines as at ten; lines are decoded only when shown.
class LineListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    // Roles beside the shown text, for views that lay out long lines without decoding them.
    enum LineRole { LineBytesRole = Qt::UserRole + 1, LineEncodingRole };

    explicit LineListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    int Count() const { return static_cast<int>(m_lines.size()); }
    const QByteArray &Line(int row) const { return m_lines[static_cast<size_t>(row)].bytes; }
    TextEncoding LineEncoding(int row) const { return m_lines[static_cast<size_t>(row)].encoding; }
    // The line as the list shows it.
    QString LineText(int row) const;

    // At most this many lines (0: no bound). Beyond it, inserting removes the line at the
    // other end: the oldest one, at the bottom of a list that grows at the top.
    void SetMaxLines(int maxLines);
    int MaxLines() const { return m_maxLines; }
    // At most this many bytes of lines, counted as the sizes of the stored lines (0: no
    // bound); beyond it, the oldest lines leave as for the line bound. The line just
    // inserted always stays, even when it alone is more.
    void SetMaxBytes(qint64 maxBytes);
    qint64 MaxBytes() const { return m_maxBytes; }
    qint64 StoredBytes() const { return m_bytes; }

    // Inserts before row (-1 or Count() appends); returns the row, or -1 for a bad row.
    int InsertLine(int row, const QByteArray &line, TextEncoding encoding = TextEncoding::Gbk);
    bool RemoveLine(int row);
    void Clear();
    // Replaces every line at once: one reset instead of a signal per line.
    void SetLines(std::deque<QByteArray> lines);

private:
    // Removes lines from one end: as many as the line bound asks for, and then as many as
    // the byte bound asks for, without taking the rows of keep (or beyond it).
    int Trim(bool fromBottom, int keep);
    void RemoveRows(int first, int last);

    struct StoredLine
    {
        QByteArray bytes;
        TextEncoding encoding;
    };
    std::deque<StoredLine> m_lines;
    int m_maxLines = 0;
    qint64 m_maxBytes = 0;
    qint64 m_bytes = 0;
};
