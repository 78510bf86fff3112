#include "widgets/display_list/line_list_model.h"

#include <algorithm>

LineListModel::LineListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int LineListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Count();
}

QVariant LineListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= Count())
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return LineText(index.row());
    case LineBytesRole:
        return Line(index.row());
    case LineEncodingRole:
        return static_cast<int>(LineEncoding(index.row()));
    default:
        return {};
    }
}

QString LineListModel::LineText(int row) const
{
    const StoredLine &line = m_lines[static_cast<size_t>(row)];
    return DecodeText(line.bytes, line.encoding);
}

int LineListModel::InsertLine(int row, const QByteArray &line, TextEncoding encoding)
{
    if (row == -1)
        row = Count();
    if (row < 0 || row > Count())
        return -1;
    beginInsertRows(QModelIndex(), row, row);
    m_bytes += line.size();
    StoredLine stored{line, encoding};
    if (row == 0)
        m_lines.push_front(std::move(stored));
    else if (row == Count())
        m_lines.push_back(std::move(stored));
    else
        m_lines.insert(m_lines.begin() + row, std::move(stored));
    endInsertRows();
    // The oldest lines are at the other end from where lines come in: the bottom, unless
    // this one was appended.
    const bool fromBottom = row == 0 || row < Count() - 1;
    const int removed = Trim(fromBottom, row);
    if (!fromBottom)
        row -= removed;
    return row;
}

void LineListModel::SetMaxLines(int maxLines)
{
    m_maxLines = std::max(0, maxLines);
    Trim(true, 0);
}

void LineListModel::SetMaxBytes(qint64 maxBytes)
{
    m_maxBytes = std::max<qint64>(0, maxBytes);
    Trim(true, 0);
}

int LineListModel::Trim(bool fromBottom, int keep)
{
    const int count = Count();
    const int removable = std::max(0, fromBottom ? count - 1 - keep : keep);
    int lines = m_maxLines > 0 ? std::clamp(count - m_maxLines, 0, removable) : 0;
    auto lineAt = [&](int removed) -> const QByteArray & {
        return m_lines[static_cast<size_t>(fromBottom ? count - 1 - removed : removed)].bytes;
    };
    qint64 bytesLeft = m_bytes;
    for (int removed = 0; removed < lines; ++removed)
        bytesLeft -= lineAt(removed).size();
    while (m_maxBytes > 0 && bytesLeft > m_maxBytes && lines < removable)
        bytesLeft -= lineAt(lines++).size();
    if (lines <= 0)
        return 0;
    if (fromBottom)
        RemoveRows(count - lines, count - 1);
    else
        RemoveRows(0, lines - 1);
    return lines;
}

void LineListModel::RemoveRows(int first, int last)
{
    beginRemoveRows(QModelIndex(), first, last);
    const auto begin = m_lines.begin() + first;
    const auto end = m_lines.begin() + last + 1;
    for (auto line = begin; line != end; ++line)
        m_bytes -= line->bytes.size();
    m_lines.erase(begin, end);
    endRemoveRows();
}

bool LineListModel::RemoveLine(int row)
{
    if (row < 0 || row >= Count())
        return false;
    RemoveRows(row, row);
    return true;
}

void LineListModel::Clear()
{
    beginResetModel();
    std::deque<StoredLine>().swap(m_lines);
    m_bytes = 0;
    endResetModel();
}

void LineListModel::SetLines(std::deque<QByteArray> lines)
{
    // The top lines stay, within both bounds (the first line at least).
    size_t kept = 0;
    qint64 bytes = 0;
    for (const QByteArray &line : lines) {
        const bool full = m_maxLines > 0 && kept >= static_cast<size_t>(m_maxLines);
        if (full || (kept > 0 && m_maxBytes > 0 && bytes + line.size() > m_maxBytes))
            break;
        bytes += line.size();
        ++kept;
    }
    lines.resize(kept);
    beginResetModel();
    m_lines.clear();
    for (QByteArray &line : lines)
        m_lines.push_back({std::move(line), TextEncoding::Gbk});
    m_bytes = bytes;
    endResetModel();
}
